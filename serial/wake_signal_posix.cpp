#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "serial/WakeSignal.h"

TSerWakeLine::TSerWakeLine() : Handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TSerWakeLine::~TSerWakeLine() {
  if (Handle_ >= 0) ::close(static_cast<int>(Handle_));
}

bool TSerWakeLine::Valid() const { return Handle_ >= 0; }

void TSerWakeLine::Signal() const {
  if (Handle_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(static_cast<int>(Handle_), &one, sizeof one);
}

TSerWakeSignal::TSerWakeSignal(std::function<void()> onWake) : Line_(std::make_shared<TSerWakeLine>()) {
  if (!Line_->Valid()) return;
  auto notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(Line_->Handle_), QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [fn = std::move(onWake)] { fn(); });
  Notifier_ = std::move(notifier);
}

// The notifier goes first: Qt must stop watching the descriptor before the
// last holder of the line closes it.
TSerWakeSignal::~TSerWakeSignal() { Notifier_.reset(); }

void TSerWakeSignal::Consume() {
  if (!Line_->Valid()) return;
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(static_cast<int>(Line_->Handle_), &count, sizeof count);
}
