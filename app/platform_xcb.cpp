#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "Platform.h"

// Qt's xcb platform aborts the program when it cannot reach the X server; the
// operator gets one clear line instead. Other platforms (offscreen, a Wayland
// session) are left to Qt.
DisplayCheck CheckDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string_view chosen = platform == nullptr ? "" : platform;
  if (!chosen.empty() && chosen.substr(0, 3) != "xcb") return {};
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (chosen.empty() && wayland != nullptr && *wayland != '\0') return {};
  // xcb_connect never returns null: a failed connection is an object too.
  std::shared_ptr<xcb_connection_t> connection(xcb_connect(nullptr, nullptr), xcb_disconnect);
  if (xcb_connection_has_error(connection.get()) != 0) return {.usable = false, .hold = nullptr};
  return {.usable = true, .hold = std::move(connection)};
}

void UseStartingConsole() {}

const char* HelpPortsExample() { return "  [Ports] COMn=/dev/ttyUSB0            端口对应的设备\n"; }
