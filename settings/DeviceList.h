#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace settings {

// One serial device the operator can choose. path is what the settings file
// records; target is the device node a /dev/serial/by-id name points to (empty
// for the nodes themselves). label, when set, is how the list shows the device
// (on Windows the port's name as Device Manager shows it); otherwise the list
// shows the path and its target.
struct SerialDevice {
  std::string path;
  std::string target;
  std::string label = {};
};

// The serial devices of this machine, in this order: the stable names in
// <devRoot>/serial/by-id (their targets resolved), then ttyUSB*, ttyACM* and
// those ttyS* whose UART is real, each group in natural order (ttyUSB2 before
// ttyUSB10). The kernel creates ttyS0..ttyS31 whether or not a UART exists; one
// counts only when <sysRoot>/class/tty/ttySn/type holds a port type other than
// 0 (no UART). Missing folders give no entries.
std::vector<SerialDevice> ListSerialDevices(const std::filesystem::path& devRoot = "/dev",
                                            const std::filesystem::path& sysRoot = "/sys");

// The serial ports the settings dialog offers: ListSerialDevices() on Linux;
// on Windows the COM ports, named as NameComPorts (ComPortNames.h) does.
std::vector<SerialDevice> ListSerialPorts();

}  // namespace settings
