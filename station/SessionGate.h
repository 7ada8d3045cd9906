#pragma once

#include <deque>
#include <functional>
#include <utility>

namespace station {

// The one door through which the window hands events to the card session
// (button presses, timer ticks, the device's bytes). The session is not
// re-entrant: while a journal call waits with the event loop running, the
// events that come in are held, and once no call waits any more they are
// given in the order they came, each to completion. Nothing is dropped.
//
// Main thread only; no Qt, so that the order can be tested on its own.
class SessionGate {
 public:
  // later(task) runs task from the event loop soon, after the handler that
  // is running now has returned.
  explicit SessionGate(std::function<void(std::function<void()>)> later) : later_(std::move(later)) {}
  SessionGate(const SessionGate&) = delete;
  SessionGate& operator=(const SessionGate&) = delete;

  // Runs event now, after any held ones, or holds it while a call waits.
  void Pass(std::function<void()> event);

  // Whether a journal call is waiting now.
  bool Holding() const { return holds_ > 0; }

  // Holds every event passed while it lives (nests).
  class Hold {
   public:
    explicit Hold(SessionGate& gate) : gate_(gate) { ++gate_.holds_; }
    ~Hold() { gate_.Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    SessionGate& gate_;
  };

 private:
  void Release();
  // Gives the held events while nothing holds them.
  void Flush();

  std::function<void(std::function<void()>)> later_;
  std::deque<std::function<void()>> held_;
  int holds_ = 0;
};

}  // namespace station
