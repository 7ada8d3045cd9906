// Builds without the PostgreSQL client library (Windows) keep the journal in
// SQLite only; a server connection, should one be made at all, is judged by
// whether it is open.
#include "journal/Sql.h"

namespace journal::sql {

bool ConnectionLost(const QSqlDatabase& db) { return IsPostgres(db) && !db.isOpen(); }

}  // namespace journal::sql
