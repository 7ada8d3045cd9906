// The per-port dispatcher: input and output rings, line settings, triggers and the
// delivery of notifications to the main thread.
//
// Who owns what:
// - TSerBaseDispatcher (this file, Dispatcher.cpp) owns the rings, the line-settings
//   record, the trigger and handler lists, the six events (created by OpenCom), the
//   thread bookkeeping (running count, StopRequested, ClosePending, priorities), the
//   trace and log recorders, and the passes the threads run: ProcessCommEvent,
//   ProcessTimers, ThreadFinished. It implements device slots 10, 16 and 17.
// - The device layer derives from it and implements the remaining device slots
//   (0..9 and 11..15) plus GetModemLines: the port threads (PortThreads.h: their
//   bodies, StartDispatcher and StopDispatcher, which closes the events with
//   CloseEvents) and the one adapter over the platform's device
//   (DeviceDispatcher.h: opening, reading, writing). The most-derived destructor
//   must call DestroySequence() first, while the members still exist.
// - The component implements TSerMainThreadLink, through which notifications reach
//   the main thread.
//
// State comes in small groups, each with the lock that guards it named beside it.
// Locks: MainLock_ (dispatcher state, line settings, triggers, handlers,
// recorders), Input_.Lock (input ring), Output_.Lock (output ring); all
// re-entrant. Order: Input_.Lock or Output_.Lock may be held while MainLock_ is
// taken, never the other way round; Input_.Lock may be held while Output_.Lock is
// taken (GetComError). No lock is held while a notification is delivered.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ByteRing.h"
#include "serial/OpenFailure.h"
#include "serial/Recorder.h"
#include "serial/SerialCommon.h"
#include "serial/SerialEvents.h"
#include "serial/SerialLock.h"

class TSerCustomComPort;

// Identifies a notification window; its meaning belongs to the TSerMainThreadLink.
using TSerWindowHandle = uintptr_t;

// How a delivering thread spends its wait for the main thread: the delivery
// thread keeps reading the device meanwhile, so that bytes arriving during a
// delivery are in the ring when it ends.
class TSerDeliveryWaiter {
 public:
  virtual ~TSerDeliveryWaiter() = default;
  // The delivering thread: blocks until Wake, timeoutMs (negative: no limit) or
  // work of its own ends the wait; returning early is allowed.
  virtual void Wait(int timeoutMs) = 0;
  // Any thread: ends the current or the next Wait.
  virtual void Wake() = 0;
};

// The hand-off to the main thread.
class TSerMainThreadLink {
 public:
  virtual ~TSerMainThreadLink() = default;
  // Called on the delivery thread: runs the window's handling of (msg, wParam,
  // lParam) on the main thread and waits until it has finished, at most timeout.
  // False when it did not finish in time (the handling may still run later).
  virtual bool SendNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                                std::chrono::milliseconds timeout) = 0;
  // As SendNotification, but the sender waits through waiter, which Wake ends
  // whenever the handling has finished or the window stops accepting. The main
  // thread may wake it as the handling ends, also just after this has returned:
  // the waiter must outlive the handling. Default: SendNotification.
  virtual bool SendNotificationWaiting(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                                       std::chrono::milliseconds timeout, TSerDeliveryWaiter& waiter) {
    (void)waiter;
    return SendNotification(window, msg, wParam, lParam, timeout);
  }
  // Any thread: queues (msg, wParam, lParam) for the window; returns at once.
  virtual void PostNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam) = 0;
  // Processes at most one pending message of the calling thread (a quit request is
  // left pending). Used while the main thread waits for port threads that may be
  // waiting for it.
  virtual void ProcessOneMessage() = 0;
  // Runs fn on the main thread and waits for it (event handlers that ask for it).
  virtual void Synchronize(const std::function<void()>& fn) = 0;
};

// The device's line settings, as the device layer reads and applies them.
enum TDtrControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRtsControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
struct TSerLineSettings {
  uint32_t BaudRate = 9600;
  bool Binary = true;
  bool ParityCheck = false;
  bool OutxCtsFlow = false;
  bool OutxDsrFlow = false;
  TDtrControl DtrControl = dtrDisable;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = false;
  bool OutX = false;  // XON/XOFF on output
  bool InX = false;   // XON/XOFF on input
  bool NullStrip = false;
  TRtsControl RtsControl = rtsDisable;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = pNone;  // TParity order
  uint8_t StopBits = 0;    // 0 one, 1 one and a half, 2 two
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  bool operator==(const TSerLineSettings&) const = default;
};

// The device status record GetComError fills.
struct TSerComStat {
  uint32_t Flags = 0;
  uint32_t InQue = 0;   // bytes waiting in the driver's input queue
  uint32_t OutQue = 0;  // bytes pending in the output ring
};

// Trigger records.
struct TSerTimerTrigger {
  uint16_t Handle = 0;
  uint32_t StartTicks = 0;
  uint32_t ExpireTicks = 0;  // StartTicks + the timer's length in 55 ms ticks
  bool Active = false;
};
struct TSerDataTrigger {
  uint16_t Handle = 0;
  std::vector<uint8_t> Pattern;     // upper-case when IgnoreCase
  std::vector<uint8_t> MatchState;  // MatchState[i]: the last i+1 bytes matched Pattern[0..i]
  bool Matched = false;
  bool IgnoreCase = false;
};
struct TSerStatusTrigger {
  uint16_t Handle = 0;  // low 3 bits: status kind
  uint16_t Value = 0;
  bool Active = false;
  bool Hit = false;
};

// The trigger set the component keeps across a close and reopen.
struct TSerSavedTriggers {
  uint16_t TriggerLength = 0;
  std::vector<TSerTimerTrigger> Timers;
  std::vector<TSerDataTrigger> Data;
  std::vector<TSerStatusTrigger> Status;
};

// Handler records.
using TSerProcHandler = std::function<void(uint16_t msg, uint16_t wParam, int32_t lParam)>;
using TSerEventHandler = std::function<void(uintptr_t user, uint16_t msg, uint16_t wParam, int32_t lParam)>;

enum TSerThreadKind : uint8_t { tkCom, tkDisp, tkOut };

class TSerBaseDispatcher {
 public:
  static constexpr uint32_t InRingSize = 8192;
  static constexpr std::chrono::milliseconds SendTimeout{3000};

  explicit TSerBaseDispatcher(TSerCustomComPort* owner);
  virtual ~TSerBaseDispatcher();
  TSerBaseDispatcher(const TSerBaseDispatcher&) = delete;
  TSerBaseDispatcher& operator=(const TSerBaseDispatcher&) = delete;

  // --- process-wide dispatcher list ------------------------------------------
  // Any thread. The returned lock guards the list; hold it while using the
  // pointer FindDispatcher gives (a dispatcher leaves the list before it dies).
  static std::unique_lock<std::mutex> LockDispatcherList();
  static TSerBaseDispatcher* FindDispatcher(int32_t handle);  // caller holds the list lock
  int32_t Handle() const { return Handle_; }
  TSerCustomComPort* Owner() const { return Owner_; }

  // --- set-up (main thread) --------------------------------------------------
  void SetMainThreadLink(TSerMainThreadLink* link) { Link_ = link; }
  void SetDeviceName(const std::string& name);
  std::string DeviceName() const;

  // --- operations the component calls (main thread) --------------------------
  int OpenCom(const std::string& path, int baud, uint8_t options, uint32_t outSize, uint32_t inSize, int stopBits,
              int dataBits, int parity);
  void CloseCom();
  int SetLine(int baud, int parity, int stopBits, int dataBits);
  int SetQueueSizes(uint32_t inSize, uint32_t outSize);
  int SetDtr(bool on);
  int SetRts(bool on);
  int SetHardwareFlow(uint32_t full, uint32_t resume, uint8_t options);
  int SetSoftwareFlow(uint32_t full, uint32_t resume, uint8_t options);
  int ClearSoftwareFlow();
  int SetFlowChars(uint8_t xon, uint8_t xoff);
  int GetChar(uint8_t& c);
  // The bytes an availability or data notification announced, for its handler
  // to take one at a time without a lock per byte. BeginTaking (the thread that
  // runs the handler, inside it) fills the view and returns false outside such
  // a delivery. The bytes stay put until the handler returns: the delivery
  // thread moves the ring's tail only after the delivery, and new input lands
  // behind the view's end. NoteTaken(n) records that the handler has taken n of
  // them, as n GetChar calls would; the view is valid until the handler returns.
  struct TInputView {
    const uint8_t* Ring = nullptr;
    uint32_t Tail = 0;  // ring index of the first byte the notification announced
    uint32_t Next = 0;  // bytes taken so far
    uint32_t End = 0;   // bytes the view may hand out
  };
  bool BeginTaking(TInputView& view);
  void NoteTaken(uint32_t n) { Delivery_.GetCount.store(n, std::memory_order_relaxed); }
  int PeekChar(uint8_t& c, uint32_t n);
  int InBuffUsed();
  int FlushInBuffer();
  int PutBlock(const void* block, uint32_t length);
  int OutBuffUsed();
  int OutBuffFree();
  int FlushOutBuffer();
  int GetLineError();
  bool GetLineBreak();
  void SetTriggerLength(uint16_t length);
  uint16_t TriggerLength() const { return Triggers_.Length.load(); }
  void SetRS485Mode(bool on);
  bool RS485Mode() const { return LineState_.RS485.load(); }
  void SetOptionBits(uint8_t mask);
  void ClearOptionBits(uint8_t mask);
  uint8_t OptionBits() const { return LineState_.Options.load(); }
  void RegisterWindowHandler(TSerWindowHandle window);
  void RemoveWindowHandler(TSerWindowHandle window);
  void RegisterProcHandler(uint32_t id, TSerProcHandler proc);
  void RemoveProcHandler(uint32_t id);
  void RegisterEventHandler(uint32_t id, TSerEventHandler handler, uintptr_t user, bool synchronize);
  void RemoveEventHandler(uint32_t id);
  void SaveTriggers(TSerSavedTriggers& saved);
  void RestoreTriggers(const TSerSavedTriggers& saved);
  // Modem status byte (main lock): current states from the device in the high
  // nibble, kept change bits; returns the byte read, then keeps only mask's bits.
  uint8_t GetModemStatus(uint8_t mask);
  void RefreshModemStatus();
  bool Delivering() const { return Delivery_.Active.load(); }
  bool ClosePending() const { return Run_.ClosePending.load(); }
  bool ThreadsRunning() const { return Run_.Running.load(); }
  int RunningThreadCount() const { return Run_.Count.load(); }
  uint8_t ThreadBoost() const { return Run_.Boost.load(); }
  int ThreadPriority(TSerThreadKind kind) const { return Run_.Priority[kind].load(); }
  uint32_t InSize() const { return LineState_.InSize; }
  // Why the last OpenCom failed (main thread, after it returned).
  const TOpenFailure& OpenFailure() const { return OpenFailure_; }
  // Any thread: the device went away since the open; output is refused from then on.
  bool LineLost() const { return Status_.LineLost.load(); }
  uint32_t OutSize() const { return LineState_.OutSize; }
  TSerLineSettings LineSettings() const;

  // --- trace and log (main lock) ---------------------------------------------
  int InitTracing(uint32_t size);
  int ClearTracing();
  int AbortTracing();
  int StartTracing();
  int StopTracing();
  int DumpTrace(const std::string& file, bool hex, bool allHex);
  int AppendTrace(const std::string& file, bool hex, bool allHex);
  void AddTraceEntry(char kind, uint8_t byte);
  int InitLogging(uint32_t size);
  int ClearLogging();
  int AbortLogging();
  int StartLogging();
  int StopLogging();
  int DumpLog(const std::string& file, bool hex, bool allHex);
  int AppendLog(const std::string& file, bool hex, bool allHex);
  void AddLogEntry(uint8_t type, uint8_t subType, uint32_t dataLen, const uint8_t* data, uint32_t other);
  bool TracingOn() const { return Recorders_.Trace.Active.load(std::memory_order_relaxed); }
  bool LoggingOn() const;

  // --- what the port threads run ---------------------------------------------
  // Whether the delivery thread must run its passes periodically (an active
  // timer or status trigger); otherwise it sleeps until an event wakes it.
  bool NeedsPeriodicPass() const;
  // Delivery thread: after each device event, or after 50 ms without one.
  void ProcessCommEvent();
  void ProcessTimers();
  // Each thread's last action.
  void ThreadFinished(TSerThreadKind kind);
  // Delivery thread: moves waiting driver input into the input ring.
  bool ReadIntoBuffer();
  // Received bytes that no trigger check has looked at yet (bytes read while a
  // delivery waited for the main thread).
  bool HasUnscannedInput();
  bool CheckReceiveTriggers();
  bool CheckStatusTriggers();
  bool CheckTimerTriggers();
  bool DispatchNotification(uint16_t msg, uint16_t wParam, uint16_t data);
  // Sets DTR or RTS through EscapeComFunction; caller holds the main lock.
  int SetControlLine(bool handshake, int escape, bool& state, bool on);

  // --- device operations, slots 0..17 -----------------------------------------
  // Results: 0 or a negative result code unless stated. System errors are
  // translated with CodeFromErrno by the device layer itself.
  virtual int EscapeComFunction(int func) = 0;                    // 0
  virtual int FlushCom(int queue) = 0;                            // 1
  virtual int GetComError(TSerComStat& status) = 0;               // 2: error bits, cleared in the device
  virtual int ReadFailed(int code) = 0;                           // 3
  virtual int GetComState(TSerLineSettings& settings) = 0;        // 4
  virtual int ReadCom(uint8_t* buffer, uint32_t size) = 0;        // 5: bytes read, never waits
  virtual int SetComState(const TSerLineSettings& settings) = 0;  // 6
  // 7: under Output_.Lock copy size bytes into the output ring behind head (wrapping),
  // then signal OutputReady; returns the bytes accepted.
  virtual int WriteCom(const uint8_t* buffer, uint32_t size) = 0;
  virtual bool WaitComEvent(uint32_t& mask) = 0;                // 8: true when an event arrived
  virtual int SetupCom(uint32_t inSize, uint32_t outSize) = 0;  // 9
  virtual void ReleaseBuffers();                                // 10
  virtual void StartDispatcher() = 0;                           // 11
  virtual void StopDispatcher() = 0;                            // 12
  // 13: device handle (>= 0) or a negative result code.
  virtual int OpenComDevice(const std::string& path, uint32_t inSize, uint32_t outSize) = 0;
  virtual int CloseComDevice() = 0;            // 14
  virtual int YieldTimeSlice() = 0;            // 15
  virtual void SetThreadBoost(uint8_t boost);  // 16
  virtual void SetHandlerMode(int mode);       // 17
  // Current modem line states as ModemCts | ModemDsr | ModemRing | ModemDcd.
  virtual uint8_t GetModemLines() = 0;

 protected:
  // Clock and sleep, replaceable for tests.
  virtual uint32_t NowMs() const;    // monotonic milliseconds
  virtual std::tm LocalNow() const;  // wall-clock time for the log header
  virtual void SleepMs(uint32_t ms);
  // Applies a stored priority (TSerThreadPriority) to a running thread; no-op here.
  virtual void ApplyThreadPriority(TSerThreadKind kind, int priority);
  // Whether ReadCom may be asked for the whole free space of the input ring
  // without first counting the bytes that wait (GetComError): it then hands
  // over at once what the driver holds. The read pass then takes the line
  // errors through TakeReadLineErrors instead of a status refresh.
  virtual bool ReadsWhatWaits() const { return false; }
  // Delivery thread, after a direct read: the device's line-error bits, cleared there.
  virtual uint8_t TakeReadLineErrors() { return 0; }
  // Any thread: ends the delivery thread's wait when it waits on the device
  // itself; no-op where it waits on the events only.
  virtual void WakeDelivery() {}
  // The delivering thread: how it waits for the main thread during a delivery;
  // null to sleep until the handling has finished.
  virtual TSerDeliveryWaiter* DeliveryWaiter() { return nullptr; }

  // The destroy sequence: release or close, then process messages until every
  // thread has ended. The most-derived destructor calls it first.
  void DestroySequence();
  // Creates the six events (OpenCom does this); CloseEvents frees them.
  void CreateEvents();
  void CloseEvents();
  // Refreshes the device status record; the error bits are added to the line errors.
  void RefreshStatus();
  void ProcessOneMessage();

  TSerMainThreadLink* Link_ = nullptr;
  TSerCustomComPort* const Owner_;
  int32_t Handle_ = -1;
  std::atomic<int> DeviceHandle_{-1};

  // Dispatcher state, line settings, triggers, handlers, recorders.
  mutable std::recursive_mutex MainLock_;

  // The input ring, with the scan and notify positions in it kept as counts of
  // bytes received since the open: a position alone cannot tell "nothing new"
  // from "a whole ring of new bytes", and a full ring would then never be
  // announced.
  struct TInput {
    TSerReentrantLock Lock;  // taken once for every byte a handler reads
    TSerRing Ring;
    uint64_t Total = 0;
    uint64_t Scanned = 0;
    uint64_t Notified = 0;
  } Input_;

  struct TOutput {
    std::recursive_mutex Lock;
    TSerRing Ring;
    std::atomic<bool> SentPending{false};  // bytes put since the last "output sent" check
  } Output_;

  // What the device reported last; read without a lock.
  struct TStatus {
    std::atomic<uint8_t> LineErrors{0};  // kept until GetLineError reports them
    std::atomic<uint8_t> ModemStatus{0};
    std::atomic<uint32_t> Flags{0}, InQue{0}, OutQue{0};
    // Set by the device layer when it finds the device gone; cleared by OpenCom.
    std::atomic<bool> LineLost{false};
  } Status_;

  // The line as set up (MainLock_; the atomics are read without it).
  struct TLine {
    TSerLineSettings Settings;
    uint32_t LastBaud = 115200;
    bool DtrOn = false, DtrHandshake = false;
    bool RtsOn = false, RtsHandshake = false;
    uint16_t BaseAddress = 0;
    uint32_t InSize = 0, OutSize = 0;
    std::atomic<uint8_t> Options{0};
    std::atomic<bool> RS485{false};
  } LineState_;

  // The port threads. The device layer owns the thread objects; it marks a
  // thread Active when it starts it, and each thread ends by calling
  // ThreadFinished.
  struct TThreads {
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Running{false};
    std::atomic<bool> ReleaseOnDispExit{false};
    // A close came during a delivery: the delivery thread finishes the release.
    std::atomic<bool> ClosePending{false};
    std::atomic<int> Count{0};
    std::array<std::atomic<bool>, 3> Active{};
    std::atomic<uint8_t> Boost{0};
    std::array<std::atomic<int>, 3> Priority{};
  } Run_;

  // The hand-offs between the threads. The events are created by OpenCom and
  // closed by CloseEvents (from StopDispatcher).
  struct TSignals {
    std::unique_ptr<TSerDispatcherEvents> Events;
    std::atomic<uint32_t> EventMask{0};  // mask of the last device event
    // Delivery thread: whether this pass answers the event thread, which waits
    // for ComEventDone before it watches the device again.
    bool ReleaseEventThread = true;
    std::atomic<bool> RingSeen{false};
  } Signals_;

  TOpenFailure OpenFailure_;  // filled by the device layer's OpenComDevice

 private:
  struct TWindowRec {
    TSerWindowHandle Window;
    bool Removed;
  };
  struct TProcRec {
    uint32_t Id;
    TSerProcHandler Proc;
    bool Removed;
  };
  struct TEventRec {
    uint32_t Id;
    TSerEventHandler Proc;
    uintptr_t User;
    bool Removed;
    bool Synchronize;
  };

  int ApplyLineSettingsLocked();  // MainLock_ held
  void ResetTriggers();
  bool StatusLoop();  // true when a status trigger fired
  void ClearStatusHits();
  uint32_t BaudForTiming(uint32_t baud) const;
  void PurgeRemovedHandlers();
  bool OthersInstalled() const;
  // Runs op on one recorder under the main lock and keeps its mirrored on flag.
  template <typename TRecorder, typename TOp>
  int WithRecorder(TSerRecorderSlot<TRecorder>& slot, TOp op);
  TSerLogHeader LogHeader() const;  // MainLock_ held

  // MainLock_; a removal during a delivery only marks the record.
  struct THandlers {
    std::vector<TWindowRec> Windows;
    std::vector<TProcRec> Procs;
    std::vector<TEventRec> Events;
    std::atomic<bool> PortInstalled{false};
    std::atomic<bool> ServiceNeeded{false};
    bool RemovalPending = false;
  } Handlers_;

  // MainLock_.
  struct TTriggers {
    std::vector<TSerTimerTrigger> Timers;
    std::vector<TSerDataTrigger> Data;
    std::vector<TSerStatusTrigger> Status;
    std::atomic<uint16_t> Length{0};
    bool StatusHit = false;
    uint16_t NextHandle = 1;
  } Triggers_;

  // The notification being delivered and the bytes its handlers took.
  struct TDelivery {
    std::atomic<bool> Active{false};
    std::atomic<bool> InAvail{false};
    std::atomic<uint32_t> GetCount{0};
    std::atomic<uint32_t> MaxGetCount{0};
  } Delivery_;

  // MainLock_.
  struct TRecorders {
    TSerRecorderSlot<TSerTrace> Trace;
    TSerRecorderSlot<TSerLog> Log;
    uint32_t StartMs = 0;
    std::string DeviceName;
  } Recorders_;
};
