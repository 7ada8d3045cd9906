#pragma once

#include <string>
#include <utility>
#include <vector>

#include "settings/DeviceList.h"

namespace settings {

// What Windows tells about its COM ports, behind an interface so that the
// naming below can be tried on any table.
class PortTables {
 public:
  virtual ~PortTables() = default;
  // HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: each port's driver device
  // (\Device\Serial0) and its name (COM1).
  virtual std::vector<std::pair<std::wstring, std::wstring>> SerialComm() const = 0;
  // SetupAPI's present ports: each port's name (its PortName, COM3) and the
  // friendly name Device Manager shows ("USB-SERIAL CH340 (COM3)").
  virtual std::vector<std::pair<std::wstring, std::wstring>> FriendlyNames() const = 0;
};

// The ports as the settings dialog lists them, in the order of their numbers:
// path "\\.\COMn", the driver device as target, and the label
// "COMn (<friendly name>)", the friendly name without its own "(COMn)"; just
// "COMn" when there is none, or only a driver's device path. A port that only
// SetupAPI knows (its driver has not registered it yet) is listed too when it
// is named COMn.
std::vector<SerialDevice> NameComPorts(const PortTables& tables);

// The tables of this machine (Windows only).
const PortTables& SystemPortTables();

}  // namespace settings
