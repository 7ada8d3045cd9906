#pragma once
// The serial port component: the port's settings as properties, opening and
// closing, bytes in and out through the dispatcher, and the dispatcher's
// notifications turned into events on the main thread.
//
// Threads: every member is for the main thread, which must run a Qt event loop
// for notifications to arrive. Event handlers run on the main thread, one at a
// time, in the order the port threads delivered them; a handler may call
// GetChar, PutBlock and SetOpen(false) (the close then completes after it).

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "serial/Dispatcher.h"
#include "serial/PortPrompt.h"
#include "serial/SerialCommon.h"
#include "serial/SerialErrors.h"

class TSerNotifyWindow;

class TSerBaseComponent {
 public:
  virtual ~TSerBaseComponent() = default;
  // Always "v1.00"; writing it does nothing.
  std::string Version() const { return SerialLayerVersion; }
  void SetVersion(const std::string&) {}
};

class TSerCustomComPort : public TSerBaseComponent, public TSerLoadingState, private TSerMainThreadLink {
 public:
  using TNotifyEvent = std::function<void(TSerCustomComPort* CP)>;
  using TTriggerEvent = std::function<void(TSerCustomComPort* CP, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)>;
  using TTriggerAvailEvent = std::function<void(TSerCustomComPort* CP, uint16_t Count)>;
  using TTriggerHandleEvent = std::function<void(TSerCustomComPort* CP, uint16_t TriggerHandle)>;
  using TTriggerLineErrorEvent = std::function<void(TSerCustomComPort* CP, uint16_t Error, bool LineBreak)>;
  using TWaitCharEvent = std::function<void(TSerCustomComPort* CP, char C)>;
  // Port number -> device path.
  using TPortResolver = std::function<std::string(uint16_t portNumber)>;
  using TExceptionReporter = std::function<void(const std::exception& e)>;

  TSerCustomComPort();
  ~TSerCustomComPort() override;
  TSerCustomComPort(const TSerCustomComPort&) = delete;
  TSerCustomComPort& operator=(const TSerCustomComPort&) = delete;

  // ---- published properties ------------------------------------------------
  TDeviceLayer DeviceLayer() const { return DeviceLayer_; }
  void SetDeviceLayer(TDeviceLayer v);
  uint16_t ComNumber() const { return ComNumber_; }
  void SetComNumber(uint16_t v);
  int Baud() const { return Baud_; }
  void SetBaud(int v);
  bool PromptForPort() const { return PromptForPort_; }
  void SetPromptForPort(bool v) { PromptForPort_ = v; }
  TParity Parity() const { return Parity_; }
  void SetParity(TParity v);
  uint16_t DataBits() const { return DataBits_; }
  void SetDataBits(uint16_t v);
  uint16_t StopBits() const { return StopBits_; }
  void SetStopBits(uint16_t v);
  uint16_t InSize() const { return InSize_; }
  void SetInSize(uint16_t v);
  uint16_t OutSize() const { return OutSize_; }
  void SetOutSize(uint16_t v);
  bool AutoOpen() const { return AutoOpen_; }
  void SetAutoOpen(bool v) { AutoOpen_ = v; }
  bool Open() const { return Open_; }
  // True: the open sequence; throws an ESerException-derived (or EInOutError)
  // exception on failure and leaves the port closed; the exception's Failure
  // (OpenFailureOf) tells the path and the cause. False: the close sequence.
  // Outside an event handler the close is complete when this returns: no handler
  // runs for this port afterwards, and replies in flight are dropped, so an owner
  // about to be destroyed calls SetOpen(false) first. Inside a handler the close
  // completes after the handler returns; Open reads true until then, and the last
  // value set meanwhile is what the port ends up with.
  void SetOpen(bool v);
  bool DTR() const { return DTR_; }
  void SetDTR(bool v);
  bool RTS() const { return RTS_; }
  void SetRTS(bool v);
  // A set of THWFlowOptions: bit (1 << option).
  uint8_t HWFlowOptions() const { return HWFlowOptions_; }
  void SetHWFlowOptions(uint8_t v);
  TSWFlowOptions SWFlowOptions() const { return SWFlowOptions_; }
  void SetSWFlowOptions(TSWFlowOptions v);
  uint8_t XOnChar() const { return XOnChar_; }
  void SetXOnChar(uint8_t v);
  uint8_t XOffChar() const { return XOffChar_; }
  void SetXOffChar(uint8_t v);
  uint16_t BufferFull() const { return BufferFull_; }
  void SetBufferFull(uint16_t v);
  uint16_t BufferResume() const { return BufferResume_; }
  void SetBufferResume(uint16_t v);
  TTraceLogState Tracing() const { return Tracing_; }
  void SetTracing(TTraceLogState v);
  uint32_t TraceSize() const { return TraceSize_; }
  void SetTraceSize(uint32_t v);
  std::string TraceName() const { return TraceName_; }
  void SetTraceName(const std::string& v) { TraceName_ = v.substr(0, 255); }
  bool TraceHex() const { return TraceHex_; }
  void SetTraceHex(bool v) { TraceHex_ = v; }
  bool TraceAllHex() const { return TraceAllHex_; }
  void SetTraceAllHex(bool v) { TraceAllHex_ = v; }
  TTraceLogState Logging() const { return Logging_; }
  void SetLogging(TTraceLogState v);
  uint32_t LogSize() const { return LogSize_; }
  void SetLogSize(uint32_t v);
  std::string LogName() const { return LogName_; }
  void SetLogName(const std::string& v) { LogName_ = v.substr(0, 255); }
  bool LogHex() const { return LogHex_; }
  void SetLogHex(bool v) { LogHex_ = v; }
  bool LogAllHex() const { return LogAllHex_; }
  void SetLogAllHex(bool v) { LogAllHex_ = v; }
  bool UseMSRShadow() const { return true; }
  virtual void SetUseMSRShadow(bool v);
  bool UseEventWord() const { return UseEventWord_; }
  void SetUseEventWord(bool v);
  uint16_t CommNotificationLevel() const { return CommNotificationLevel_; }
  void SetCommNotificationLevel(uint16_t v) { CommNotificationLevel_ = v; }
  TTapiMode TapiMode() const { return TapiMode_; }
  void SetTapiMode(TTapiMode v) { TapiMode_ = v; }
  bool RS485Mode() const { return RS485Mode_; }
  void SetRS485Mode(bool v);

  // ---- events ----------------------------------------------------------------
  void SetOnPortOpen(TNotifyEvent e) { OnPortOpen_ = std::move(e); }
  void SetOnPortClose(TNotifyEvent e) { OnPortClose_ = std::move(e); }
  void SetOnTrigger(TTriggerEvent e);
  void SetOnTriggerAvail(TTriggerAvailEvent e);
  void SetOnTriggerData(TTriggerHandleEvent e);
  void SetOnTriggerStatus(TTriggerHandleEvent e);
  void SetOnTriggerTimer(TTriggerHandleEvent e);
  void SetOnTriggerLineError(TTriggerLineErrorEvent e);
  void SetOnTriggerModemStatus(TNotifyEvent e);
  void SetOnTriggerOutbuffFree(TNotifyEvent e);
  void SetOnTriggerOutbuffUsed(TNotifyEvent e);
  void SetOnTriggerOutSent(TNotifyEvent e);
  void SetOnWaitChar(TWaitCharEvent e) { OnWaitChar_ = std::move(e); }
  // The device went away while open (a USB adapter unplugged, the far end of a
  // pseudo-terminal closed). Fired once per open, on the main thread, between
  // other events. The port stays open until the owner closes it: from then on
  // PutBlock throws ECommNotOpen (-2007), GetChar gives what had arrived, and
  // SetOpen(false) closes as usual; SetOpen(true) later opens the device anew
  // once it is back.
  void SetOnLineLost(TNotifyEvent e);
  // The device went away since the open; true as soon as the port threads saw
  // it (also with no handler assigned), false again once the port is closed.
  bool LineLost() const { return LineLost_ || (Dispatcher_ && Dispatcher_->LineLost()); }

  // ---- operations --------------------------------------------------------------
  // Queues len bytes for sending; returns 0. Throws -2007 without a port, -3006
  // when the output ring has less room. Does nothing while the port is closing.
  int PutBlock(const void* block, uint16_t len);
  // The next unread byte. Inside an availability event the bytes taken are
  // consumed when the handler returns. Throws -2007 without a port, -3007 when
  // nothing is unread; byte 0 while the port is closing.
  // Runs once per received byte, so the common case (a byte the running
  // availability handler was announced) is taken here, without a call or a lock.
  char GetChar() {
    if (View_.Next < View_.End && PortState_ == stActive) return TakeAnnounced();
    return GetCharUnannounced();
  }
  // Bytes put and not yet written to the device; 0 unless the port is open.
  uint16_t OutBuffUsed();
  uint16_t TriggerLength() const { return TriggerLength_; }
  void SetTriggerLength(uint16_t v);
  uint8_t ThreadBoost() const { return ThreadBoost_; }
  void SetThreadBoost(uint8_t v);
  // The pending line error (1..4, 9, or 0) and the break flag; each clears what it reports.
  int LineError();
  bool LineBreak();
  virtual void YieldTime();
  // Copies the settings and handlers of source; the copy is not open.
  void Assign(const TSerCustomComPort& source);
  // The dispatcher, opening the port first when AutoOpen allows; null when none.
  // Valid until the port closes.
  TSerBaseDispatcher* Dispatcher();
  TPortState PortState() const { return PortState_; }

  // ---- set-up ------------------------------------------------------------------
  // Default: DefaultDevicePath (\\.\COMn on Windows, /dev/ttyS(n-1) elsewhere).
  void SetPortResolver(TPortResolver resolver);
  std::string DevicePath(uint16_t portNumber) const;
  // How CheckPortNumber asks for a port (default: no port is chosen; a program
  // with a window installs the port selection dialog).
  void SetPortPrompt(TPortPrompt prompt) { PortPrompt_ = std::move(prompt); }
  // Where exceptions from event handlers and from Loaded go (default: a warning
  // on the Qt message log).
  void SetExceptionReporter(TExceptionReporter reporter) { Reporter_ = std::move(reporter); }
  // Stored settings are set between these two, as loading a form would: no setter
  // touches a device meanwhile; Loaded then opens the port if Open was set.
  void BeginLoading() { Loading_ = true; }
  virtual void Loaded();
  bool BeingLoaded() const override { return Loading_; }

 protected:
  virtual void CreateDispatcher();
  virtual void DeviceLayerChanged() {}
  virtual int OpenDispatcher();
  virtual void RegisterNotifyWindow(bool doRegister);
  virtual void CheckPortNumber();
  virtual void DoTrigger(uint16_t msg, uint16_t triggerHandle, uint16_t data);
  virtual void DoTriggerAvail(uint16_t count);
  virtual void DoTriggerData(uint16_t triggerHandle);
  virtual void DoTriggerStatus(uint16_t triggerHandle);
  virtual void DoTriggerTimer(uint16_t triggerHandle);
  virtual void UpdateHandlerFlags();
  virtual void DoTriggerLineError(uint16_t error, bool lineBreak);
  virtual void DoTriggerModemStatus();
  virtual void DoTriggerOutbuffFree();
  virtual void DoTriggerOutbuffUsed();
  virtual void DoTriggerOutSent();
  virtual void DoWaitChar(char c);
  virtual void ClosePort();
  virtual void DoOpenPort();
  virtual void NotifyPortOpen();
  virtual void NotifyPortClose();
  virtual void NotifyPortClosing() {}

 private:
  // TSerMainThreadLink, used by the dispatcher's threads.
  bool SendNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                        std::chrono::milliseconds timeout) override;
  bool SendNotificationWaiting(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                               std::chrono::milliseconds timeout, TSerDeliveryWaiter& waiter) override;
  void PostNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam) override;
  void ProcessOneMessage() override;
  void Synchronize(const std::function<void()>& fn) override;

  void WindowProc(uint16_t msg, uint16_t wParam, uint32_t lParam);
  void FinishDeferredClose();
  void ReleaseDispatcher();
  int Check(int code);
  // Stores one of the line fields; an open port takes the new line at once.
  template <typename T>
  void SetLineField(T& field, T value);
  // Stores DTR or RTS; an open port switches the line, which a line under
  // handshake control refuses (it keeps its state).
  void SetModemLine(bool& stored, bool value, int (TSerBaseDispatcher::*set)(bool));
  void ReapplyFlowOptions();
  void ApplyTraceState(TTraceLogState& state, TTraceLogState wanted, bool trace);
  // A new recorder size (capped); a recorder that is on or paused starts again with it.
  void ResizeRecorder(uint32_t& size, uint32_t wanted, uint32_t cap, TTraceLogState& state, bool trace);
  void Report(const std::exception& e);
  bool AnyTriggerHandler() const;
  TSerWindowHandle WindowHandle() const { return reinterpret_cast<TSerWindowHandle>(this); }

  // Published.
  TDeviceLayer DeviceLayer_ = dlWin32;
  uint16_t ComNumber_ = 0;
  int Baud_ = 19200;
  bool PromptForPort_ = true;
  TParity Parity_ = pNone;
  uint16_t DataBits_ = 8;
  uint16_t StopBits_ = 1;
  uint16_t InSize_ = 4096;
  uint16_t OutSize_ = 4096;
  bool AutoOpen_ = true;
  bool Open_ = false;
  bool DTR_ = true;
  bool RTS_ = true;
  uint8_t HWFlowOptions_ = 0;
  TSWFlowOptions SWFlowOptions_ = swfNone;
  uint8_t XOnChar_ = 17;
  uint8_t XOffChar_ = 19;
  uint16_t BufferFull_ = 0;
  uint16_t BufferResume_ = 0;
  TTraceLogState Tracing_ = tlOff;
  uint32_t TraceSize_ = 10000;
  std::string TraceName_ = "SERIAL.TRC";
  bool TraceHex_ = true;
  bool TraceAllHex_ = false;
  TTraceLogState Logging_ = tlOff;
  uint32_t LogSize_ = 10000;
  std::string LogName_ = "SERIAL.LOG";
  bool LogHex_ = true;
  bool LogAllHex_ = false;
  bool UseEventWord_ = true;
  uint16_t CommNotificationLevel_ = 10;
  TTapiMode TapiMode_ = tmAuto;
  bool RS485Mode_ = false;

  TNotifyEvent OnPortOpen_, OnPortClose_;
  TTriggerEvent OnTrigger_;
  TTriggerAvailEvent OnTriggerAvail_;
  TTriggerHandleEvent OnTriggerData_, OnTriggerStatus_, OnTriggerTimer_;
  TTriggerLineErrorEvent OnTriggerLineError_;
  TNotifyEvent OnTriggerModemStatus_, OnTriggerOutbuffFree_, OnTriggerOutbuffUsed_, OnTriggerOutSent_;
  TWaitCharEvent OnWaitChar_;
  TNotifyEvent OnLineLost_;

  // Unpublished state.
  TPortState PortState_ = stClosed;
  bool Force_ = false;
  bool OpenPending_ = false;
  bool LineLost_ = false;
  // Event handlers running now on the main thread (nested through message
  // processing): a close inside one must leave the release to the delivery.
  int HandlerDepth_ = 0;
  struct THandlerScope {
    int& Depth;
    explicit THandlerScope(int& d) : Depth(d) { ++Depth; }
    ~THandlerScope() { --Depth; }
  };
  // The bytes announced to the availability or data handler running now, which
  // GetChar hands out without a lock per byte; empty outside such a handler.
  TSerBaseDispatcher::TInputView View_;
  // The next announced byte: it cannot move before the handler returns, and
  // only this thread counts what it takes.
  char TakeAnnounced() {
    static_assert((TSerBaseDispatcher::InRingSize & (TSerBaseDispatcher::InRingSize - 1)) == 0);
    TSerBaseDispatcher& d = *Dispatcher_;
    const uint8_t c = View_.Ring[(View_.Tail + View_.Next) & (TSerBaseDispatcher::InRingSize - 1)];
    d.NoteTaken(++View_.Next);
    if (d.TracingOn()) d.AddTraceEntry('R', c);
    return static_cast<char>(c);
  }
  char GetCharUnannounced();
  bool ForceOpen_ = false;
  bool Loading_ = false;
  TSerSavedTriggers SavedTriggers_;
  bool CopyTriggersBack_ = false;
  [[maybe_unused]] uint16_t TapiHandle_ = 0;
  uint8_t ThreadBoost_ = 0;
  uint16_t TriggerLength_ = 1;
  std::unique_ptr<TSerBaseDispatcher> Dispatcher_;
  std::unique_ptr<TSerNotifyWindow> NotifyWindow_;
  TPortResolver Resolver_;
  TPortPrompt PortPrompt_;
  TExceptionReporter Reporter_;
};

class TSerComPort : public TSerCustomComPort {
 public:
  using TSerCustomComPort::TSerCustomComPort;
};
