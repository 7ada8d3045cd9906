#pragma once
// The device layer over the Win32 serial driver, with overlapped I/O. Everything
// Win32-specific lives in device_win32.cpp; this header stays free of system
// headers.
//
// Device semantics:
// - exclusive open: the device is opened without sharing, so a second open is
//   refused with "access denied";
// - reads never wait: only what the driver reports as received is read;
// - a write the driver has not finished is awaited together with a flush request,
//   which cancels it;
// - the event wait covers received bytes, modem line changes, break, line errors
//   and ring, and is cancelled by closing.

#include "serial/DeviceDispatcher.h"

class TSerWin32Dispatcher final : public TSerDeviceDispatcher {
 public:
  // owner may be null (the port selection dialog's presence test).
  explicit TSerWin32Dispatcher(TSerCustomComPort* owner);
  ~TSerWin32Dispatcher() override;
};

// The device layer this platform uses.
using TSerNativeDispatcher = TSerWin32Dispatcher;
