#pragma once
// A line as a card device uses it (9600 baud, no modem lines, no flow
// characters), for tests that need an ordinary closed port to open.

#include "serial/ComPort.h"

inline void LoadCardLine(TSerCustomComPort& port) {
  port.BeginLoading();
  port.SetComNumber(1);
  port.SetBaud(9600);
  port.SetOutSize(8192);
  port.SetAutoOpen(false);
  port.SetDTR(false);
  port.SetRTS(false);
  port.SetXOnChar(0xFF);
  port.SetXOffChar(0xFF);
  port.SetTraceHex(false);
  port.SetLogHex(false);
  port.Loaded();
}
