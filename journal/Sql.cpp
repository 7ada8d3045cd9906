#include "journal/Sql.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>

#include "journal/Journal.h"

namespace journal::sql {
namespace {

// Connection failures (class 08) and a server shutting down or restarting.
bool IsConnectionState(const QString& sqlState) {
  return sqlState.startsWith(QLatin1String("08")) || sqlState.startsWith(QLatin1String("57P0"));
}

[[noreturn]] void Fail(const QSqlDatabase& db, const QString& what, const QSqlError& error) {
  if (IsPostgres(db) && (ConnectionLost(db) || IsConnectionState(error.nativeErrorCode()))) {
    const QString reason = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    throw JournalUnreachable(reason.simplified());
  }
  throw JournalError((what + QStringLiteral(": ") + error.text()).toStdString(), FaultOf(db, error));
}

// The statement with each ? placeholder replaced by its value written out by
// the driver. Qt's PostgreSQL driver runs a statement with bound values as
// three (PREPARE, EXECUTE with the values written out by this same function,
// DEALLOCATE), three round trips to the server; written into the statement
// itself, the values take one. A ? inside a quoted literal or name is text.
QString WithValuesWritten(const QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QString written;
  written.reserve(text.size() + 16 * values.size());
  qsizetype next = 0;
  QChar quote;
  for (const QChar c : text) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      written += c;
    } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
      quote = c;
      written += c;
    } else if (c == QLatin1Char('?')) {
      if (next == values.size()) {
        ++next;  // more placeholders than values
        break;
      }
      const QVariant& value = values[next++];
      QSqlField field(QString(), value.metaType());
      if (value.isNull()) {
        field.clear();
      } else {
        field.setValue(value);
      }
      written += db.driver()->formatValue(field);
    } else {
      written += c;
    }
  }
  if (next != values.size()) {
    throw JournalError(("A statement's values do not match its placeholders: " + text).toStdString());
  }
  return written;
}

}  // namespace

JournalFault FaultOf(const QSqlDatabase& db, const QSqlError& error) {
  if (IsPostgres(db)) {
    const QString state = error.nativeErrorCode();
    // SQLSTATE 42P01: a table is missing.
    if (state == QLatin1String("42P01")) return JournalFault::damaged;
    // A lock another session holds past lock_timeout, or a statement it kept
    // waiting past statement_timeout.
    if (state == QLatin1String("55P03") || state == QLatin1String("57014")) return JournalFault::busy;
    return JournalFault::failed;
  }
  // SQLite's primary result codes; the extended ones carry them in the low byte.
  bool ok = false;
  const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
  if (!ok) return JournalFault::failed;
  switch (code) {
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
      return JournalFault::busy;
    case 8:  // SQLITE_READONLY
      return JournalFault::readOnly;
    case 13:  // SQLITE_FULL
      return JournalFault::diskFull;
    case 14:  // SQLITE_CANTOPEN
      return JournalFault::cannotOpen;
    case 11:  // SQLITE_CORRUPT
    case 26:  // SQLITE_NOTADB
      return JournalFault::damaged;
    case 1:  // SQLITE_ERROR: a table or column the statement names is missing
      return error.databaseText().startsWith(QLatin1String("no such")) ? JournalFault::damaged : JournalFault::failed;
    default: return JournalFault::failed;
  }
}

bool IsPostgres(const QSqlDatabase& db) { return db.driverName().startsWith(QLatin1String("QPSQL")); }

QSqlQuery Exec(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  // A server may refuse to prepare schema statements; those carry no values.
  if (values.isEmpty()) {
    if (!query.exec(text)) Fail(db, text, query.lastError());
    return query;
  }
  if (IsPostgres(db)) {
    if (!query.exec(WithValuesWritten(db, text, values))) Fail(db, text, query.lastError());
    return query;
  }
  if (!query.prepare(text)) Fail(db, text, query.lastError());
  for (const QVariant& value : values) query.addBindValue(value);
  if (!query.exec()) Fail(db, text, query.lastError());
  return query;
}

qint64 InsertedId(QSqlDatabase& db, const QString& text, const QVariantList& values, const char* what) {
  QSqlQuery insert = Exec(db, text, values);
  if (!insert.next()) throw JournalError(std::string("The journal gave no id for ") + what);
  const qint64 id = insert.value(0).toLongLong();
  insert.finish();
  return id;
}

Transaction::Transaction(QSqlDatabase& db) : db_(db) {
  if (IsPostgres(db_)) {
    if (!db_.transaction()) Fail(db_, QStringLiteral("Cannot begin a transaction"), db_.lastError());
  } else {
    // The driver ends it with its own COMMIT or ROLLBACK.
    Exec(db_, QStringLiteral("BEGIN IMMEDIATE"));
  }
  open_ = true;
}

Transaction::~Transaction() {
  if (open_) db_.rollback();
}

void Transaction::Commit() {
  if (!db_.commit()) {
    const QSqlError error = db_.lastError();
    // A commit that failed may leave the transaction open; the destructor ends it.
    Fail(db_, QStringLiteral("Cannot commit"), error);
  }
  open_ = false;
}

}  // namespace journal::sql
