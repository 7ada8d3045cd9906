#pragma once

#include <QObject>
#include <QWidget>

#include <functional>

namespace ui {

// Runs `then` once, on the event loop's turn after `window` is first
// painted, that is after the painted image has gone to the screen. Work the
// first picture does not need (decoding the window's icon, say) waits until
// the operator sees the window.
void AfterFirstPaint(QWidget& window, std::function<void()> then);

}  // namespace ui
