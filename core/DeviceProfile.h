#pragma once
// The line settings of the card reader/writer, in one place: the window's port
// is set up from this and nothing else.

#include <cstdint>
#include <string>

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

// The port's two recorders: the file each writes to and whether in hex.
template <class Port>
void ApplyRecorderProfile(Port& port, const DeviceProfile& profile) {
  port.SetTraceName(profile.traceName);
  port.SetTraceHex(profile.traceHex);
  port.SetLogName(profile.logName);
  port.SetLogHex(profile.logHex);
}

// Stores the profile in a serial port component as loading a form would
// (BeginLoading ... Loaded), so no setter touches a device meanwhile and the
// port stays closed. A template, so that the profile needs no serial layer.
template <class Port>
void ApplyDeviceProfile(Port& port, const DeviceProfile& profile) {
  port.BeginLoading();
  port.SetComNumber(profile.comNumber);
  port.SetBaud(profile.baud);
  port.SetOutSize(profile.outSize);
  port.SetAutoOpen(profile.autoOpen);
  port.SetDTR(profile.dtr);
  port.SetRTS(profile.rts);
  port.SetXOnChar(profile.xonChar);
  port.SetXOffChar(profile.xoffChar);
  ApplyRecorderProfile(port, profile);
  port.Loaded();
}

}  // namespace station
