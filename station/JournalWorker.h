#pragma once

#include <QEventLoop>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace station {

// The thread the card journal lives on. A database connection belongs to the
// thread that made it, so the journal is opened, used and closed here only,
// one job at a time, in the order the jobs were given.
//
// Threads: Post and Call from the main thread only; the jobs run on the
// worker. The destructor runs what is still queued and joins the thread.
class JournalWorker {
 public:
  // On Windows the jobs run on the calling thread for now: there the worker
  // thread crashed inside Qt during the first card under Wine, a fault not
  // yet understood, so the journal's waits still hold the window there.
#ifdef _WIN32
  static constexpr bool kOwnThread = false;
#else
  static constexpr bool kOwnThread = true;
#endif

  JournalWorker();
  ~JournalWorker();
  JournalWorker(const JournalWorker&) = delete;
  JournalWorker& operator=(const JournalWorker&) = delete;

  // Queues a job and returns at once.
  void Post(std::function<void()> job);

  // Runs job on the worker and returns its result, or throws what it threw.
  // Meanwhile the calling thread's event loop keeps running (paints,
  // accessibility reads, timers): whoever feeds events to code that must not
  // run twice at once holds them for the length of the call. Each job ends
  // within the journal's own bounds, so the call does too.
  template <typename Job>
  std::invoke_result_t<Job&> Call(Job&& job);

 private:
  // One call's completion, seen by both threads.
  struct Ticket {
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::exception_ptr error;
    QEventLoop* loop = nullptr;
  };
  // Worker side: wakes the waiting loop, then marks the ticket done.
  static void Finish(Ticket& ticket);
  // Main side: runs the event loop until the job is done.
  static void Await(Ticket& ticket, QEventLoop& loop);
  void Run();

  std::mutex mutex_;
  std::condition_variable jobsChanged_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

template <typename Job>
std::invoke_result_t<Job&> JournalWorker::Call(Job&& job) {
  using Result = std::invoke_result_t<Job&>;
  if constexpr (!kOwnThread) return job();
  // The loop and the result live on this stack until the job has finished
  // with them; the ticket is shared, since the worker still signals it.
  QEventLoop loop;
  const auto ticket = std::make_shared<Ticket>();
  ticket->loop = &loop;
  if constexpr (std::is_void_v<Result>) {
    Post([&job, ticket] {
      try {
        job();
      } catch (...) {
        ticket->error = std::current_exception();
      }
      Finish(*ticket);
    });
    Await(*ticket, loop);
    if (ticket->error) std::rethrow_exception(ticket->error);
  } else {
    std::optional<Result> result;
    Post([&job, ticket, &result] {
      try {
        result.emplace(job());
      } catch (...) {
        ticket->error = std::current_exception();
      }
      Finish(*ticket);
    });
    Await(*ticket, loop);
    if (ticket->error) std::rethrow_exception(ticket->error);
    return std::move(*result);
  }
}

}  // namespace station
