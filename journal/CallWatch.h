#pragma once

#include <QSqlDatabase>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace journal::sql {

// Bounds every server call from the client's side. The server's own timeouts
// end a statement or a lock wait, but a server that stops answering (frozen,
// or its host gone) answers no timeout either: then the watch thread shuts the
// connection's socket down when the bound has passed, the blocked call returns
// with a broken connection, and the journal reports the server away.
class CallWatch {
 public:
  explicit CallWatch(std::chrono::milliseconds bound);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // Ends the watch of one call when it goes.
  class Guard {
   public:
    explicit Guard(CallWatch* watch) : watch_(watch) {}
    ~Guard() {
      if (watch_ != nullptr) watch_->Disarm();
    }
    Guard(Guard&& other) noexcept : watch_(std::exchange(other.watch_, nullptr)) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;

   private:
    CallWatch* watch_;
  };

  // Watches db's connection until the guard goes; a guard of nothing when db
  // is no open server connection. Calls do not nest: the outer one is watched.
  [[nodiscard]] Guard Watch(const QSqlDatabase& db);
  // Whether a watched call was cut since the last ask.
  bool TakeCut();

 private:
  void Disarm();
  void Run();

  const std::chrono::milliseconds bound_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  int socket_ = -1;
  bool armed_ = false;
  bool cut_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: started once the state above exists
};

// Tries to reach the server of conninfo (libpq's key=value form) within
// bound, without blocking longer; the reason when it cannot. A host that
// accepts and never answers would otherwise hold a connect for libpq's
// timeout once per address and protocol it tries.
std::optional<QString> ServerUnreachableWithin(const QString& conninfo, std::chrono::milliseconds bound);

}  // namespace journal::sql
