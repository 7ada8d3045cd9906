#include "journal/Sql.h"

#include <QSqlError>

#include "journal/Journal.h"

namespace journal::sql {
namespace {

[[noreturn]] void Fail(const QString& what, const QSqlError& error) {
  throw JournalError((what + QStringLiteral(": ") + error.text()).toStdString());
}

}  // namespace

bool IsPostgres(const QSqlDatabase& db) { return db.driverName().startsWith(QLatin1String("QPSQL")); }

QSqlQuery Exec(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  // A server may refuse to prepare schema statements; those carry no values.
  if (values.isEmpty()) {
    if (!query.exec(text)) Fail(text, query.lastError());
    return query;
  }
  if (!query.prepare(text)) Fail(text, query.lastError());
  for (const QVariant& value : values) query.addBindValue(value);
  if (!query.exec()) Fail(text, query.lastError());
  return query;
}

Transaction::Transaction(QSqlDatabase& db) : db_(db) {
  if (!db_.transaction()) Fail(QStringLiteral("Cannot begin a transaction"), db_.lastError());
  open_ = true;
}

Transaction::~Transaction() {
  if (open_) db_.rollback();
}

void Transaction::Commit() {
  if (!db_.commit()) {
    const QSqlError error = db_.lastError();
    // A commit that failed may leave the transaction open; the destructor ends it.
    Fail(QStringLiteral("Cannot commit"), error);
  }
  open_ = false;
}

}  // namespace journal::sql
