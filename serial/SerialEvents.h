// Signalled events for the port threads' hand-offs.
//
// The events of one dispatcher share one lock and one condition variable, so a
// thread can wait for any of several of them (the output thread waits for
// "output ready" or "flush requested") without polling. Any thread may call any
// member; an event group must outlive every wait on its events.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

class TSerEventGroup;

class TSerEvent {
 public:
  // An auto-reset event is cleared by the one wait it releases; a manual-reset
  // event stays signalled until Reset.
  TSerEvent(TSerEventGroup& group, bool manualReset) : Group_(group), ManualReset_(manualReset) {}
  TSerEvent(const TSerEvent&) = delete;
  TSerEvent& operator=(const TSerEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until signalled; a negative timeout waits without limit. False on timeout.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  friend class TSerEventGroup;
  TSerEventGroup& Group_;
  const bool ManualReset_;
  bool Signalled_ = false;  // guarded by Group_.Mutex_
  // The waits currently blocked on this event (guarded by Group_.Mutex_): Set
  // wakes only them, so an idle thread waiting on other events sleeps on.
  std::vector<std::condition_variable*> Waiters_;
};

class TSerEventGroup {
 public:
  static constexpr std::chrono::milliseconds Infinite{-1};

  // Waits until one of the events is signalled and returns its index in the list
  // (the earliest one when several are); -1 on timeout. An auto-reset event that is
  // taken is cleared.
  int WaitAny(std::initializer_list<TSerEvent*> events, std::chrono::milliseconds timeout);

 private:
  friend class TSerEvent;
  mutable std::mutex Mutex_;
};

// The events of one open port.
struct TSerDispatcherEvents {
  TSerEventGroup Group;
  TSerEvent ComEventReady{Group, false};  // event thread -> delivery thread
  TSerEvent ComEventDone{Group, false};   // delivery thread -> event thread
  TSerEvent ThreadAck{Group, false};      // thread started / ended / honoured a flush
  TSerEvent OutputReady{Group, false};    // WriteCom -> output thread
  TSerEvent WriteDone{Group, true};       // a device write has completed
  TSerEvent FlushRequest{Group, false};   // FlushCom(0) or StopDispatcher -> output thread
  TSerEvent PassWake{Group, false};       // triggers that need the periodic pass -> delivery thread
};
