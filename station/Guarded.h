#pragma once

#include <QString>

#include <exception>

#include "station/Prompts.h"

namespace station {

// Runs a handler; an exception that escapes it is shown in the general error
// box with its text, and the program goes on.
template <typename Handler>
void Guarded(Prompts& prompts, Handler&& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    prompts.Error(QString::fromUtf8(e.what()));
  } catch (...) {
    prompts.Error(QStringLiteral("Unknown exception"));
  }
}

}  // namespace station
