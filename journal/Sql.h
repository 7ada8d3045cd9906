#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include "journal/Journal.h"

class QSqlError;

// The few helpers every journal statement goes through, so that a failure
// always carries the driver's reason and the statement, and a connection to a
// server that went away is told apart from a statement that failed.
namespace journal::sql {

bool IsPostgres(const QSqlDatabase& db);

// The kind of a failure that is not a lost connection, from the driver's own
// error code where it has one.
JournalFault FaultOf(const QSqlDatabase& db, const QSqlError& error);

// True when db is a server connection that is closed or that the client
// library has found broken; such a connection must be opened again.
bool ConnectionLost(const QSqlDatabase& db);

// Runs text with values bound in order; throws JournalUnreachable when the
// connection is lost, JournalError on any other failure.
QSqlQuery Exec(QSqlDatabase& db, const QString& text, const QVariantList& values = {});

// Runs an INSERT … RETURNING id and gives the new row's id; what names the
// row for the error when none came back.
qint64 InsertedId(QSqlDatabase& db, const QString& text, const QVariantList& values, const char* what);

// Commits on Commit(), rolls back otherwise; throws as Exec does when either
// fails. Rolling back never hides the first error. On SQLite the transaction
// takes the write lock at once, so two processes that read before they write
// never deadlock on the upgrade from reading to writing.
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
