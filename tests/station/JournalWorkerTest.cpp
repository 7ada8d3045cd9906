// The journal's thread: jobs run there in order, results and exceptions come
// back, and the caller's event loop runs while it waits.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "station/JournalWorker.h"

namespace {

TEST(JournalWorker, RunsJobsOnItsOwnThreadInOrderAndHandsBackResultsAndErrors) {
  station::JournalWorker worker;
  std::vector<int> order;  // touched by the worker only, then read after a call
  worker.Post([&order] { order.push_back(1); });
  worker.Post([&order] { order.push_back(2); });
  const std::thread::id caller = std::this_thread::get_id();
  const std::thread::id ran = worker.Call([] { return std::this_thread::get_id(); });
  EXPECT_NE(ran, caller);
  worker.Call([&order] { order.push_back(3); });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(worker.Call([] { return std::string("card"); }), "card");
  EXPECT_THROW(worker.Call([]() -> int { throw std::runtime_error("locked"); }), std::runtime_error);
  EXPECT_EQ(worker.Call([] { return 7; }), 7) << "the worker goes on after an exception";
}

// The job finishes only once the caller's event loop has run a queued call,
// as a paint or an accessibility read would be: a caller that blocked would
// never let it finish (the bound turns that into a failure, not a hang).
TEST(JournalWorker, TheCallersEventLoopRunsWhileItWaits) {
  station::JournalWorker worker;
  QObject context;
  std::mutex mutex;
  std::condition_variable served;
  bool ran = false;
  QMetaObject::invokeMethod(
      &context,
      [&] {
        const std::lock_guard<std::mutex> lock(mutex);
        ran = true;
        served.notify_one();
      },
      Qt::QueuedConnection);
  const bool sawIt = worker.Call([&] {
    std::unique_lock<std::mutex> lock(mutex);
    return served.wait_for(lock, std::chrono::seconds(10), [&] { return ran; });
  });
  EXPECT_TRUE(sawIt);
}

}  // namespace
