#include "serial/PortPrompt.h"

#include "serial/PosixDispatcher.h"
#include "serial/SerialErrors.h"

bool IsPortPresent(uint16_t portNumber, const std::function<std::string(uint16_t)>& resolver) {
  if (portNumber == 0) return false;
  TSerNativeDispatcher probe(nullptr);
  const int code = probe.OpenComDevice(resolver(portNumber), 64, 64);
  if (code >= 0) {
    probe.CloseComDevice();
    return true;
  }
  // A port that another program holds exists all the same.
  return code == serial_codes::ecAccessDenied;
}
