#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>

#include "Platform.h"

// Qt's xcb platform aborts the program when it cannot reach the X server; the
// operator gets one clear line instead. Other platforms (offscreen, a Wayland
// session) are left to Qt.
bool DisplayUnusable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string_view chosen = platform == nullptr ? "" : platform;
  if (!chosen.empty() && chosen.substr(0, 3) != "xcb") return false;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (chosen.empty() && wayland != nullptr && *wayland != '\0') return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool failed = xcb_connection_has_error(connection) != 0;
  xcb_disconnect(connection);
  return failed;
}

void UseStartingConsole() {}

const char* HelpPortsExample() { return "  [Ports] COMn=/dev/ttyUSB0            端口对应的设备\n"; }
