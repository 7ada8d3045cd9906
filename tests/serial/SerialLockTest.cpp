// The input ring's re-entrant lock.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/SerialLock.h"

namespace {

bool TryFromOtherThread(TSerReentrantLock& lock) {
  return std::async(std::launch::async,
                    [&] {
                      if (!lock.try_lock()) return false;
                      lock.unlock();
                      return true;
                    })
      .get();
}

TEST(SerialLock, HeldUntilTheOutermostUnlock) {
  TSerReentrantLock lock;
  lock.lock();
  lock.lock();
  EXPECT_TRUE(lock.try_lock());  // the holder again
  EXPECT_FALSE(TryFromOtherThread(lock));
  lock.unlock();
  lock.unlock();
  EXPECT_FALSE(TryFromOtherThread(lock));
  lock.unlock();
  EXPECT_TRUE(TryFromOtherThread(lock));
}

TEST(SerialLock, ExcludesOtherThreadsAndWakesThoseWaiting) {
  TSerReentrantLock lock;
  long counter = 0;  // plain: a missing exclusion loses counts (and ThreadSanitizer reports it)
  std::atomic<bool> go{false};
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  // Held while the others start, so that some of them go to sleep on it.
  lock.lock();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard outer(lock);
        std::lock_guard inner(lock);
        ++counter;
      }
    });
  }
  go.store(true);
  ++counter;
  lock.unlock();
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 1L + kThreads * kRounds);
}

}  // namespace
