// The delivery thread announces bytes while the main thread takes them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "TestDevice.h"
#include "serial/Dispatcher.h"

namespace {

// Hands each notification to the "main thread" (the test's own thread) and
// waits until it has been handled, as the component's window does.
class TQueuedLink : public TSerMainThreadLink {
 public:
  std::function<void(uint16_t msg, uint16_t wParam)> OnMessage;

  bool SendNotification(TSerWindowHandle, uint16_t msg, uint16_t wParam, int32_t,
                        std::chrono::milliseconds timeout) override {
    auto done = std::make_shared<bool>(false);
    {
      std::lock_guard<std::mutex> lock(Mutex_);
      Queue_.push_back([this, msg, wParam, done] {
        OnMessage(msg, wParam);
        std::lock_guard<std::mutex> l(Mutex_);
        *done = true;
      });
    }
    Changed_.notify_all();
    std::unique_lock<std::mutex> lock(Mutex_);
    return Changed_.wait_for(lock, timeout, [&] { return *done; });
  }
  void PostNotification(TSerWindowHandle, uint16_t, uint16_t, int32_t) override {}
  void ProcessOneMessage() override {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(Mutex_);
      if (!Changed_.wait_for(lock, std::chrono::milliseconds(10), [&] { return !Queue_.empty(); })) return;
      job = std::move(Queue_.front());
      Queue_.pop_front();
    }
    job();
    Changed_.notify_all();
  }
  void Synchronize(const std::function<void()>& fn) override { fn(); }

 private:
  std::mutex Mutex_;
  std::condition_variable Changed_;
  std::deque<std::function<void()>> Queue_;
};

TEST(DeliveryThread, BytesTakenOnTheMainThreadArriveWholeAndInOrder) {
  TTestDevice dev;
  TQueuedLink link;
  dev.SetMainThreadLink(&link);
  ASSERT_EQ(dev.OpenDefault(), 0);
  dev.RegisterWindowHandler(1);
  dev.SetHandlerMode(1);
  dev.SetTriggerLength(1);

  std::string sent;
  for (int i = 0; i < 60000; ++i) sent.push_back(static_cast<char>('A' + (i * 7) % 53));

  std::string received;
  int notifications = 0;
  link.OnMessage = [&](uint16_t msg, uint16_t count) {
    ASSERT_EQ(msg, TriggerAvailMsg);
    ++notifications;
    // Take all announced bytes but one, leaving the rest for the next notification.
    const uint16_t take = count > 1 ? count - 1 : count;
    for (uint16_t i = 0; i < take; ++i) {
      uint8_t c;
      ASSERT_EQ(dev.GetChar(c), 0);
      received.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(dev.InBuffUsed(), count - take);
  };

  std::atomic<bool> done{false};
  std::atomic<bool> ended{false};
  std::thread delivery([&] {
    size_t fed = 0;
    while (!done) {
      if (fed < sent.size()) {
        const size_t n = std::min<size_t>(sent.size() - fed, 1 + fed % 700);
        dev.Feed(sent.substr(fed, n));
        fed += n;
      } else {
        dev.Feed("");
      }
      dev.Pass();
    }
    ended = true;
  });

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
    link.ProcessOneMessage();
    // A byte left over at the end is taken outside any delivery.
    if (received.size() + 1 == sent.size() && dev.InBuffUsed() == 1) {
      uint8_t c;
      if (dev.GetChar(c) == 0) received.push_back(static_cast<char>(c));
    }
  }
  done = true;
  // The delivery thread may be waiting for the main thread to handle a notification.
  while (!ended) link.ProcessOneMessage();
  delivery.join();

  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
  EXPECT_GT(notifications, 1);
}

}  // namespace
