#include <sys/utsname.h>

#include <cstring>

#include "serial/Recorder.h"
#include "serial/SystemServices.h"

std::string SystemErrorText(int systemError) {
  // strerrordesc_np gives no text for numbers the C library does not know.
  const char* text = strerrordesc_np(systemError);
  return text != nullptr ? text : std::string();
}

std::string DefaultDevicePath(uint16_t portNumber) {
  return "/dev/ttyS" + std::to_string(static_cast<int>(portNumber) - 1);
}

std::string OperatingSystemDescription() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}
