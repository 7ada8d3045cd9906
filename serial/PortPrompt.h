#pragma once
// How a component asks for a port when it has no port number to open, and the
// presence test offered to that question. Plain C++: the dialog that answers
// it lives in a widget library of its own.

#include <cstdint>
#include <functional>
#include <string>

// Whether port n is present: its device opens, or another program holds it.
// Main thread; the device is closed again before it returns.
bool IsPortPresent(uint16_t portNumber, const std::function<std::string(uint16_t)>& resolver);

// Returns the chosen port number, or 0 when no port was chosen (cancelled, or
// nothing to choose from). Tests install their own to avoid a modal dialog.
using TPortPrompt = std::function<uint16_t(const std::function<bool(uint16_t)>& isPresent)>;
