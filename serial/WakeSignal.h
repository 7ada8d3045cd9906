#pragma once
// Wakes the main thread's event loop from any thread, through a system object
// that Qt's event loop watches (an eventfd, or a Win32 event), so that no Qt
// object crosses threads. One implementation per platform.

#include <cstdint>
#include <functional>
#include <memory>

class QObject;

// The signalling end. A thread holding it may signal after the TSerWakeSignal
// is gone (the signal then goes nowhere), so it can signal without holding the
// lock that keeps the receiver alive.
class TSerWakeLine {
 public:
  TSerWakeLine();
  ~TSerWakeLine();
  TSerWakeLine(const TSerWakeLine&) = delete;
  TSerWakeLine& operator=(const TSerWakeLine&) = delete;

  // False when the system object could not be made: Signal then does nothing.
  bool Valid() const;
  // Any thread.
  void Signal() const;

 private:
  friend class TSerWakeSignal;
  intptr_t Handle_;  // the descriptor or the event handle
};

class TSerWakeSignal {
 public:
  // Main thread. onWake runs on the main thread's event loop after Signal.
  explicit TSerWakeSignal(std::function<void()> onWake);
  ~TSerWakeSignal();
  TSerWakeSignal(const TSerWakeSignal&) = delete;
  TSerWakeSignal& operator=(const TSerWakeSignal&) = delete;

  bool Valid() const { return Line_->Valid(); }
  // Any thread.
  void Signal() { Line_->Signal(); }
  // Main thread, inside onWake: takes the pending signal so that it fires once.
  void Consume();
  const std::shared_ptr<const TSerWakeLine>& Line() const { return Line_; }

 private:
  std::shared_ptr<const TSerWakeLine> Line_;
  std::unique_ptr<QObject> Notifier_;
};
