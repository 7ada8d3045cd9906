#include "station/DeviceProfile.h"

#include "serial/ComPort.h"

namespace station {

void ApplyDeviceProfile(TSerCustomComPort& port, const DeviceProfile& profile) {
  port.BeginLoading();
  port.SetComNumber(profile.comNumber);
  port.SetBaud(profile.baud);
  port.SetOutSize(profile.outSize);
  port.SetAutoOpen(profile.autoOpen);
  port.SetDTR(profile.dtr);
  port.SetRTS(profile.rts);
  port.SetXOnChar(profile.xonChar);
  port.SetXOffChar(profile.xoffChar);
  port.SetTraceName(profile.traceName);
  port.SetTraceHex(profile.traceHex);
  port.SetLogName(profile.logName);
  port.SetLogHex(profile.logHex);
  port.Loaded();
}

}  // namespace station
