#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QToolButton>

#include <stdexcept>
#include <string>

namespace station::testing_support {

// The window's control (or timer) with this design name, found as the
// operator's tools find it; throws when there is none of that type, so that a
// renamed control fails the test that needs it instead of crashing it.
template <typename T>
T* Find(const QObject& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) throw std::logic_error(std::string("no control named ") + name);
  return found;
}

// One second of the window's operation timer, delivered as the timer itself
// delivers it, so that a test decides when the seconds pass.
inline void Tick(const QObject& window) {
  QMetaObject::invokeMethod(Find<QTimer>(window, "OpenTimer"), "timeout", Qt::DirectConnection);
}

}  // namespace station::testing_support
