// Whether a server connection still stands, and the client-side bounds of a
// server call, asked of the PostgreSQL client library behind Qt's driver.
// On Linux the library is loaded on first use, as Qt's driver loads it: a
// station on a local journal never maps it nor the TLS and Kerberos libraries
// it brings, which made up a third of the libraries loaded at every start.
#include <QLibrary>
#include <QSqlDriver>

#include <libpq-fe.h>

#include <optional>

#include "journal/CallWatch.h"
#include "journal/LoadedOnUse.h"
#include "journal/Sql.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace journal::sql {
namespace {

// The client library's calls this file makes.
struct LibPq {
  decltype(&::PQstatus) status = nullptr;
  decltype(&::PQsocket) socket = nullptr;
  decltype(&::PQconnectStart) connectStart = nullptr;
  decltype(&::PQconnectPoll) connectPoll = nullptr;
  decltype(&::PQerrorMessage) errorMessage = nullptr;
  decltype(&::PQfinish) finish = nullptr;
};

#ifdef _WIN32
// Linked into the program.
const LibPq* Pq() {
  static const LibPq linked{&::PQstatus,      &::PQsocket,       &::PQconnectStart,
                            &::PQconnectPoll, &::PQerrorMessage, &::PQfinish};
  return &linked;
}
#else
std::optional<LibPq> LoadPq() {
  // Stays loaded for the rest of the run: QLibrary unloads only when asked.
  QLibrary library(QStringLiteral("pq"), 5);
  LibPq pq;
  if (!Resolve(library, "PQstatus", pq.status) || !Resolve(library, "PQsocket", pq.socket) ||
      !Resolve(library, "PQconnectStart", pq.connectStart) || !Resolve(library, "PQconnectPoll", pq.connectPoll) ||
      !Resolve(library, "PQerrorMessage", pq.errorMessage) || !Resolve(library, "PQfinish", pq.finish)) {
    return std::nullopt;
  }
  return pq;
}

// Null when the library is not installed (nor, then, Qt's driver over it).
const LibPq* Pq() { return LoadedOnce<LibPq, LoadPq>(); }
#endif

PGconn* ConnectionOf(const QSqlDatabase& db) {
  if (!IsPostgres(db) || !db.isOpen()) return nullptr;
  const QVariant handle = db.driver()->handle();
  // Qt names the type by the struct behind libpq's typedef.
  if (!handle.isValid() ||
      (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)) {
    return nullptr;
  }
  return *static_cast<PGconn* const*>(handle.constData());
}

#ifdef _WIN32
void ShutDownSocket(int socket) { ::shutdown(static_cast<SOCKET>(socket), SD_BOTH); }
bool WaitForSocket(int socket, bool forReading, int ms) {
  WSAPOLLFD item{static_cast<SOCKET>(socket), static_cast<SHORT>(forReading ? POLLRDNORM : POLLWRNORM), 0};
  return ::WSAPoll(&item, 1, ms) > 0;
}
#else
void ShutDownSocket(int socket) { ::shutdown(socket, SHUT_RDWR); }
bool WaitForSocket(int socket, bool forReading, int ms) {
  pollfd item{socket, static_cast<short>(forReading ? POLLIN : POLLOUT), 0};
  return ::poll(&item, 1, ms) > 0;
}
#endif

}  // namespace

bool ConnectionLost(const QSqlDatabase& db) {
  if (!IsPostgres(db)) return false;
  PGconn* connection = ConnectionOf(db);
  return connection == nullptr || Pq() == nullptr || Pq()->status(connection) != CONNECTION_OK;
}

CallWatch::CallWatch(std::chrono::milliseconds bound) : bound_(bound), thread_([this] { Run(); }) {}

CallWatch::~CallWatch() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

CallWatch::Guard CallWatch::Watch(const QSqlDatabase& db) {
  PGconn* connection = ConnectionOf(db);
  const int socket = connection != nullptr && Pq() != nullptr ? Pq()->socket(connection) : -1;
  {
    const std::lock_guard lock(mutex_);
    if (armed_) return Guard(nullptr);
    if (socket < 0) return Guard(nullptr);
    armed_ = true;
    socket_ = socket;
    deadline_ = std::chrono::steady_clock::now() + bound_;
  }
  wake_.notify_all();
  return Guard(this);
}

bool CallWatch::TakeCut() {
  const std::lock_guard lock(mutex_);
  return std::exchange(cut_, false);
}

void CallWatch::Disarm() {
  {
    const std::lock_guard lock(mutex_);
    armed_ = false;
    deadline_.reset();
  }
  wake_.notify_all();
}

void CallWatch::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (!deadline_) {
      wake_.wait(lock);
      continue;
    }
    if (wake_.wait_until(lock, *deadline_) == std::cv_status::timeout && deadline_ &&
        std::chrono::steady_clock::now() >= *deadline_) {
      // The socket stays open (libpq closes it); shut down, the blocked call
      // on the main thread returns at once.
      ShutDownSocket(socket_);
      cut_ = true;
      deadline_.reset();
    }
  }
}

std::optional<QString> ServerUnreachableWithin(const QString& conninfo, std::chrono::milliseconds bound) {
  const LibPq* pq = Pq();
  if (pq == nullptr) return QStringLiteral("the PostgreSQL client library (libpq.so.5) is not installed");
  const QByteArray info = conninfo.toUtf8();
  PGconn* connection = pq->connectStart(info.constData());
  if (connection == nullptr) return QStringLiteral("out of memory");
  const auto deadline = std::chrono::steady_clock::now() + bound;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  std::optional<QString> reason;
  while (true) {
    if (pq->status(connection) == CONNECTION_BAD || state == PGRES_POLLING_FAILED) {
      reason = QString::fromUtf8(pq->errorMessage(connection)).simplified();
      break;
    }
    if (state == PGRES_POLLING_OK) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 ||
        !WaitForSocket(pq->socket(connection), state == PGRES_POLLING_READING, static_cast<int>(left.count()))) {
      reason = QStringLiteral("timeout expired");
      break;
    }
    state = pq->connectPoll(connection);
  }
  pq->finish(connection);
  return reason;
}

}  // namespace journal::sql
