#include <QWinEventNotifier>

#include <windows.h>

#include "serial/WakeSignal.h"

struct TSerWakeSignal::TImpl {
  HANDLE Event = nullptr;
  std::unique_ptr<QWinEventNotifier> Notifier;
};

TSerWakeSignal::TSerWakeSignal(std::function<void()> onWake) : Impl_(std::make_unique<TImpl>()) {
  // Auto-reset: the notifier's wait takes the signal, so each Signal fires once.
  Impl_->Event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (Impl_->Event == nullptr) return;
  Impl_->Notifier = std::make_unique<QWinEventNotifier>(Impl_->Event);
  QObject::connect(Impl_->Notifier.get(), &QWinEventNotifier::activated, Impl_->Notifier.get(),
                   [fn = std::move(onWake)] { fn(); });
}

TSerWakeSignal::~TSerWakeSignal() {
  Impl_->Notifier.reset();
  if (Impl_->Event != nullptr) ::CloseHandle(Impl_->Event);
}

bool TSerWakeSignal::Valid() const { return Impl_->Event != nullptr; }

void TSerWakeSignal::Signal() {
  if (Impl_->Event != nullptr) ::SetEvent(Impl_->Event);
}

void TSerWakeSignal::Consume() {}
