#include <QWinEventNotifier>

#include <windows.h>

#include "serial/WakeSignal.h"

// Auto-reset: the notifier's wait takes the signal, so each Signal fires once.
TSerWakeLine::TSerWakeLine() : Handle_(reinterpret_cast<intptr_t>(::CreateEventA(nullptr, FALSE, FALSE, nullptr))) {}

TSerWakeLine::~TSerWakeLine() {
  if (Handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(Handle_));
}

bool TSerWakeLine::Valid() const { return Handle_ != 0; }

void TSerWakeLine::Signal() const {
  if (Handle_ != 0) ::SetEvent(reinterpret_cast<HANDLE>(Handle_));
}

TSerWakeSignal::TSerWakeSignal(std::function<void()> onWake) : Line_(std::make_shared<TSerWakeLine>()) {
  if (!Line_->Valid()) return;
  auto notifier = std::make_unique<QWinEventNotifier>(reinterpret_cast<HANDLE>(Line_->Handle_));
  QObject::connect(notifier.get(), &QWinEventNotifier::activated, notifier.get(), [fn = std::move(onWake)] { fn(); });
  Notifier_ = std::move(notifier);
}

// The notifier goes first: it must stop waiting on the event before the last
// holder of the line closes it.
TSerWakeSignal::~TSerWakeSignal() { Notifier_.reset(); }

void TSerWakeSignal::Consume() {}
