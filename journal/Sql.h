#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>


// The few helpers every journal statement goes through, so that a failure
// always carries the driver's reason and the statement.
namespace journal::sql {

bool IsPostgres(const QSqlDatabase& db);

// Runs text with values bound in order; throws JournalError on failure.
QSqlQuery Exec(QSqlDatabase& db, const QString& text, const QVariantList& values = {});

// Commits on Commit(), rolls back otherwise; throws JournalError when either
// fails. Rolling back never hides the first error.
class Transaction {
 public:
  explicit Transaction(QSqlDatabase& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  QSqlDatabase& db_;
  bool open_ = false;
};

}  // namespace journal::sql
