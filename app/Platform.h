#pragma once
// The start-up steps that differ by system, one file per platform
// (platform_xcb.cpp, platform_win32.cpp).

#include <memory>

struct DisplayCheck {
  // False when the program would get no window on screen and should say so
  // in one line instead of starting.
  bool usable = true;
  // The check's own connection to the display, to let go once the
  // application has its own: an X server whose last client leaves resets
  // itself, and the program's connection would wait some 30 ms for that.
  std::shared_ptr<void> hold;
};

DisplayCheck CheckDisplay();

// Makes --help and --version print where the operator typed them: a Windows
// program without a console of its own writes to the console it was started
// from. Nothing to do elsewhere.
void UseStartingConsole();

// The --help line that shows how a port is tied to a device on this system.
const char* HelpPortsExample();
