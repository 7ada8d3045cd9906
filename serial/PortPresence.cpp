#include "serial/PortPrompt.h"

#include "serial/NativeDispatcher.h"

bool IsPortPresent(uint16_t portNumber, const std::function<std::string(uint16_t)>& resolver) {
  // The probe opens and closes the device without touching its line settings,
  // queues or exclusive flag, so a port another program holds stays as it was.
  return portNumber != 0 && ProbeSerialDevice(resolver(portNumber));
}
