#pragma once
// The line settings of the card reader/writer, in one place: the window's port
// is set up from this and nothing else.

#include <cstdint>
#include <string>

class TSerCustomComPort;

namespace station {

struct DeviceProfile {
  std::uint16_t comNumber = 1;
  int baud = 9600;
  std::uint16_t outSize = 8192;
  bool autoOpen = false;
  bool dtr = false;
  bool rts = false;
  std::uint8_t xonChar = 0xFF;
  std::uint8_t xoffChar = 0xFF;
  std::string traceName = "SERIAL.TRC";
  bool traceHex = false;
  std::string logName = "SERIAL.LOG";
  bool logHex = false;
};

inline const DeviceProfile kCardDevice{};

// Stores the profile as loading a form would (BeginLoading ... Loaded), so no
// setter touches a device meanwhile and the port stays closed.
void ApplyDeviceProfile(TSerCustomComPort& port, const DeviceProfile& profile);

}  // namespace station
