#pragma once
// The device layer's one adapter: it implements the dispatcher's device slots
// and the port threads' primitives over a TSerDevice, the open serial device of
// the platform. A platform supplies only its TSerDevice (device_posix.cpp,
// device_win32.cpp) and a thin dispatcher class that hands it over. This header
// stays free of system headers.

#include <atomic>
#include <memory>
#include <string>

#include "serial/PortThreads.h"

// One serial device of the platform. Open, Close, GetLine, SetLine, Setup and
// Escape run on the main thread while no port thread can touch the device
// (Open and Close) or under the dispatcher's main lock; the rest name the thread
// that calls them.
class TSerDevice {
 public:
  virtual ~TSerDevice() = default;

  // 0, or the result code of the failing step (the device is closed again, and
  // Failure() tells the operator's cause).
  virtual int Open(const std::string& path) = 0;
  // 0, or the result code of closing.
  virtual int Close() = 0;
  virtual const TOpenFailure& Failure() const = 0;
  virtual bool IsOpen() const = 0;
  // A small non-negative number that stands for the open device.
  virtual int HandleNumber() const = 0;
  // Any thread: the device went away.
  virtual bool Dead() const = 0;

  virtual int GetLine(TSerLineSettings& line) const = 0;
  virtual int SetLine(const TSerLineSettings& line) = 0;
  // Advice on the driver's queue sizes; a driver that ignores it has not failed.
  virtual void Setup(uint32_t inSize, uint32_t outSize) = 0;
  // Raises or lowers DTR or RTS (EscSetRts, EscClrRts, EscSetDtr, EscClrDtr).
  virtual int Escape(int func) = 0;
  // The current line states as ModemCts | ModemDsr | ModemRing | ModemDcd.
  virtual uint8_t ModemStates() const = 0;
  // Bytes waiting in the driver; flags gets the driver's hold flags.
  virtual uint32_t BytesWaiting(uint32_t& flags) = 0;
  // The line-error bits (LineRxOverflow ... LineBreak) since the last call.
  virtual uint8_t TakeLineErrors() = 0;

  // Delivery thread: bytes read (0 when none wait), or a negative result code.
  // Never waits, and may be asked for more than waits.
  virtual int Read(uint8_t* buffer, uint32_t size) = 0;
  // Output thread: bytes accepted (0 when the driver took none or a wake-up
  // ended the write), or a negative result code.
  virtual int Write(const uint8_t* buffer, uint32_t size) = 0;
  // Output thread: true when the driver takes output again, false on WakeWriter.
  virtual bool WaitWritable() = 0;
  // Any thread: ends a write or a WaitWritable.
  virtual void WakeWriter() = 0;
  // Discards the driver's input (FlushInput) or output (FlushOutput) queue.
  virtual int Discard(int queue) = 0;
  // Event thread: the next device event's mask, 0 when cancelled or failed.
  virtual uint32_t WaitEvent() = 0;
  // Any thread: ends the event thread's WaitEvent.
  virtual void CancelWait() = 0;

  // Whether the delivery thread waits on the device for received bytes and
  // hang-ups itself (WaitInput); fixed for the device's life.
  virtual bool WaitsForInput() const { return false; }
  // Delivery thread: EvRxChar when bytes wait (only when watchData), EvHangup
  // once when the device went away, else 0 after WakeInput or timeoutMs.
  virtual uint32_t WaitInput(bool watchData, int timeoutMs) {
    (void)watchData;
    (void)timeoutMs;
    return 0;
  }
  // Any thread: ends a WaitInput.
  virtual void WakeInput() {}
  // Called first on each port thread: names it for the system's thread lists.
  virtual void NameCurrentThread(TSerThreadKind) {}
};

class TSerDeviceDispatcher : public TSerThreadedDispatcher {
 public:
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
  // owner may be null (the port selection dialog's presence test). The
  // platform's dispatcher class calls DestroySequence() in its destructor.
  TSerDeviceDispatcher(TSerCustomComPort* owner, std::unique_ptr<TSerDevice> device);

  int DeviceWrite(const uint8_t* buffer, uint32_t size) override;
  bool WaitDeviceWritable() override;
  void WakeWriter() override;
  void CancelEventWait() override;
  bool DeliveryWaitsOnDevice() const override { return WaitsForInput_; }
  uint32_t WaitDeviceInput(bool watchData, int timeoutMs) override;
  void WakeDelivery() override;
  int DiscardDevice(int queue) override;
  void DeviceThreadsEnded() override;
  // Every device's Read returns at once with at most what its driver holds.
  bool ReadsWhatWaits() const override { return true; }
  uint8_t TakeReadLineErrors() override;
  void NameCurrentThread(TSerThreadKind kind) override;

  const TSerDevice& Device() const { return *Device_; }

 private:
  const std::unique_ptr<TSerDevice> Device_;
  const bool WaitsForInput_;
  // The device is closed once the threads have ended (main thread, or the
  // delivery thread releasing the port; never both at once).
  std::atomic<bool> CloseDeferred_{false};
};

// Whether a serial device is at path: it opens as one, or another program holds
// it. Opens and closes it without touching its line settings or queues.
bool ProbeSerialDevice(const std::string& path);
