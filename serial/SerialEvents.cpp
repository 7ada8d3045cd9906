#include "serial/SerialEvents.h"

#include <vector>

void TSerEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(Group_.Mutex_);
    Signalled_ = true;
  }
  Group_.Changed_.notify_all();
}

void TSerEvent::Reset() {
  std::lock_guard<std::mutex> lock(Group_.Mutex_);
  Signalled_ = false;
}

bool TSerEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(Group_.Mutex_);
  return Signalled_;
}

bool TSerEvent::Wait(std::chrono::milliseconds timeout) {
  return Group_.WaitAny({this}, timeout) == 0;
}

int TSerEventGroup::WaitAny(std::initializer_list<TSerEvent*> events,
                            std::chrono::milliseconds timeout) {
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
  if (timeout < std::chrono::milliseconds::zero()) {
    Changed_.wait(lock, ready);
  } else if (!Changed_.wait_for(lock, timeout, ready)) {
    return -1;
  }
  TSerEvent* e = *(events.begin() + taken);
  if (!e->ManualReset_) e->Signalled_ = false;
  return taken;
}
