#pragma once
// The device layer over POSIX termios. Everything termios-specific lives in
// device_posix.cpp; this header stays free of system headers.
//
// Device semantics:
// - exclusive open: TIOCEXCL plus flock(LOCK_EX | LOCK_NB), so a second process
//   is refused even when it runs as root;
// - reads never wait, and the delivery thread itself waits for received bytes;
//   writes that the driver cannot take at once are awaited together with a
//   flush request;
// - drivers without modem lines or error counters (pseudo-terminals) simply
//   report no modem states and no line errors: "not supported here".

#include "serial/DeviceDispatcher.h"

class TSerPosixDispatcher final : public TSerDeviceDispatcher {
 public:
  // owner may be null (the port selection dialog's presence test).
  explicit TSerPosixDispatcher(TSerCustomComPort* owner);
  ~TSerPosixDispatcher() override;

  // Whether the open device has modem lines the driver lets us read and switch.
  bool HasModemLines() const;
};

// The device layer this platform uses.
using TSerNativeDispatcher = TSerPosixDispatcher;
