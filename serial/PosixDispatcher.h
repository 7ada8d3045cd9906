#pragma once
// The device layer over POSIX termios. Everything termios-specific lives in
// device_posix.cpp; this header stays free of system headers.
//
// Device semantics:
// - exclusive open: TIOCEXCL plus flock(LOCK_EX | LOCK_NB), so a second process
//   is refused even when it runs as root;
// - reads never wait; writes that the driver cannot take at once are awaited
//   together with a flush request;
// - drivers without modem lines or error counters (pseudo-terminals) simply
//   report no modem states and no line errors: "not supported here".

#include <memory>
#include <string>

#include "serial/PortThreads.h"

class TSerPosixDispatcher final : public TSerThreadedDispatcher {
 public:
  // owner may be null (the port selection dialog's presence test).
  explicit TSerPosixDispatcher(TSerCustomComPort* owner);
  ~TSerPosixDispatcher() override;

  int EscapeComFunction(int func) override;
  int GetComError(TSerComStat& status) override;
  int ReadFailed(int code) override;
  int GetComState(TSerLineSettings& settings) override;
  int ReadCom(uint8_t* buffer, uint32_t size) override;
  int SetComState(const TSerLineSettings& settings) override;
  bool WaitComEvent(uint32_t& mask) override;
  int SetupCom(uint32_t inSize, uint32_t outSize) override;
  int OpenComDevice(const std::string& path, uint32_t inSize, uint32_t outSize) override;
  int CloseComDevice() override;
  int YieldTimeSlice() override;
  uint8_t GetModemLines() override;

  // Whether the open device has modem lines the driver lets us read and switch.
  bool HasModemLines() const;

 protected:
  int DeviceWrite(const uint8_t* buffer, uint32_t size) override;
  bool WaitDeviceWritable() override;
  void WakeWriter() override;
  void CancelEventWait() override;
  bool DeliveryWaitsOnDevice() const override { return true; }
  uint32_t WaitDeviceInput(bool watchData, int timeoutMs) override;
  void WakeDelivery() override;
  int DiscardDevice(int queue) override;
  void DeviceThreadsEnded() override;
  void NameCurrentThread(TSerThreadKind kind) override;

 private:
  class TDevice;
  std::unique_ptr<TDevice> Device_;
  // The device is closed once the threads have ended (main thread, or the
  // delivery thread releasing the port; never both at once).
  std::atomic<bool> CloseDeferred_{false};
};

// Whether a serial device is at path: it opens as a terminal, or another program
// holds it. Opens and closes it without touching its line settings, its queues
// or its exclusive flag, so a port in use elsewhere is left as it was.
bool ProbeSerialDevice(const std::string& path);

// The device layer this platform uses.
using TSerNativeDispatcher = TSerPosixDispatcher;
