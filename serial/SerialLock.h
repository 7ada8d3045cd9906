#pragma once
// A re-entrant lock for the input ring, which a notification handler takes once
// for every byte it reads.
//
// A std::recursive_mutex costs two atomic read-modify-write operations for each
// uncontended lock and unlock; this lock costs one (the unlock is a plain release
// store). A thread that finds it held sleeps in the operating system's wait on the
// lock word until the holder lets go, so a long hold costs no CPU. Any thread may
// use it; it meets the standard library's Lockable requirements, so std::lock_guard
// and std::unique_lock work with it.

#include <atomic>
#include <cstdint>

class TSerReentrantLock {
 public:
  TSerReentrantLock() = default;
  TSerReentrantLock(const TSerReentrantLock&) = delete;
  TSerReentrantLock& operator=(const TSerReentrantLock&) = delete;

  void lock() {
    const uint32_t me = CallerId();
    // Only this thread can have stored its own id, so a relaxed look suffices.
    if (Owner_.load(std::memory_order_relaxed) == me) {
      ++Depth_;
      return;
    }
    if (!TakeFree(me)) {
      std::unique_lock sleep(SleepMutex_);
      Waiting_.fetch_add(1, std::memory_order_seq_cst);
      Freed_.wait(sleep, [&] { return TakeFree(me); });
      Waiting_.fetch_sub(1, std::memory_order_relaxed);
    }
    Depth_ = 1;
  }

  bool try_lock() {
    const uint32_t me = CallerId();
    if (Owner_.load(std::memory_order_relaxed) == me) {
      ++Depth_;
      return true;
    }
    if (!TakeFree(me)) return false;
    Depth_ = 1;
    return true;
  }

  // Only by the holder.
  void unlock() {
    if (--Depth_ != 0) return;
    Owner_.store(0, std::memory_order_seq_cst);
    // A waiter registers, then tries once more, under the sleep mutex, before it
    // sleeps; the sequentially consistent store and load here and its increment
    // order themselves so that either it sees the lock free or this sees it
    // waiting. Taking the mutex before the wake-up means the waiter is asleep
    // (or has not yet looked) by then, so the wake-up cannot fall between.
    if (Waiting_.load(std::memory_order_seq_cst) != 0) {
      { std::lock_guard sleeping(SleepMutex_); }
      Freed_.notify_all();
    }
  }

 private:
  // Sequentially consistent, so that a waiter's last try is ordered against
  // the holder's release as unlock() relies on.
  bool TakeFree(uint32_t me) {
    uint32_t free = 0;
    return Owner_.compare_exchange_strong(free, me, std::memory_order_seq_cst);
  }

  // A small non-zero number per thread, fixed for the thread's life.
  static uint32_t CallerId() {
    static std::atomic<uint32_t> next{1};
    thread_local const uint32_t id = next.fetch_add(1, std::memory_order_relaxed);
    return id;
  }

  std::atomic<uint32_t> Owner_{0};    // 0 free, else the holder's CallerId
  std::atomic<uint32_t> Waiting_{0};  // threads inside lock() that found it held
  uint32_t Depth_ = 0;                // holder only
  std::mutex SleepMutex_;             // guards the sleep, not the lock word
  std::condition_variable Freed_;
};
