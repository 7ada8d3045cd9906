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

#include <atomic>
#include <memory>
#include <string>

#include "serial/PortThreads.h"

class TSerWin32Dispatcher final : public TSerThreadedDispatcher {
 public:
  // owner may be null (the port selection dialog's presence test).
  explicit TSerWin32Dispatcher(TSerCustomComPort* owner);
  ~TSerWin32Dispatcher() override;

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

 protected:
  int DeviceWrite(const uint8_t* buffer, uint32_t size) override;
  bool WaitDeviceWritable() override;
  void WakeWriter() override;
  void CancelEventWait() override;
  int DiscardDevice(int queue) override;
  void DeviceThreadsEnded() override;

 private:
  class TDevice;
  std::unique_ptr<TDevice> Device_;
  // The device is closed once the threads have ended (main thread, or the
  // delivery thread releasing the port; never both at once).
  std::atomic<bool> CloseDeferred_{false};
};

// Whether a serial port is at path: it opens as one, or another program holds
// it. Opens and closes it without touching its line settings or queues.
bool ProbeSerialDevice(const std::string& path);

// The device layer this platform uses.
using TSerNativeDispatcher = TSerWin32Dispatcher;
