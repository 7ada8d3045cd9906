#include "serial/SerialEvents.h"

#include <vector>

void TSerEvent::Set() {
  std::lock_guard<std::mutex> lock(Group_.Mutex_);
  Signalled_ = true;
  for (std::condition_variable* waiter : Waiters_) waiter->notify_one();
}

void TSerEvent::Reset() {
  std::lock_guard<std::mutex> lock(Group_.Mutex_);
  Signalled_ = false;
}

bool TSerEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(Group_.Mutex_);
  return Signalled_;
}

bool TSerEvent::Wait(std::chrono::milliseconds timeout) { return Group_.WaitAny({this}, timeout) == 0; }

int TSerEventGroup::WaitAny(std::initializer_list<TSerEvent*> events, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(Mutex_);
  int taken = -1;
  auto ready = [&] {
    int i = 0;
    for (TSerEvent* e : events) {
      if (e->Signalled_) {
        taken = i;
        return true;
      }
      ++i;
    }
    return false;
  };
  if (!ready()) {
    if (timeout == std::chrono::milliseconds::zero()) return -1;
    std::condition_variable changed;
    for (TSerEvent* e : events) e->Waiters_.push_back(&changed);
    bool signalled = true;
    if (timeout < std::chrono::milliseconds::zero()) changed.wait(lock, ready);
    else signalled = changed.wait_for(lock, timeout, ready);
    for (TSerEvent* e : events) std::erase(e->Waiters_, &changed);
    if (!signalled) return -1;
  }
  TSerEvent* e = *(events.begin() + taken);
  if (!e->ManualReset_) e->Signalled_ = false;
  return taken;
}
