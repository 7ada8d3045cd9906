#pragma once
// Wakes the main thread's event loop from any thread, through a system object
// that Qt's event loop watches (an eventfd, or a Win32 event), so that no Qt
// object crosses threads. One implementation per platform.

#include <functional>
#include <memory>

class TSerWakeSignal {
 public:
  // Main thread. onWake runs on the main thread's event loop after Signal.
  explicit TSerWakeSignal(std::function<void()> onWake);
  ~TSerWakeSignal();
  TSerWakeSignal(const TSerWakeSignal&) = delete;
  TSerWakeSignal& operator=(const TSerWakeSignal&) = delete;

  // False when the system object could not be made: Signal then does nothing.
  bool Valid() const;
  // Any thread.
  void Signal();
  // Main thread, inside onWake: takes the pending signal so that it fires once.
  void Consume();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl_;
};
