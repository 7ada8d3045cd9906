#pragma once
// A line as a card device uses it (9600 baud, no modem lines, no flow
// characters), for tests that need an ordinary closed port to open.

#include "core/DeviceProfile.h"
#include "serial/ComPort.h"

inline void LoadCardLine(TSerCustomComPort& port) { station::ApplyDeviceProfile(port, station::kCardDevice); }
