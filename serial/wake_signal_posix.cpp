#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "serial/WakeSignal.h"

struct TSerWakeSignal::TImpl {
  int Fd = -1;
  std::unique_ptr<QSocketNotifier> Notifier;
};

TSerWakeSignal::TSerWakeSignal(std::function<void()> onWake) : Impl_(std::make_unique<TImpl>()) {
  Impl_->Fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (Impl_->Fd < 0) return;
  Impl_->Notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(Impl_->Fd), QSocketNotifier::Read);
  QObject::connect(Impl_->Notifier.get(), &QSocketNotifier::activated, Impl_->Notifier.get(),
                   [fn = std::move(onWake)] { fn(); });
}

TSerWakeSignal::~TSerWakeSignal() {
  Impl_->Notifier.reset();
  if (Impl_->Fd >= 0) ::close(Impl_->Fd);
}

bool TSerWakeSignal::Valid() const { return Impl_->Fd >= 0; }

void TSerWakeSignal::Signal() {
  if (Impl_->Fd < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(Impl_->Fd, &one, sizeof one);
}

void TSerWakeSignal::Consume() {
  if (Impl_->Fd < 0) return;
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(Impl_->Fd, &count, sizeof count);
}
