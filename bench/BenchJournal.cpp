#include "BenchJournal.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <fstream>
#include <stdexcept>
#include <string>

#include "journal/Journal.h"
#include "journal/PostgresUri.h"
#include "journal/Schema.h"

namespace bench {
namespace {

// A connection of its own to a SQLite file or a server URI, removed again
// with the object (also when a statement throws).
class Connection {
 public:
  Connection(const QString& driver, const QString& uriOrFile) : name_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name_);
    if (driver == QLatin1String("QPSQL")) {
      const auto target = journal::ParsePostgresUri(uriOrFile);
      if (!target) throw std::runtime_error("not a PostgreSQL URI: " + uriOrFile.toStdString());
      db.setHostName(target->host);
      db.setUserName(target->user);
      db.setPassword(target->password);
      db.setDatabaseName(target->dbname);
      db.setConnectOptions(target->ConnectOptions());
    } else {
      db.setDatabaseName(uriOrFile);
    }
    if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
  }
  ~Connection() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

 private:
  QString name_;
};

// Runs statements on a connection of its own, in one transaction unless told
// otherwise; throws on the first failure, so that a benchmark never runs on a
// half-filled journal.
void RunStatements(const QString& driver, const QString& uriOrFile, const QStringList& statements,
                   bool inTransaction = true) {
  const Connection connection(driver, uriOrFile);
  QSqlDatabase db = connection.db();
  QStringList all = statements;
  // The bulk statements run longer than the journal's own bound on a statement.
  if (driver == QLatin1String("QPSQL")) all.prepend(QStringLiteral("SET statement_timeout = 0"));
  if (inTransaction) db.transaction();
  for (const QString& statement : all) {
    QSqlQuery query(db);
    if (!query.exec(statement)) {
      throw std::runtime_error(query.lastError().text().toStdString() + " in " + statement.toStdString());
    }
  }
  if (inTransaction && !db.commit()) throw std::runtime_error(db.lastError().text().toStdString());
}

QString WithSearchPath(const QString& uri, const QString& schema) {
  return uri + (uri.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) +
         QStringLiteral("options=-c%20search_path%3D") + schema;
}

// The cards, their tracks and their number rows; rows is the statement that
// yields i = 1..count in the dialect at hand.
QStringList FillStatements(const QString& rows, const QString& localTime) {
  return {
      QStringLiteral("INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, "
                     "run_kind, card_index) SELECT 1767254400000 + i * 60000, %1, 'bulk', 'COM1', "
                     "'/dev/ttyUSB0', 'continuous', i FROM %2")
          .arg(localTime, rows),
      QStringLiteral("INSERT INTO written_track (card_id, track, card_text) "
                     "SELECT id, 2, CAST(%1 - 1 + id AS TEXT) FROM written_card WHERE station = 'bulk'")
          .arg(kFirstBulkNumber),
      QStringLiteral("INSERT INTO card_number (track, card_text, state, station, card_id, held_local) "
                     "SELECT 2, t.card_text, 'written', 'bulk', c.id, c.written_local "
                     "FROM written_track t JOIN written_card c ON c.id = t.card_id WHERE c.station = 'bulk'"),
  };
}

}  // namespace

QString ServerUri() { return qEnvironmentVariable("CARDSTATION_BENCH_PG_URI"); }

ServerSchema::ServerSchema(const QString& serverUri)
    : server_(serverUri), name_(QStringLiteral("bench_") + QUuid::createUuid().toString(QUuid::Id128)) {
  RunStatements(QStringLiteral("QPSQL"), server_, {QStringLiteral("CREATE SCHEMA ") + name_});
  uri_ = WithSearchPath(server_, name_);
}

ServerSchema::~ServerSchema() {
  try {
    RunStatements(QStringLiteral("QPSQL"), server_,
                  {QStringLiteral("SET client_min_messages TO warning"),
                   QStringLiteral("DROP SCHEMA ") + name_ + QStringLiteral(" CASCADE")});
  } catch (const std::exception&) {
    // A schema left behind on a throw-away server harms nothing.
  }
}

QString FilledServerJournal(const QString& serverUri, int count) {
  const QString schema = QStringLiteral("bench_cards_%1_v%2_trigram").arg(count).arg(journal::kSchemaVersion);
  const QString uri = WithSearchPath(serverUri, schema);
  // The marker table is made in the filling transaction: a schema without it
  // is from a run that was cut off.
  bool filled = false;
  {
    const Connection connection(QStringLiteral("QPSQL"), serverUri);
    QSqlQuery query(connection.db());
    filled = query.exec(QStringLiteral("SELECT to_regclass('%1.bench_filled') IS NOT NULL").arg(schema)) &&
             query.next() && query.value(0).toBool();
  }
  if (filled) return uri;
  RunStatements(
      QStringLiteral("QPSQL"), serverUri,
      {QStringLiteral("SET client_min_messages TO warning"),
       QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(schema), QStringLiteral("CREATE SCHEMA %1").arg(schema)});
  journal::Journal::OpenPostgres(uri)->CheckConnection();  // creates the tables
  QStringList statements =
      FillStatements(QStringLiteral("generate_series(CAST(1 AS BIGINT), %1) AS n(i)").arg(count),
                     QStringLiteral("to_char(to_timestamp(1767254400 + i * 60) AT TIME ZONE 'UTC', "
                                    "'YYYY-MM-DD HH24:MI:SS')"));
  statements << QStringLiteral("CREATE TABLE bench_filled ()");
  RunStatements(QStringLiteral("QPSQL"), uri, statements);
  // Vacuumed and with fresh statistics, as the server's autovacuum keeps a
  // table in use; otherwise it would set about the million new rows in the
  // middle of the first benchmark.
  RunStatements(QStringLiteral("QPSQL"), uri, {QStringLiteral("VACUUM ANALYZE")}, false);
  return uri;
}

long long FreshNumbers() { return 100000000LL + QRandomGenerator::global()->bounded(800) * 1000000LL; }

void CopyFilledSqliteJournal(const QString& target, int count) {
  const QString cached =
      QStringLiteral(BENCH_CACHE_DIR "/journal-%1-cards-v%2-trigram.db").arg(count).arg(journal::kSchemaVersion);
  if (!QFile::exists(cached)) {
    const QString part = cached + QStringLiteral(".part");
    QFile::remove(part);
    journal::Journal::OpenSqlite(part);  // creates the schema, then closes
    QStringList statements =
        FillStatements(QStringLiteral("(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                      "SELECT i FROM n)")
                           .arg(count),
                       QStringLiteral("strftime('%Y-%m-%d %H:%M:%S', 1767254400 + i * 60, 'unixepoch')"));
    // No ANALYZE: the station never runs it, so its files have no statistics.
    RunStatements(QStringLiteral("QSQLITE"), part, statements);
    {
      // Into the trigram index, as the station's records would have put them.
      const Connection connection(QStringLiteral("QSQLITE"), part);
      QSqlDatabase db = connection.db();
      journal::CatchUpSearchIndex(db);
    }
    if (!QFile::rename(part, cached)) throw std::runtime_error("cannot keep " + cached.toStdString());
  }
  QFile::remove(target);
  if (!QFile::copy(cached, target)) throw std::runtime_error("cannot copy " + cached.toStdString());
  QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

void RunOnJournal(const QString& uriOrFile, const QStringList& statements) {
  const bool server = journal::ParsePostgresUri(uriOrFile).has_value();
  RunStatements(server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), uriOrFile, statements);
}

long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace bench
