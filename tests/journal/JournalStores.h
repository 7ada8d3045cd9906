#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>

#include "journal/Journal.h"
#include "journal/PostgresUri.h"

namespace journal {

enum class Backend { sqlite, postgres };

// The test server's URI: CARDSTATION_TEST_PG_URI when it is set (scripts/test
// runs one server for the whole suite), else the server that ctest's fixture
// started for this build folder; empty when there is neither.
inline QString TestServerUri() {
  const QString given = qEnvironmentVariable("CARDSTATION_TEST_PG_URI");
  if (!given.isEmpty()) return given;
  QFile file(QStringLiteral(PG_TEST_URI_FILE));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).trimmed();
}

// Adds a parameter to a URI that may or may not have a query already.
inline QString WithParameter(const QString& uri, const QString& parameter) {
  return uri + (uri.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + parameter;
}

// A connection of the test's own to the server of uri, for set-up and checks.
class RawServer {
 public:
  explicit RawServer(const QString& uri) : name_(QUuid::createUuid().toString()) {
    const auto target = ParsePostgresUri(uri);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    db.setHostName(target->host);
    db.setUserName(target->user);
    db.setDatabaseName(target->dbname);
    db.setConnectOptions(target->ConnectOptions());
    if (!db.open()) ADD_FAILURE() << db.lastError().text().toStdString();
    // Dropping a test's schema lists every table otherwise.
    QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO warning"));
  }
  ~RawServer() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  QSqlDatabase Db() const { return QSqlDatabase::database(name_, false); }

 private:
  QString name_;
};

// Each test gets an empty journal: a file in a folder of its own, or a schema
// of its own on the test server, dropped at the end.
class JournalOn : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    if (GetParam() == Backend::sqlite) return;
    if (TestServerUri().isEmpty()) GTEST_SKIP() << "CARDSTATION_TEST_PG_URI is not set: no PostgreSQL server";
    schema_ = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
    server_ = std::make_unique<RawServer>(TestServerUri());
    Execute(QStringLiteral("CREATE SCHEMA ") + schema_);
  }
  void TearDown() override {
    if (server_) Execute(QStringLiteral("DROP SCHEMA ") + schema_ + QStringLiteral(" CASCADE"));
  }

  // The [Journal] Database setting for this test's journal.
  QString Setting() const {
    if (GetParam() == Backend::sqlite) return {};
    return WithParameter(TestServerUri(), QStringLiteral("options=-c%20search_path%3D") + schema_);
  }
  std::unique_ptr<Journal> Open() const {
    return Journal::Open(Setting(), dir_.filePath(QString::fromLatin1(kDatabaseFileName)));
  }
  // A statement on the journal's store, outside the program (the journal
  // must have been opened once).
  void OnStore(const QString& statement) {
    if (server_) {
      Execute(QStringLiteral("SET search_path TO ") + schema_);
      return Execute(statement);
    }
    const QString name = QUuid::createUuid().toString();
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
      db.setDatabaseName(dir_.filePath(QString::fromLatin1(kDatabaseFileName)));
      EXPECT_TRUE(db.open());
      QSqlQuery query(db);
      EXPECT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(name);
  }

 private:
  void Execute(const QString& statement) {
    QSqlQuery query(server_->Db());
    EXPECT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
  }

  QTemporaryDir dir_;
  QString schema_;
  std::unique_ptr<RawServer> server_;
};

// A server of the test's own, so that stopping it disturbs no other test.
class PrivateServer {
 public:
  PrivateServer() { EXPECT_TRUE(Run(QStringLiteral("start"))); }
  ~PrivateServer() { Run(QStringLiteral("stop")); }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  bool Run(const QString& action) {
    QProcess script;
    script.start(QStringLiteral(PG_TEST_SERVER), {action, dir_.path()});
    if (!script.waitForFinished(60000) || script.exitCode() != 0) {
      ADD_FAILURE() << action.toStdString() << ": " << script.readAllStandardError().toStdString();
      return false;
    }
    if (action == QLatin1String("start")) uri_ = QString::fromUtf8(script.readAllStandardOutput()).trimmed();
    return true;
  }
  const QString& Uri() const { return uri_; }

  // Sends sig (SIGSTOP, SIGCONT) to the server and every process it started,
  // as a server host that froze would look from outside.
  bool Signal(int sig) {
    QFile pidFile(dir_.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly)) return false;
    const qint64 server = QString::fromLatin1(pidFile.readLine()).trimmed().toLongLong();
    if (server <= 0 || ::kill(static_cast<pid_t>(server), sig) != 0) return false;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
      if (!stat.open(QIODevice::ReadOnly)) continue;
      // pid (name) state ppid ...: the name may hold blanks, the ')' ends it.
      const QByteArray line = stat.readAll();
      const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
      if (rest.size() > 1 && rest[1].toLongLong() == server) ::kill(entry.toInt(), sig);
    }
    return true;
  }

 private:
  QTemporaryDir dir_;
  QString uri_;
};

}  // namespace journal
