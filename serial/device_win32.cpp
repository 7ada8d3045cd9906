// The Win32 device layer: overlapped I/O on the serial driver. All Win32 use of
// the port threads is in this file.

#include "serial/Win32Dispatcher.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "serial/DcbLine.h"
#include "serial/SerialErrors.h"

namespace {

constexpr DWORD kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;  // 0x1F9

int LastErrorCode() { return CodeFromWin32Error(::GetLastError()); }

// A manual-reset event, closed with its owner.
class TWinEvent {
 public:
  TWinEvent() = default;
  ~TWinEvent() { Close(); }
  TWinEvent(const TWinEvent&) = delete;
  TWinEvent& operator=(const TWinEvent&) = delete;
  bool Create(bool manualReset) {
    Close();
    Handle_ = ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    return Handle_ != nullptr;
  }
  void Close() {
    if (Handle_ != nullptr) ::CloseHandle(Handle_);
    Handle_ = nullptr;
  }
  HANDLE Get() const { return Handle_; }

 private:
  HANDLE Handle_ = nullptr;
};

// One open device: its handle, one overlapped record per thread that does I/O,
// and the two wake-up events. Handles change only on the main thread while no
// port thread runs.
class TWin32Device final : public TSerDevice {
 public:
  ~TWin32Device() override { Close(); }

  int Open(const std::string& path) override {
    Close();
    Failure_ = {};
    Failure_.Path = path;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Refuse(::GetLastError());
    Handle_ = h;
    if (!ReadDone_.Create(true) || !WriteDone_.Create(true) || !EventDone_.Create(true) || !CancelWait_.Create(false) ||
        !WakeWriter_.Create(false)) {
      Close();
      return serial_codes::ecOutOfMemory;
    }
    // Reads return at once with the bytes already received; writes have no
    // time limit and are cancelled by a flush instead.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    DWORD err = 0;
    // A handle that takes no serial timeouts or event mask is not a serial port.
    if (!::SetCommTimeouts(h, &timeouts) || !::SetCommMask(h, kEventMask)) err = ::GetLastError();
    // Every open starts with empty queues: bytes the device sent while the port
    // was closed answer nothing this program asked, and would be taken for the
    // reply to its first command.
    else if (!::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR)) err = ::GetLastError();
    if (err != 0) {
      Close();
      return Refuse(err);
    }
    Dead_.store(false);
    HangupReported_ = false;
    Cancelled_.store(false);
    PendingErrors_.store(0);
    WriterWoken_ = false;
    XonKept_ = XoffKept_ = -1;
    return 0;
  }

  int Close() override {
    int result = 0;
    if (Handle_ != INVALID_HANDLE_VALUE && !::CloseHandle(Handle_)) result = LastErrorCode();
    Handle_ = INVALID_HANDLE_VALUE;
    ReadDone_.Close();
    WriteDone_.Close();
    EventDone_.Close();
    CancelWait_.Close();
    WakeWriter_.Close();
    return result;
  }

  const TOpenFailure& Failure() const override { return Failure_; }
  bool Dead() const override { return Dead_.load(); }
  bool IsOpen() const override { return Handle_ != INVALID_HANDLE_VALUE; }
  int HandleNumber() const override { return static_cast<int>(reinterpret_cast<uintptr_t>(Handle_) & 0x7FFFFFFF); }

  int GetLine(TSerLineSettings& line) const override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(Handle_, &dcb)) return LastErrorCode();
    ReadDcbLine(dcb, line);
    if (XonKept_ >= 0) line.XonChar = static_cast<uint8_t>(XonKept_);
    if (XoffKept_ >= 0) line.XoffChar = static_cast<uint8_t>(XoffKept_);
    return 0;
  }

  // The driver gets stand-ins for equal flow characters while software flow is
  // off (the card station stores 0xFF for both); the stored ones are reported.
  int SetLine(const TSerLineSettings& line) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(Handle_, &dcb)) return LastErrorCode();
    const bool keep = BuildDcbLine(line, dcb);
    if (!::SetCommState(Handle_, &dcb)) return LastErrorCode();
    XonKept_ = keep ? line.XonChar : -1;
    XoffKept_ = keep ? line.XoffChar : -1;
    return 0;
  }

  void Setup(uint32_t inSize, uint32_t outSize) override { ::SetupComm(Handle_, inSize, outSize); }

  int Escape(int func) override {
    return ::EscapeCommFunction(Handle_, static_cast<DWORD>(func)) ? 0 : LastErrorCode();
  }

  uint8_t ModemStates() const override {
    DWORD states = 0;
    if (!::GetCommModemStatus(Handle_, &states)) return 0;
    // The driver's bits are the layer's: CTS 0x10, DSR 0x20, ring 0x40, carrier 0x80.
    return static_cast<uint8_t>(states & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON));
  }

  // The error bits the call clears are kept for TakeLineErrors, so that a read
  // never swallows a line error.
  uint32_t BytesWaiting(uint32_t& flags) override {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(Handle_, &errors, &stat)) return 0;
    PendingErrors_.fetch_or(errors);
    flags = (stat.fCtsHold ? 0x01u : 0u) | (stat.fDsrHold ? 0x02u : 0u) | (stat.fRlsdHold ? 0x04u : 0u) |
            (stat.fXoffHold ? 0x08u : 0u) | (stat.fXoffSent ? 0x10u : 0u) | (stat.fEof ? 0x20u : 0u) |
            (stat.fTxim ? 0x40u : 0u);
    return stat.cbInQue;
  }

  // The driver's CE_ bits are the layer's: overflow 0x01, overrun 0x02, parity
  // 0x04, framing 0x08, break 0x10.
  uint8_t TakeLineErrors() override {
    return static_cast<uint8_t>(PendingErrors_.exchange(0) &
                                (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK));
  }

  int Read(uint8_t* buffer, uint32_t size) override {
    // Only what the driver holds: a read for more could stay pending on some
    // drivers despite the timeouts, and this thread must never wait for input.
    uint32_t flags = 0;
    const uint32_t count = std::min(size, BytesWaiting(flags));
    if (count == 0) return 0;
    OVERLAPPED ov{};
    ov.hEvent = ReadDone_.Get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    // A flush aborts a pending read: only the other errors can mean the device
    // went away.
    if (!::ReadFile(Handle_, buffer, count, &done, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) return Failed(::GetLastError(), false);
      if (!::GetOverlappedResult(Handle_, &ov, &done, TRUE)) return Failed(::GetLastError(), false);
    }
    return static_cast<int>(done);
  }

  // 0 when a flush or stop request ended the write (what went out before is
  // dropped with the rest of the ring).
  int Write(const uint8_t* buffer, uint32_t size) override {
    // A wake-up from a flush honoured while this thread was idle may still be
    // signalled: take it before writing, so that it cannot cut a later write
    // short and make the loop send bytes twice.
    if (::WaitForSingleObject(WakeWriter_.Get(), 0) == WAIT_OBJECT_0) {
      WriterWoken_ = true;
      return 0;
    }
    OVERLAPPED ov{};
    ov.hEvent = WriteDone_.Get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    if (::WriteFile(Handle_, buffer, size, &done, &ov)) return static_cast<int>(done);
    // A flush aborts a pending write too.
    if (::GetLastError() != ERROR_IO_PENDING) return Failed(::GetLastError(), false);
    const HANDLE waits[2] = {WriteDone_.Get(), WakeWriter_.Get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      // The record must not be reused before the driver has let go of it.
      ::CancelIo(Handle_);
      ::GetOverlappedResult(Handle_, &ov, &done, TRUE);
      WriterWoken_ = true;
      return 0;
    }
    if (::GetOverlappedResult(Handle_, &ov, &done, TRUE)) return static_cast<int>(done);
    return Failed(::GetLastError(), false);
  }

  // False when a wake-up ended the last write or arrives now.
  bool WaitWritable() override {
    if (WriterWoken_) {
      WriterWoken_ = false;
      return false;
    }
    // A write that completed with nothing taken is retried once the driver has
    // had a moment; a wake-up ends the wait at once.
    return ::WaitForSingleObject(WakeWriter_.Get(), 10) != WAIT_OBJECT_0;
  }
  void WakeWriter() override { ::SetEvent(WakeWriter_.Get()); }

  int Discard(int queue) override {
    const DWORD flags = queue == FlushInput ? PURGE_RXABORT | PURGE_RXCLEAR : PURGE_TXABORT | PURGE_TXCLEAR;
    return ::PurgeComm(Handle_, flags) ? 0 : LastErrorCode();
  }

  // A device that went away is reported once as a hang-up; from then on only
  // CancelWait ends the wait.
  uint32_t WaitEvent() override {
    if (Dead_.load()) {
      if (!HangupReported_) {
        HangupReported_ = true;
        return EvHangup;
      }
      ::WaitForSingleObject(CancelWait_.Get(), INFINITE);
      return 0;
    }
    OVERLAPPED ov{};
    ov.hEvent = EventDone_.Get();
    ::ResetEvent(ov.hEvent);
    DWORD mask = 0;
    if (::WaitCommEvent(Handle_, &mask, &ov)) return mask;
    if (::GetLastError() != ERROR_IO_PENDING) return WaitFailed(::GetLastError());
    const HANDLE waits[2] = {EventDone_.Get(), CancelWait_.Get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) ::CancelIo(Handle_);
    DWORD unused = 0;
    if (!::GetOverlappedResult(Handle_, &ov, &unused, TRUE)) return WaitFailed(::GetLastError());
    return mask;
  }
  void CancelWait() override {
    // Clearing the mask ends a pending wait on every driver; the event covers a
    // wait that has not begun yet.
    Cancelled_.store(true);
    ::SetCommMask(Handle_, 0);
    ::SetEvent(CancelWait_.Get());
  }

 private:
  // Records the cause of a failed open; returns its result code. Busy keeps the
  // "in use" code callers expect; not a serial device counts as no such port.
  int Refuse(DWORD err) {
    Failure_.SystemError = static_cast<int>(err);
    Failure_.Cause = OpenFailureCauseOfWin32Error(err);
    if (Failure_.Cause == ofBusy) return serial_codes::ecAccessDenied;
    if (Failure_.Cause == ofNotSerial) return serial_codes::ecFileNotFound;
    return CodeFromWin32Error(err);
  }
  // A failed read or write: marks the device gone when the error says so.
  int Failed(DWORD err, bool abortCounts) {
    if (IsWin32DeviceGone(err, abortCounts)) Dead_.store(true);
    return CodeFromWin32Error(err);
  }
  // A failed event wait: a hang-up when the device went away and nothing of ours
  // cancelled the wait, otherwise the end of the thread.
  uint32_t WaitFailed(DWORD err) {
    if (Cancelled_.load() || !IsWin32DeviceGone(err, true)) return 0;
    Dead_.store(true);
    HangupReported_ = true;
    return EvHangup;
  }

  HANDLE Handle_ = INVALID_HANDLE_VALUE;
  TWinEvent ReadDone_;    // delivery thread's read
  TWinEvent WriteDone_;   // output thread's write
  TWinEvent EventDone_;   // event thread's wait
  TWinEvent CancelWait_;  // auto-reset: ends the event wait
  TWinEvent WakeWriter_;  // auto-reset: ends a pending write
  std::atomic<uint32_t> PendingErrors_{0};
  bool WriterWoken_ = false;  // output thread
  std::atomic<bool> Dead_{false};
  std::atomic<bool> Cancelled_{false};  // CancelWait was called since the open
  bool HangupReported_ = false;         // event thread
  TOpenFailure Failure_;                // main thread
  // The characters asked for while the driver holds substitutes (main thread).
  int XonKept_ = -1;
  int XoffKept_ = -1;
};

}  // namespace

TSerWin32Dispatcher::TSerWin32Dispatcher(TSerCustomComPort* owner)
    : TSerDeviceDispatcher(owner, std::make_unique<TWin32Device>()) {}

TSerWin32Dispatcher::~TSerWin32Dispatcher() { DestroySequence(); }

bool ProbeSerialDevice(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
  // Refused because another program holds it: it exists.
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const bool serial = ::GetCommState(h, &dcb) != FALSE;
  ::CloseHandle(h);
  return serial;
}
