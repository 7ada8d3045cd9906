// A device layer that stands in for the driver: the test feeds received bytes,
// reads what was written, sets line errors and modem lines, and drives the
// delivery passes itself. The clock and sleeps are the test's too.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "serial/Dispatcher.h"

class TTestDevice : public TSerBaseDispatcher {
 public:
  TTestDevice() : TSerBaseDispatcher(nullptr) { Device.BaudRate = 38400; }
  ~TTestDevice() override { DestroySequence(); }

  // --- the driver's side, any thread ------------------------------------------
  void Feed(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(DriverLock);
    if (PendingPos == Pending.size()) {
      Pending.clear();  // keeps its capacity: feeding does not allocate once warmed up
      PendingPos = 0;
    }
    Pending.append(bytes);
  }
  size_t PendingCount() {
    std::lock_guard<std::mutex> lock(DriverLock);
    return Pending.size() - PendingPos;
  }
  void RaiseLineErrors(uint8_t bits) {
    std::lock_guard<std::mutex> lock(DriverLock);
    ErrorBits |= bits;
  }
  void SetModemLines(uint8_t lines) {
    std::lock_guard<std::mutex> lock(DriverLock);
    ModemLines = lines;
  }
  // Moves up to n bytes from the output ring to Written, as the output thread would.
  void DrainOutput(uint32_t n = UINT32_MAX) {
    std::lock_guard<std::recursive_mutex> lock(Output_.Lock);
    while (n-- > 0 && (Output_.Ring.Full || Output_.Ring.Head != Output_.Ring.Tail)) {
      Written.push_back(Output_.Ring.Buffer[Output_.Ring.Tail]);
      Output_.Ring.Tail = (Output_.Ring.Tail + 1) % Output_.Ring.Size;
      Output_.Ring.Full = false;
    }
    if (Output_.Ring.Head == Output_.Ring.Tail) Output_.Ring.Head = Output_.Ring.Tail = 0;
  }
  // Empties the output ring as if every byte had been written.
  void DiscardOutput() {
    std::lock_guard<std::recursive_mutex> lock(Output_.Lock);
    Output_.Ring.Head = Output_.Ring.Tail = 0;
    Output_.Ring.Full = false;
  }
  // One pass of the delivery thread after a device event with this mask.
  void Pass(uint32_t mask = EvRxChar) {
    Signals_.EventMask = mask;
    ProcessCommEvent();
    ProcessTimers();
  }
  int OpenDefault(uint32_t outSize = 8192, int baud = 9600) {
    return OpenCom("/dev/test", baud, 0, outSize, 4096, 1, 8, pNone);
  }

  // Ring state for assertions.
  bool InFull() {
    std::lock_guard lock(Input_.Lock);
    return Input_.Ring.Full;
  }
  uint32_t InTail() {
    std::lock_guard lock(Input_.Lock);
    return Input_.Ring.Tail;
  }
  bool OutFull() {
    std::lock_guard<std::recursive_mutex> lock(Output_.Lock);
    return Output_.Ring.Full;
  }
  bool HasRings() {
    std::lock_guard lock(Input_.Lock);
    return Input_.Ring.Buffer != nullptr;
  }
  void SetRingSeen() { Signals_.RingSeen = true; }

  // --- device operations ---------------------------------------------------
  int EscapeComFunction(int func) override {
    Escapes.push_back(func);
    return EscapeResult;
  }
  int FlushCom(int queue) override {
    Flushes.push_back(queue);
    if (queue == FlushOutput) {
      std::lock_guard<std::recursive_mutex> lock(Output_.Lock);
      Output_.Ring.Head = Output_.Ring.Tail = 0;
      Output_.Ring.Full = false;
    } else {
      std::lock_guard<std::mutex> lock(DriverLock);
      Pending.clear();
      PendingPos = 0;
    }
    return 0;
  }
  int GetComError(TSerComStat& status) override {
    if (OnGetComError) OnGetComError();
    {
      std::lock_guard<std::recursive_mutex> out(Output_.Lock);
      status.OutQue = Output_.Ring.Used();
    }
    std::lock_guard<std::mutex> lock(DriverLock);
    status.InQue = static_cast<uint32_t>(Pending.size() - PendingPos);
    const int bits = ErrorBits;
    ErrorBits = 0;
    return bits;
  }
  int ReadFailed(int) override { return 0; }
  int GetComState(TSerLineSettings& settings) override {
    settings = Device;
    return 0;
  }
  int ReadCom(uint8_t* buffer, uint32_t size) override {
    std::lock_guard<std::mutex> lock(DriverLock);
    if (ReadResult) return ReadResult;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, Pending.size() - PendingPos));
    std::memcpy(buffer, Pending.data() + PendingPos, n);
    PendingPos += n;
    ++Reads;
    return static_cast<int>(n);
  }
  int SetComState(const TSerLineSettings& settings) override {
    Device = settings;
    ++StateWrites;
    return SetStateResult;
  }
  int WriteCom(const uint8_t* buffer, uint32_t size) override {
    if (WriteResult != 0) return WriteResult;
    std::lock_guard<std::recursive_mutex> lock(Output_.Lock);
    for (uint32_t i = 0; i < size; ++i) {
      Output_.Ring.Buffer[Output_.Ring.Head] = buffer[i];
      Output_.Ring.Head = (Output_.Ring.Head + 1) % Output_.Ring.Size;
    }
    return static_cast<int>(size);
  }
  bool WaitComEvent(uint32_t& mask) override {
    mask = 0;
    return false;
  }
  int SetupCom(uint32_t, uint32_t) override { return SetupResult; }
  void StartDispatcher() override { ++Starts; }
  void StopDispatcher() override { CloseEvents(); }
  int OpenComDevice(const std::string& path, uint32_t, uint32_t) override {
    OpenedPath = path;
    return OpenResult;
  }
  int CloseComDevice() override {
    ++Closes;
    return 0;
  }
  int YieldTimeSlice() override { return 0; }
  uint8_t GetModemLines() override {
    std::lock_guard<std::mutex> lock(DriverLock);
    return ModemLines;
  }

  uint32_t NowMs() const override { return Clock; }
  std::tm LocalNow() const override { return Wall; }
  void SleepMs(uint32_t ms) override {
    Sleeps.push_back(ms);
    if (OnSleep) OnSleep();
  }

  using TSerBaseDispatcher::RefreshStatus;

  // --- what the test sets and reads -------------------------------------------
  std::mutex DriverLock;
  std::string Pending;  // bytes waiting in the "driver" from PendingPos on
  size_t PendingPos = 0;
  uint8_t ErrorBits = 0;
  uint8_t ModemLines = 0;
  std::vector<uint8_t> Written;
  TSerLineSettings Device;
  int OpenResult = 3;
  int SetupResult = 0;
  int SetStateResult = 0;
  int EscapeResult = 0;
  int WriteResult = 0;
  int ReadResult = 0;
  int Reads = 0;
  int Starts = 0;
  int Closes = 0;
  int StateWrites = 0;
  std::string OpenedPath;
  std::vector<int> Escapes;
  std::vector<int> Flushes;
  std::vector<uint32_t> Sleeps;
  std::function<void()> OnSleep;
  std::function<void()> OnGetComError;
  std::atomic<uint32_t> Clock{1000};
  std::tm Wall{};
};

// Delivers notifications synchronously on the calling thread.
class TSyncLink : public TSerMainThreadLink {
 public:
  struct TMsg {
    TSerWindowHandle Window;
    uint16_t Msg;
    uint16_t WParam;
    int32_t LParam;
  };
  using THandler = std::function<void(const TMsg&)>;

  bool SendNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                        std::chrono::milliseconds) override {
    TMsg m{window, msg, wParam, lParam};
    Sent.push_back(m);
    if (OnMessage) OnMessage(m);
    return true;
  }
  void PostNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam) override {
    Posted.push_back({window, msg, wParam, lParam});
  }
  void ProcessOneMessage() override {}
  void Synchronize(const std::function<void()>& fn) override { fn(); }

  std::vector<TMsg> Sent;
  std::vector<TMsg> Posted;
  THandler OnMessage;
};
