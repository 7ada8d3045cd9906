#include "settings/DeviceList.h"

namespace settings {

std::vector<SerialDevice> ListSerialPorts() { return ListSerialDevices(); }

}  // namespace settings
