// Whether a server connection still stands, asked of the PostgreSQL client
// library behind Qt's driver.
#include <QSqlDriver>

#include <libpq-fe.h>

#include "journal/Sql.h"

namespace journal::sql {

bool ConnectionLost(const QSqlDatabase& db) {
  if (!IsPostgres(db)) return false;
  if (!db.isOpen()) return true;
  const QVariant handle = db.driver()->handle();
  // Qt names the type by the struct behind libpq's typedef.
  if (!handle.isValid() || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)) {
    return true;
  }
  PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
  return connection == nullptr || PQstatus(connection) != CONNECTION_OK;
}

}  // namespace journal::sql
