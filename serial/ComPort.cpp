#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include <cmath>
#include <exception>

#include "serial/NativeDispatcher.h"
#include "serial/NotifyWindow.h"
#include "serial/SystemServices.h"

using namespace serial_codes;

namespace {
uint16_t Scaled(double value, double factor) {
  // Nearest, halves to even (the default rounding mode).
  return static_cast<uint16_t>(std::nearbyint(value * factor));
}
bool OnMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}
}  // namespace

TSerCustomComPort::TSerCustomComPort()
    : Resolver_(DefaultDevicePath),
      PortPrompt_([](const std::function<bool(uint16_t)>&) -> uint16_t { return 0; }),
      Reporter_([](const std::exception& e) { qWarning("%s", e.what()); }) {}

TSerCustomComPort::~TSerCustomComPort() {
  try {
    if (PortState_ == stActive) ClosePort();
  } catch (const std::exception& e) {
    Report(e);
  }
  // A close deferred to a notification that will never be handled now.
  if (Dispatcher_) ReleaseDispatcher();
  NotifyWindow_.reset();
}

int TSerCustomComPort::Check(int code) { return CheckPortResult(this, code); }

void TSerCustomComPort::Report(const std::exception& e) {
  if (Reporter_) Reporter_(e);
}

// ---- dispatcher and device path ----------------------------------------------

void TSerCustomComPort::SetPortResolver(TPortResolver resolver) { Resolver_ = std::move(resolver); }

std::string TSerCustomComPort::DevicePath(uint16_t portNumber) const { return Resolver_(portNumber); }

TSerBaseDispatcher* TSerCustomComPort::Dispatcher() {
  if (!Dispatcher_ && !Loading_ && PortState_ != stActive && AutoOpen_) SetOpen(true);
  return Dispatcher_.get();
}

void TSerCustomComPort::CreateDispatcher() {
  if (DeviceLayer_ != dlWin32) RaisePortError(ecNullApi);
  // No telephony service supplies device handles on this platform.
  if (TapiMode_ == tmOn) RaisePortError(ecNotOpenedByTapi);
  Dispatcher_ = std::make_unique<TSerNativeDispatcher>(this);
  Dispatcher_->SetMainThreadLink(this);
}

int TSerCustomComPort::OpenDispatcher() {
  uint8_t options = 0;
  if (DTR_) options |= OpenOptDtr;
  if (RTS_) options |= OpenOptRts;
  if (HWFlowOptions_ & HwfUseDtrBit) options |= OpenOptDtrHandshake;
  if (HWFlowOptions_ & HwfUseRtsBit) options |= OpenOptRtsHandshake;
  return Dispatcher_->OpenCom(DevicePath(ComNumber_), Baud_, options, OutSize_, InSize_, StopBits_, DataBits_, Parity_);
}

void TSerCustomComPort::ReleaseDispatcher() {
  LineLost_ = false;
  RegisterNotifyWindow(false);
  Dispatcher_.reset();
  PortState_ = stClosed;
  Open_ = false;
}

// ---- open and close ------------------------------------------------------------

void TSerCustomComPort::CheckPortNumber() {
  if (ComNumber_ != 0) return;
  if (!PromptForPort_) {
    Check(ecNoPortSelected);
    return;
  }
  const TPortResolver resolver = Resolver_;
  const uint16_t chosen = PortPrompt_([&resolver](uint16_t n) { return IsPortPresent(n, resolver); });
  if (chosen == 0) {
    Check(ecNoPortSelected);
    return;
  }
  ComNumber_ = chosen;
}

void TSerCustomComPort::DoOpenPort() {
  if (TapiMode_ != tmOn) CheckPortNumber();
  if (ComNumber_ == 0 && TapiMode_ != tmOn) return;  // refused while loading
  CreateDispatcher();
  Dispatcher_->SetDeviceName("COM" + std::to_string(ComNumber_));
  try {
    int code = OpenDispatcher();
    if (code == ecAccessDenied) code = ecAlreadyOpen;
    else if (code == ecFileNotFound || code == ecPathNotFound) code = ecBadId;
    if (code != 0) {
      try {
        Check(code);
      } catch (ESerException& e) {
        e.Failure = Dispatcher_->OpenFailure();
        throw;
      }
      ReleaseDispatcher();  // only reached while loading, when Check does not raise
      return;
    }
    PortState_ = stActive;
    UpdateHandlerFlags();
    Force_ = true;
    SetTracing(Tracing_);
    SetLogging(Logging_);
    SetHWFlowOptions(HWFlowOptions_);
    SetSWFlowOptions(SWFlowOptions_);
    SetXOnChar(XOnChar_);
    SetXOffChar(XOffChar_);
    SetTriggerLength(TriggerLength_);
    SetDTR(DTR_);
    SetRTS(RTS_);
    SetUseEventWord(UseEventWord_);
    SetRS485Mode(RS485Mode_);
    SetThreadBoost(ThreadBoost_);
    Force_ = false;
    Open_ = true;
    RegisterNotifyWindow(true);
    if (CopyTriggersBack_) {
      CopyTriggersBack_ = false;
      Dispatcher_->RestoreTriggers(SavedTriggers_);
    }
  } catch (...) {
    Force_ = false;
    ReleaseDispatcher();
    throw;
  }
  NotifyPortOpen();
}

void TSerCustomComPort::ClosePort() {
  if (PortState_ != stActive) return;
  // A recorder file that cannot be written must not keep the port open: the
  // close goes on and the first such error is raised once it is complete.
  std::exception_ptr dumpError;
  try {
    SetTracing(tlDump);
  } catch (...) {
    dumpError = std::current_exception();
  }
  try {
    SetLogging(tlDump);
  } catch (...) {
    if (!dumpError) dumpError = std::current_exception();
  }
  PortState_ = stClosing;
  NotifyPortClosing();
  Dispatcher_->SaveTriggers(SavedTriggers_);
  CopyTriggersBack_ = true;
  Dispatcher_->CloseCom();
  if (Dispatcher_->ClosePending() && HandlerDepth_ > 0) {
    // Closed from a handler of the delivery in progress: the delivery thread
    // releases the port as it ends, and the close finishes when this message
    // comes back. Outside a handler the delivery is only queued for this thread;
    // releasing now drops it, and the close is complete when this returns.
    PostNotification(WindowHandle(), PortClosingMsg, 0, Dispatcher_->Handle() << 16);
    ProcessOneMessage();
  } else {
    ReleaseDispatcher();
  }
  NotifyPortClose();
  if (dumpError) std::rethrow_exception(dumpError);
}

void TSerCustomComPort::FinishDeferredClose() {
  if (!Dispatcher_) return;
  if (Dispatcher_->ThreadsRunning() || Dispatcher_->RunningThreadCount() > 0) {
    PostNotification(WindowHandle(), PortClosingMsg, 0, Dispatcher_->Handle() << 16);
    return;
  }
  ReleaseDispatcher();
  if (OpenPending_) {
    // Cleared even when the open fails, so a failing open is not retried for ever.
    struct TClear {
      bool& Flag;
      ~TClear() { Flag = false; }
    } clear{OpenPending_};
    DoOpenPort();
  }
}

void TSerCustomComPort::SetOpen(bool v) {
  if (Loading_) {
    if (v == Open_) return;
    Open_ = v;
    if (v) ForceOpen_ = true;
    return;
  }
  if (PortState_ == stClosing) {
    // Open still reads true until the deferred close is done; what counts is
    // the last wish, applied when it is.
    OpenPending_ = v;
    return;
  }
  if (v == Open_) return;
  if (!v) ClosePort();
  else if (PortState_ != stClosed) OpenPending_ = true;
  else DoOpenPort();
}

void TSerCustomComPort::Loaded() {
  Loading_ = false;
  if (ForceOpen_) Open_ = true;
  if (!Open_) return;
  ForceOpen_ = false;
  try {
    DoOpenPort();
  } catch (const std::exception& e) {
    Open_ = false;
    Report(e);
  }
}

void TSerCustomComPort::NotifyPortOpen() {
  if (OnPortOpen_) OnPortOpen_(this);
}

void TSerCustomComPort::NotifyPortClose() {
  if (OnPortClose_) OnPortClose_(this);
}

// ---- notification window -------------------------------------------------------

void TSerCustomComPort::RegisterNotifyWindow(bool doRegister) {
  if (doRegister) {
    if (!NotifyWindow_)
      NotifyWindow_ = std::make_unique<TSerNotifyWindow>(
          [this](uint16_t msg, uint16_t wParam, uint32_t lParam) { WindowProc(msg, wParam, lParam); });
    NotifyWindow_->SetAccepting(true);
    if (Dispatcher_) Dispatcher_->RegisterWindowHandler(WindowHandle());
  } else {
    if (Dispatcher_) Dispatcher_->RemoveWindowHandler(WindowHandle());
    // The window itself lives as long as the component: it may be the caller.
    if (NotifyWindow_) NotifyWindow_->SetAccepting(false);
  }
}

bool TSerCustomComPort::SendNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                                         std::chrono::milliseconds timeout) {
  // The window is created on the main thread before it is registered with the
  // dispatcher and outlives every port thread.
  if (window != WindowHandle() || !NotifyWindow_) return false;
  return NotifyWindow_->Send(msg, wParam, static_cast<uint32_t>(lParam), static_cast<int>(timeout.count()));
}

bool TSerCustomComPort::SendNotificationWaiting(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam,
                                                std::chrono::milliseconds timeout, TSerDeliveryWaiter& waiter) {
  if (window != WindowHandle() || !NotifyWindow_) return false;
  return NotifyWindow_->Send(msg, wParam, static_cast<uint32_t>(lParam), static_cast<int>(timeout.count()), &waiter);
}

void TSerCustomComPort::PostNotification(TSerWindowHandle window, uint16_t msg, uint16_t wParam, int32_t lParam) {
  if (window != WindowHandle() || !NotifyWindow_) return;
  NotifyWindow_->Post(msg, wParam, static_cast<uint32_t>(lParam));
}

void TSerCustomComPort::ProcessOneMessage() {
  if (NotifyWindow_ && OnMainThread()) NotifyWindow_->ProcessOneSent();
}

void TSerCustomComPort::Synchronize(const std::function<void()>& fn) {
  if (OnMainThread() || !NotifyWindow_) {
    THandlerScope scope{HandlerDepth_};
    fn();
    return;
  }
  QMetaObject::invokeMethod(NotifyWindow_.get(), fn, Qt::BlockingQueuedConnection);
}

void TSerCustomComPort::WindowProc(uint16_t msg, uint16_t wParam, uint32_t lParam) {
  if (msg < TriggerAvailMsg || (msg > TriggerStatusMsg && msg != PortClosingMsg && msg != LineLostMsg)) return;
  {
    auto lock = TSerBaseDispatcher::LockDispatcherList();
    TSerBaseDispatcher* d = TSerBaseDispatcher::FindDispatcher(static_cast<int32_t>(lParam >> 16));
    // A message of an earlier dispatcher whose slot was reused is not ours.
    if (d == nullptr || d->Owner() == nullptr || d != Dispatcher_.get()) return;
  }
  THandlerScope scope{HandlerDepth_};
  try {
    if (msg == LineLostMsg) {
      LineLost_ = true;
      if (OnLineLost_) OnLineLost_(this);
      return;
    }
    // A handler nested in this one (through message processing) has a view of
    // its own; this one's comes back when it returns.
    struct TViewScope {
      TSerBaseDispatcher::TInputView& View;
      TSerBaseDispatcher::TInputView Saved;
      ~TViewScope() { View = Saved; }
    } viewScope{View_, View_};
    View_ = {};
    if (msg == TriggerAvailMsg || msg == TriggerDataMsg) Dispatcher_->BeginTaking(View_);
    const uint16_t data = msg == TriggerAvailMsg ? wParam : static_cast<uint16_t>(lParam & 0xFFFF);
    DoTrigger(msg, wParam, data);
    switch (msg) {
      case TriggerAvailMsg: DoTriggerAvail(wParam); break;
      case TriggerDataMsg: DoTriggerData(wParam); break;
      case TriggerTimerMsg: DoTriggerTimer(wParam); break;
      case TriggerStatusMsg:
        DoTriggerStatus(wParam);
        switch (wParam & 7) {
          case StatusModem: DoTriggerModemStatus(); break;
          case StatusLineError: {
            // Each read clears what it reports: the break first, so that a break
            // shows only as LineBreak.
            const bool brk = LineBreak();
            const int error = LineError();
            DoTriggerLineError(static_cast<uint16_t>(error), brk);
            break;
          }
          case StatusOutBuffFree: DoTriggerOutbuffFree(); break;
          case StatusOutBuffUsed: DoTriggerOutbuffUsed(); break;
          case StatusOutSent: DoTriggerOutSent(); break;
          default: break;
        }
        break;
      case PortClosingMsg: FinishDeferredClose(); break;
      default: break;
    }
  } catch (const std::exception& e) {
    if (OnMainThread()) Report(e);
  } catch (...) {
  }
}

// ---- events ------------------------------------------------------------------

bool TSerCustomComPort::AnyTriggerHandler() const {
  return OnLineLost_ || OnTrigger_ || OnTriggerAvail_ || OnTriggerData_ || OnTriggerStatus_ || OnTriggerTimer_ ||
         OnTriggerLineError_ || OnTriggerModemStatus_ || OnTriggerOutbuffFree_ || OnTriggerOutbuffUsed_ ||
         OnTriggerOutSent_;
}

void TSerCustomComPort::UpdateHandlerFlags() {
  if (PortState_ != stActive) return;
  Dispatcher_->SetHandlerMode(AnyTriggerHandler() ? 1 : 2);
}

void TSerCustomComPort::SetOnLineLost(TNotifyEvent e) {
  OnLineLost_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTrigger(TTriggerEvent e) {
  OnTrigger_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent e) {
  OnTriggerAvail_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerData(TTriggerHandleEvent e) {
  OnTriggerData_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerStatus(TTriggerHandleEvent e) {
  OnTriggerStatus_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerTimer(TTriggerHandleEvent e) {
  OnTriggerTimer_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent e) {
  OnTriggerLineError_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerModemStatus(TNotifyEvent e) {
  OnTriggerModemStatus_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent e) {
  OnTriggerOutbuffFree_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent e) {
  OnTriggerOutbuffUsed_ = std::move(e);
  UpdateHandlerFlags();
}
void TSerCustomComPort::SetOnTriggerOutSent(TNotifyEvent e) {
  OnTriggerOutSent_ = std::move(e);
  UpdateHandlerFlags();
}

void TSerCustomComPort::DoTrigger(uint16_t msg, uint16_t triggerHandle, uint16_t data) {
  if (OnTrigger_) OnTrigger_(this, msg, triggerHandle, data);
}
void TSerCustomComPort::DoTriggerAvail(uint16_t count) {
  if (OnTriggerAvail_) OnTriggerAvail_(this, count);
}
void TSerCustomComPort::DoTriggerData(uint16_t h) {
  if (OnTriggerData_) OnTriggerData_(this, h);
}
void TSerCustomComPort::DoTriggerStatus(uint16_t h) {
  if (OnTriggerStatus_) OnTriggerStatus_(this, h);
}
void TSerCustomComPort::DoTriggerTimer(uint16_t h) {
  if (OnTriggerTimer_) OnTriggerTimer_(this, h);
}
void TSerCustomComPort::DoTriggerLineError(uint16_t error, bool lineBreak) {
  if (OnTriggerLineError_) OnTriggerLineError_(this, error, lineBreak);
}
void TSerCustomComPort::DoTriggerModemStatus() {
  if (OnTriggerModemStatus_) OnTriggerModemStatus_(this);
}
void TSerCustomComPort::DoTriggerOutbuffFree() {
  if (OnTriggerOutbuffFree_) OnTriggerOutbuffFree_(this);
}
void TSerCustomComPort::DoTriggerOutbuffUsed() {
  if (OnTriggerOutbuffUsed_) OnTriggerOutbuffUsed_(this);
}
void TSerCustomComPort::DoTriggerOutSent() {
  if (OnTriggerOutSent_) OnTriggerOutSent_(this);
}
void TSerCustomComPort::DoWaitChar(char c) {
  if (OnWaitChar_) OnWaitChar_(this, c);
}

// ---- data ----------------------------------------------------------------------

int TSerCustomComPort::PutBlock(const void* block, uint16_t len) {
  TSerBaseDispatcher* d = Dispatcher();
  if (d == nullptr) return Check(ecCommNotOpen);
  if (PortState_ == stClosing) return 0;
  Check(d->PutBlock(block, len));
  return 0;
}

char TSerCustomComPort::GetCharUnannounced() {
  // Past the view the dispatcher counts: the view no longer matches its count.
  View_.End = 0;
  TSerBaseDispatcher* d = Dispatcher();
  if (d == nullptr) {
    Check(ecCommNotOpen);
    return 0;
  }
  if (PortState_ == stClosing) return 0;
  uint8_t c = 0;
  // Called once per received byte: the result goes through Check only when it
  // is an error.
  if (const int rc = d->GetChar(c); rc < 0) {
    Check(rc);
    return 0;
  }
  return static_cast<char>(c);
}

uint16_t TSerCustomComPort::OutBuffUsed() {
  if (PortState_ != stActive) return 0;
  const int used = Dispatcher_->OutBuffUsed();
  return used > 0 ? static_cast<uint16_t>(used) : 0;
}

int TSerCustomComPort::LineError() {
  if (PortState_ != stActive) return 0;
  return Check(Dispatcher_->GetLineError());
}

bool TSerCustomComPort::LineBreak() { return PortState_ == stActive && Dispatcher_->GetLineBreak(); }

void TSerCustomComPort::YieldTime() {
  if (PortState_ != stClosing && Dispatcher_) Dispatcher_->YieldTimeSlice();
}

void TSerCustomComPort::SetTriggerLength(uint16_t v) {
  if (v == TriggerLength_ && !Force_) return;
  TriggerLength_ = v;
  if (PortState_ == stActive) Dispatcher_->SetTriggerLength(v);
}

void TSerCustomComPort::SetThreadBoost(uint8_t v) {
  if (v == ThreadBoost_ && !Force_) return;
  ThreadBoost_ = v;
  if (PortState_ == stActive) Dispatcher_->SetThreadBoost(v);
}

// ---- property setters ------------------------------------------------------------

void TSerCustomComPort::SetDeviceLayer(TDeviceLayer v) {
  if (v == DeviceLayer_ || PortState_ != stClosed || v != dlWin32) return;
  DeviceLayer_ = v;
  DeviceLayerChanged();
}

void TSerCustomComPort::SetComNumber(uint16_t v) {
  if (v == ComNumber_) return;
  if (PortState_ != stActive) {
    ComNumber_ = v;
    return;
  }
  Dispatcher_->SaveTriggers(SavedTriggers_);
  const TTraceLogState tracing = Tracing_;
  const TTraceLogState logging = Logging_;
  // A recorder that could not be dumped does not stop the move; its error is
  // raised at the end.
  std::exception_ptr closeError;
  try {
    SetOpen(false);
  } catch (...) {
    closeError = std::current_exception();
  }
  ComNumber_ = v;
  if (PortState_ == stClosing) {
    // Changed from inside an event handler: the close completes after the
    // handler, and without this the port would then stay closed. The recorder
    // states are kept as a closed port keeps them.
    Tracing_ = tracing > tlOn ? tlOff : tracing;
    Logging_ = logging > tlOn ? tlOff : logging;
    OpenPending_ = true;
  } else {
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (PortState_ == stActive) Dispatcher_->RestoreTriggers(SavedTriggers_);
  }
  if (closeError) std::rethrow_exception(closeError);
}

template <typename T>
void TSerCustomComPort::SetLineField(T& field, T value) {
  if (value == field) return;
  field = value;
  if (PortState_ == stActive) Check(Dispatcher_->SetLine(Baud_, Parity_, StopBits_, DataBits_));
}

void TSerCustomComPort::SetBaud(int v) { SetLineField(Baud_, v); }
void TSerCustomComPort::SetParity(TParity v) { SetLineField(Parity_, v); }
void TSerCustomComPort::SetDataBits(uint16_t v) { SetLineField(DataBits_, v); }
void TSerCustomComPort::SetStopBits(uint16_t v) { SetLineField(StopBits_, v); }

void TSerCustomComPort::SetInSize(uint16_t v) {
  if (v == InSize_) return;
  InSize_ = v;
  if (PortState_ == stActive) Dispatcher_->SetQueueSizes(InSize_, OutSize_);
}

void TSerCustomComPort::SetOutSize(uint16_t v) {
  if (v == OutSize_) return;
  OutSize_ = v;
  // The open port keeps the output ring it was opened with.
  if (PortState_ == stActive) Dispatcher_->SetQueueSizes(InSize_, OutSize_);
}

void TSerCustomComPort::SetModemLine(bool& stored, bool value, int (TSerBaseDispatcher::*set)(bool)) {
  if (value == stored && !Force_) return;
  if (PortState_ != stActive) {
    stored = value;
    return;
  }
  // A line under handshake control answers 1 and keeps its state.
  if (Check((Dispatcher_.get()->*set)(value)) == 0) stored = value;
}

void TSerCustomComPort::SetDTR(bool v) { SetModemLine(DTR_, v, &TSerBaseDispatcher::SetDtr); }

void TSerCustomComPort::SetRTS(bool v) { SetModemLine(RTS_, v, &TSerBaseDispatcher::SetRts); }

void TSerCustomComPort::SetHWFlowOptions(uint8_t v) {
  if (v == HWFlowOptions_ && !Force_) return;
  if (v != 0) {
    if (BufferFull_ == 0 || BufferFull_ > InSize_) BufferFull_ = Scaled(InSize_, 0.9);
    if (BufferResume_ == 0 || BufferResume_ > BufferFull_) BufferResume_ = Scaled(InSize_, 0.1);
  }
  if (PortState_ == stActive) {
    Check(Dispatcher_->SetHardwareFlow(BufferFull_, BufferResume_, v));
    HWFlowOptions_ = v;
    if (v & (HwfUseRtsBit | HwfRequireCtsBit)) SetRS485Mode(false);
    return;
  }
  HWFlowOptions_ = v;
}

void TSerCustomComPort::SetSWFlowOptions(TSWFlowOptions v) {
  if (v == SWFlowOptions_ && !Force_) return;
  if (v != swfNone) {
    if (BufferFull_ == 0 || BufferFull_ > InSize_) BufferFull_ = Scaled(InSize_, 0.75);
    if (BufferResume_ == 0 || BufferResume_ > BufferFull_) BufferResume_ = Scaled(InSize_, 0.25);
  }
  if (PortState_ == stActive) {
    if (v == swfNone) {
      Check(Dispatcher_->ClearSoftwareFlow());
    } else {
      const uint8_t mode = v == swfTransmit  ? SwfTransmitBit
                           : v == swfReceive ? SwfReceiveBit
                                             : static_cast<uint8_t>(SwfTransmitBit | SwfReceiveBit);
      Check(Dispatcher_->SetSoftwareFlow(BufferFull_, BufferResume_, mode));
    }
  }
  SWFlowOptions_ = v;
}

void TSerCustomComPort::SetXOnChar(uint8_t v) {
  if (v == XOnChar_ && !Force_) return;
  XOnChar_ = v;
  if (PortState_ == stActive) Check(Dispatcher_->SetFlowChars(XOnChar_, XOffChar_));
}

void TSerCustomComPort::SetXOffChar(uint8_t v) {
  if (v == XOffChar_ && !Force_) return;
  XOffChar_ = v;
  if (PortState_ == stActive) Check(Dispatcher_->SetFlowChars(XOnChar_, XOffChar_));
}

void TSerCustomComPort::ReapplyFlowOptions() {
  // The thresholds take effect through the flow setters, which must act even
  // on unchanged options; the force flag is restored however they end.
  struct ForceScope {
    bool& flag;
    bool saved;
    ~ForceScope() { flag = saved; }
  } scope{Force_, Force_};
  Force_ = true;
  SetHWFlowOptions(HWFlowOptions_);
  SetSWFlowOptions(SWFlowOptions_);
}

void TSerCustomComPort::SetBufferFull(uint16_t v) {
  if (v == BufferFull_ && !Force_) return;
  BufferFull_ = v > InSize_ ? Scaled(v, 0.9) : v;
  ReapplyFlowOptions();
}

void TSerCustomComPort::SetBufferResume(uint16_t v) {
  if (v == BufferResume_ && !Force_) return;
  BufferResume_ = v > BufferFull_ ? Scaled(BufferFull_, 0.1) : v;
  ReapplyFlowOptions();
}

void TSerCustomComPort::ApplyTraceState(TTraceLogState& state, TTraceLogState wanted, bool trace) {
  if (wanted == state && !Force_) return;
  if (PortState_ == stClosing) return;
  if (PortState_ != stActive) {
    state = wanted > tlOn ? tlOff : wanted;
    return;
  }
  TSerBaseDispatcher& d = *Dispatcher_;
  const bool wasOn = state == tlOn;
  const bool paused = state == tlPause;
  switch (wanted) {
    case tlOff:
      if (wasOn || paused) Check(trace ? d.AbortTracing() : d.AbortLogging());
      state = tlOff;
      break;
    case tlOn:
      if (paused) Check(trace ? d.StartTracing() : d.StartLogging());
      else Check(trace ? d.InitTracing(TraceSize_) : d.InitLogging(LogSize_));
      state = tlOn;
      break;
    case tlDump:
    case tlAppend:
      if (wasOn || paused) {
        Check(trace ? d.StartTracing() : d.StartLogging());
        const std::string& name = trace ? TraceName_ : LogName_;
        const bool hex = trace ? TraceHex_ : LogHex_;
        const bool allHex = trace ? TraceAllHex_ : LogAllHex_;
        int code;
        if (wanted == tlDump) code = trace ? d.DumpTrace(name, hex, allHex) : d.DumpLog(name, hex, allHex);
        else code = trace ? d.AppendTrace(name, hex, allHex) : d.AppendLog(name, hex, allHex);
        state = tlOff;
        Check(code);
      }
      state = tlOff;
      break;
    case tlClear:
      if (wasOn || paused) Check(trace ? d.ClearTracing() : d.ClearLogging());
      break;
    case tlPause:
      if (wasOn) {
        Check(trace ? d.StopTracing() : d.StopLogging());
        state = tlPause;
      }
      break;
  }
}

void TSerCustomComPort::SetTracing(TTraceLogState v) { ApplyTraceState(Tracing_, v, true); }

void TSerCustomComPort::SetLogging(TTraceLogState v) { ApplyTraceState(Logging_, v, false); }

void TSerCustomComPort::SetTraceSize(uint32_t v) { ResizeRecorder(TraceSize_, v, 4000000, Tracing_, true); }

void TSerCustomComPort::SetLogSize(uint32_t v) { ResizeRecorder(LogSize_, v, 16000000, Logging_, false); }

void TSerCustomComPort::ResizeRecorder(uint32_t& size, uint32_t wanted, uint32_t cap, TTraceLogState& state,
                                       bool trace) {
  if (wanted == size) return;
  size = std::min(wanted, cap);
  if (PortState_ != stActive || (state != tlOn && state != tlPause)) return;
  const TTraceLogState was = state;
  Check(trace ? Dispatcher_->AbortTracing() : Dispatcher_->AbortLogging());
  state = tlOff;
  // A pause is taken up again through on: pausing from off would do nothing
  // and leave the recorder off for good.
  ApplyTraceState(state, was == tlPause ? tlOn : was, trace);
  if (was == tlPause) ApplyTraceState(state, tlPause, trace);
}

void TSerCustomComPort::SetUseMSRShadow(bool) {}

void TSerCustomComPort::SetUseEventWord(bool v) {
  if (v == UseEventWord_ && !Force_) return;
  UseEventWord_ = v;
  if (PortState_ != stActive) return;
  if (v) Dispatcher_->SetOptionBits(OptionEventWord);
  else Dispatcher_->ClearOptionBits(OptionEventWord);
}

void TSerCustomComPort::SetRS485Mode(bool v) {
  if (v == RS485Mode_ && !Force_) return;
  RS485Mode_ = v;
  if (PortState_ == stActive) Dispatcher_->SetRS485Mode(v);
  if (v) {
    // RS-485 drives RTS itself; handshake on RTS or CTS would fight it. Through
    // the setter, so that an open port's line drops the handshake and takes up
    // the RTS toggle instead of only the property changing.
    SetHWFlowOptions(static_cast<uint8_t>(HWFlowOptions_ & ~(HwfUseRtsBit | HwfRequireCtsBit)));
    SetRTS(false);
  }
}

// ---- copying -------------------------------------------------------------------

void TSerCustomComPort::Assign(const TSerCustomComPort& s) {
  if (&s == this) return;
  DeviceLayer_ = s.DeviceLayer_;
  ComNumber_ = s.ComNumber_;
  Baud_ = s.Baud_;
  Parity_ = s.Parity_;
  DataBits_ = s.DataBits_;
  StopBits_ = s.StopBits_;
  InSize_ = s.InSize_;
  OutSize_ = s.OutSize_;
  HWFlowOptions_ = s.HWFlowOptions_;
  SWFlowOptions_ = s.SWFlowOptions_;
  XOnChar_ = s.XOnChar_;
  XOffChar_ = s.XOffChar_;
  BufferFull_ = s.BufferFull_;
  BufferResume_ = s.BufferResume_;
  DTR_ = s.DTR_;
  RTS_ = s.RTS_;
  // A port that is not open keeps only off and on, as the setters store them:
  // a copied pause or dump would leave a recorder that never records.
  Tracing_ = s.Tracing_ > tlOn ? tlOff : s.Tracing_;
  TraceSize_ = s.TraceSize_;
  TraceName_ = s.TraceName_;
  TraceHex_ = s.TraceHex_;
  TraceAllHex_ = s.TraceAllHex_;
  Logging_ = s.Logging_ > tlOn ? tlOff : s.Logging_;
  LogSize_ = s.LogSize_;
  LogName_ = s.LogName_;
  LogHex_ = s.LogHex_;
  LogAllHex_ = s.LogAllHex_;
  AutoOpen_ = s.AutoOpen_;
  PromptForPort_ = s.PromptForPort_;
  RS485Mode_ = s.RS485Mode_;
  TapiMode_ = s.TapiMode_;
  TriggerLength_ = s.TriggerLength_;
  ThreadBoost_ = s.ThreadBoost_;
  OnTrigger_ = s.OnTrigger_;
  OnTriggerAvail_ = s.OnTriggerAvail_;
  OnTriggerData_ = s.OnTriggerData_;
  OnTriggerStatus_ = s.OnTriggerStatus_;
  OnTriggerTimer_ = s.OnTriggerTimer_;
  OnPortOpen_ = s.OnPortOpen_;
  OnPortClose_ = s.OnPortClose_;
  Open_ = false;
  if (s.Open_ && s.Dispatcher_) {
    s.Dispatcher_->SaveTriggers(SavedTriggers_);
    CopyTriggersBack_ = true;
  }
  UpdateHandlerFlags();
}
