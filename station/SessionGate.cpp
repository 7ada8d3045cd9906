#include "station/SessionGate.h"

namespace station {

void SessionGate::Pass(std::function<void()> event) {
  // Behind held ones too: an event must not overtake one that came before it.
  if (holds_ > 0 || !held_.empty()) {
    held_.push_back(std::move(event));
    return;
  }
  event();
}

void SessionGate::Release() {
  if (--holds_ > 0 || held_.empty() || flushDue_) return;
  // Not at once: the handler whose call just returned is still running.
  flushDue_ = true;
  later_([this] { Flush(); });
}

void SessionGate::Flush() {
  flushDue_ = false;
  while (holds_ == 0 && !held_.empty()) {
    std::function<void()> event = std::move(held_.front());
    held_.pop_front();
    event();
  }
  // An event that waited for the journal left the rest for its own release.
}

}  // namespace station
