#include "station/SessionGate.h"

namespace station {

void SessionGate::Pass(std::function<void()> event) {
  if (holds_ == 0) {
    // An event must not overtake one held before it: those go first, now
    // that no call waits.
    Flush();
    if (holds_ == 0) {
      event();
      return;
    }
  }
  held_.push_back(std::move(event));
}

void SessionGate::Release() {
  if (--holds_ > 0 || held_.empty()) return;
  // Not at once: the handler whose call just returned is still running.
  later_([this] { Flush(); });
}

void SessionGate::Flush() {
  while (holds_ == 0 && !held_.empty()) {
    std::function<void()> event = std::move(held_.front());
    held_.pop_front();
    event();
  }
  // An event that waited for the journal left the rest for its own release.
}

}  // namespace station
