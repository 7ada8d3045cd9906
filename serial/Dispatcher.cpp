#include "serial/Dispatcher.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "serial/SerialErrors.h"

using namespace serial_codes;

namespace {

struct TDispatcherList {
  std::mutex Lock;
  std::vector<TSerBaseDispatcher*> Items;
};

TDispatcherList& DispatcherList() {
  static TDispatcherList list;
  return list;
}

using TLock = std::lock_guard<std::recursive_mutex>;
using TInLock = std::lock_guard<TSerReentrantLock>;

constexpr uint32_t TickMs = 55;
// A pass that reads at least this much is taken as part of a stream.
constexpr uint64_t kStreamingRead = 1024;

// Clears Delivering even when a handler throws, so that the port can still close.
template <typename F>
struct TScopeExit {
  F Fn;
  ~TScopeExit() { Fn(); }
};
template <typename F>
TScopeExit(F) -> TScopeExit<F>;

}  // namespace

TSerBaseDispatcher::TSerBaseDispatcher(TSerCustomComPort* owner) : Owner_(owner) {
  for (auto& p : Priority_) p = tpNormal;
  TDispatcherList& list = DispatcherList();
  std::lock_guard<std::mutex> lock(list.Lock);
  auto slot = std::find(list.Items.begin(), list.Items.end(), nullptr);
  if (slot != list.Items.end()) {
    *slot = this;
    Handle_ = static_cast<int32_t>(slot - list.Items.begin());
  } else {
    list.Items.push_back(this);
    Handle_ = static_cast<int32_t>(list.Items.size() - 1);
  }
}

TSerBaseDispatcher::~TSerBaseDispatcher() {
  TDispatcherList& list = DispatcherList();
  std::lock_guard<std::mutex> lock(list.Lock);
  if (Handle_ >= 0 && static_cast<size_t>(Handle_) < list.Items.size()) list.Items[Handle_] = nullptr;
  while (!list.Items.empty() && list.Items.back() == nullptr) list.Items.pop_back();
}

void TSerBaseDispatcher::DestroySequence() {
  if (ClosePending_) {
    ReleaseBuffers();
  } else {
    CloseCom();
  }
  // A port thread may be waiting for the main thread to handle a notification.
  while (RunningThreads_ > 0) {
    ProcessOneMessage();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::unique_lock<std::mutex> TSerBaseDispatcher::LockDispatcherList() {
  return std::unique_lock<std::mutex>(DispatcherList().Lock);
}

TSerBaseDispatcher* TSerBaseDispatcher::FindDispatcher(int32_t handle) {
  TDispatcherList& list = DispatcherList();
  if (handle < 0 || static_cast<size_t>(handle) >= list.Items.size()) return nullptr;
  return list.Items[handle];
}

void TSerBaseDispatcher::SetDeviceName(const std::string& name) {
  TLock lock(MainLock_);
  DeviceName_ = name;
}

std::string TSerBaseDispatcher::DeviceName() const {
  TLock lock(MainLock_);
  return DeviceName_;
}

uint32_t TSerBaseDispatcher::NowMs() const {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::tm TSerBaseDispatcher::LocalNow() const {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

void TSerBaseDispatcher::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TSerBaseDispatcher::ApplyThreadPriority(TSerThreadKind, int) {}

void TSerBaseDispatcher::ProcessOneMessage() {
  if (Link_ != nullptr) Link_->ProcessOneMessage();
}

void TSerBaseDispatcher::CreateEvents() { Events_ = std::make_unique<TSerDispatcherEvents>(); }

void TSerBaseDispatcher::CloseEvents() { Events_.reset(); }

// ---------------------------------------------------------------------------
// Open and close

int TSerBaseDispatcher::OpenCom(const std::string& path, int baud, uint8_t options,
                                uint32_t outSize, uint32_t inSize, int stopBits, int dataBits,
                                int parity) {
  RingSeen_ = false;
  Delivering_ = false;
  LineLost_ = false;
  OpenFailure_ = {};
  {
    TLock lock(MainLock_);
    HandlerRemovalPending_ = false;
  }
  CreateEvents();

  auto fail = [this](int code) {
    CloseCom();
    return code;
  };

  const int handle = OpenComDevice(path, inSize, outSize);
  if (handle < 0) return fail(handle);
  DeviceHandle_ = handle;

  if (int rc = SetupCom(inSize, outSize); rc < 0) return fail(rc);

  {
    TInLock lock(InLock_);
    In_.Allocate(InRingSize);
  }
  {
    TLock lock(OutLock_);
    Out_.Allocate(outSize);
  }
  {
    TLock lock(MainLock_);
    InSize_ = inSize;
    OutSize_ = outSize;
    LineErrors_ = 0;
    OutputSentPending_ = false;
    ClosePending_ = false;
    RS485_ = false;
    BaseAddress_ = 0;
    if (int rc = GetComState(Line_); rc < 0) return fail(rc);
    DtrHandshake_ = (options & OpenOptDtrHandshake) != 0;
    RtsHandshake_ = (options & OpenOptRtsHandshake) != 0;
  }
  if (!DtrHandshake_) {
    if (int rc = SetDtr((options & OpenOptDtr) != 0); rc < 0) return fail(rc);
  }
  if (!RtsHandshake_) {
    if (int rc = SetRts((options & OpenOptRts) != 0); rc < 0) return fail(rc);
  }

  ResetTriggers();
  {
    TInLock lock(InLock_);
    In_.Reset();
    InTotal_ = ScanCount_ = NotifyCount_ = 0;
  }
  InAvailDelivery_ = false;
  GetCount_ = 0;
  MaxGetCount_ = 0;
  ModemStatus_ = 0;
  GetModemStatus(0xF0);
  {
    TLock lock(MainLock_);
    LastBaud_ = 115200;
  }

  if (int rc = SetLine(baud, parity, stopBits, dataBits); rc < 0) return fail(rc);

  RefreshStatus();
  AbortTracing();
  AbortLogging();
  {
    TLock lock(MainLock_);
    StartMs_ = NowMs();
  }
  StartDispatcher();
  return ecOK;
}

void TSerBaseDispatcher::CloseCom() {
  if (DeviceHandle_ >= 0) {
    FlushOutBuffer();
    FlushInBuffer();
    CloseComDevice();
    DeviceHandle_ = -1;
  }
  if (Delivering_) {
    // The delivery thread finishes the release when it ends.
    ClosePending_ = true;
  } else {
    ReleaseBuffers();
  }
}

void TSerBaseDispatcher::ReleaseBuffers() {
  ReleaseOnDispExit_ = false;
  // Not under MainLock_: stopping waits for the delivery thread, which takes MainLock_.
  if (ThreadsRunning_) StopDispatcher();
  {
    TLock lock(OutLock_);
    Out_ = TSerRing{};
  }
  {
    TInLock lock(InLock_);
    In_ = TSerRing{};
  }
}

void TSerBaseDispatcher::ThreadFinished(TSerThreadKind kind) {
  ThreadActive_[kind] = false;
  if (kind == tkDisp && ReleaseOnDispExit_.exchange(false)) ReleaseBuffers();
  if (RunningThreads_.fetch_sub(1) == 1) ThreadsRunning_ = false;
}

// ---------------------------------------------------------------------------
// Line settings

uint32_t TSerBaseDispatcher::BaudForTiming(uint32_t baud) const {
  // The old index values some drivers report instead of a rate.
  static constexpr uint32_t Indexed[] = {110,   300,    600, 1200, 2400, 4800, 9600, 14400,
                                         19200, 0,      0,   38400, 0,   0,    0,    56000,
                                         0,     0,      0,   128000, 0,  0,    0,    256000};
  if (baud == 0xFEFF) return 115200;
  if (baud >= 0xFF10 && baud <= 0xFF27) {
    uint32_t mapped = Indexed[baud - 0xFF10];
    return mapped != 0 ? mapped : baud;
  }
  return baud;
}

int TSerBaseDispatcher::SetLine(int baud, int parity, int stopBits, int dataBits) {
  TSerLineSettings wanted;
  TSerLineSettings current;
  uint32_t lastBaud;
  {
    TLock lock(MainLock_);
    GetComState(Line_);
    Line_.Binary = true;
    Line_.ParityCheck = false;
    Line_.DsrSensitivity = false;
    Line_.TxContinueOnXoff = true;
    Line_.NullStrip = false;
    current = Line_;
    wanted = Line_;
    if (baud != 0) wanted.BaudRate = static_cast<uint32_t>(baud);
    if (parity != 5) wanted.Parity = static_cast<uint8_t>(parity);
    if (dataBits != 9) wanted.ByteSize = static_cast<uint8_t>(dataBits);
    if (stopBits != 3) {
      int stops = stopBits == 0 ? 1 : (stopBits > 2 ? 2 : stopBits);
      wanted.StopBits = stops == 1 ? 0 : 2;
    }
    // Five data bits always take one and a half stop bits, also when the stop
    // bits are to be kept: drivers refuse two stop bits with five data bits.
    if (wanted.ByteSize == 5) wanted.StopBits = 1;
    if (wanted.BaudRate == current.BaudRate && wanted.Parity == current.Parity &&
        wanted.ByteSize == current.ByteSize && wanted.StopBits == current.StopBits) {
      return ecOK;
    }
    lastBaud = LastBaud_;
  }

  // Bytes still queued or in the transmitter must leave with the old settings.
  for (int round = 0; round < 5000 && OutBuffUsed() > 0; ++round) SleepMs(2);
  uint32_t bits = current.ByteSize + 2u;
  if (current.Parity != pNone) ++bits;
  if (current.StopBits != 0) ++bits;
  const uint32_t rate = BaudForTiming(lastBaud);
  if (rate != 0) {
    uint64_t t = static_cast<uint64_t>(10'000'000 / rate) * bits * 18;  // 100 ns units
    if (t < 10'000) t *= 2;
    SleepMs(static_cast<uint32_t>((t + 9'999) / 10'000));
  }

  TLock lock(MainLock_);
  Line_.BaudRate = wanted.BaudRate;
  Line_.Parity = wanted.Parity;
  Line_.ByteSize = wanted.ByteSize;
  Line_.StopBits = wanted.StopBits;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::ApplyLineSettingsLocked() {
  if (!DtrHandshake_) Line_.DtrControl = DtrState_ ? dtrEnable : dtrDisable;
  if (!RtsHandshake_) Line_.RtsControl = RtsState_ ? rtsEnable : rtsDisable;
  const int rc = SetComState(Line_);
  LastBaud_ = Line_.BaudRate;
  SetDtr(DtrState_);
  if (!RS485_) SetRts(RtsState_);
  return rc;
}

int TSerBaseDispatcher::SetQueueSizes(uint32_t inSize, uint32_t outSize) {
  return SetupCom(inSize, outSize);
}

int TSerBaseDispatcher::SetDtr(bool on) {
  TLock lock(MainLock_);
  if (DtrHandshake_) return 1;
  if (EscapeComFunction(on ? EscSetDtr : EscClrDtr) < 0) return ecBadArgument;
  DtrState_ = on;
  return ecOK;
}

int TSerBaseDispatcher::SetRts(bool on) {
  TLock lock(MainLock_);
  if (RtsHandshake_) return 1;
  if (EscapeComFunction(on ? EscSetRts : EscClrRts) < 0) return ecBadArgument;
  RtsState_ = on;
  return ecOK;
}

int TSerBaseDispatcher::SetHardwareFlow(uint32_t full, uint32_t resume, uint8_t options) {
  TLock lock(MainLock_);
  if (full < resume || full > InSize_) return ecBadArgument;
  Line_.DtrControl = dtrDisable;
  Line_.RtsControl = rtsDisable;
  Line_.OutxCtsFlow = false;
  Line_.OutxDsrFlow = false;
  DtrHandshake_ = false;
  RtsHandshake_ = false;
  if (options & HwfUseDtrBit) {
    Line_.DtrControl = dtrHandshake;
    DtrHandshake_ = true;
  } else if (DtrState_) {
    Line_.DtrControl = dtrEnable;
  }
  if (options & HwfUseRtsBit) {
    Line_.RtsControl = rtsHandshake;
    RtsHandshake_ = true;
  } else if (RtsState_) {
    Line_.RtsControl = rtsEnable;
  }
  if (RS485_) {
    // The driver raises RTS while it transmits.
    Line_.RtsControl = rtsToggle;
    RtsHandshake_ = true;
  }
  Line_.XoffLim = static_cast<uint16_t>(InSize_ - full);
  Line_.XonLim = static_cast<uint16_t>(resume);
  if (options & HwfRequireDsrBit) Line_.OutxDsrFlow = true;
  if (options & HwfRequireCtsBit) Line_.OutxCtsFlow = true;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::SetSoftwareFlow(uint32_t full, uint32_t resume, uint8_t options) {
  TLock lock(MainLock_);
  if (full < resume || full > InSize_) return ecBadArgument;
  if (options & SwfReceiveBit) {
    Line_.InX = true;
    Line_.XoffLim = static_cast<uint16_t>(InSize_ - full);
    Line_.XonLim = static_cast<uint16_t>(resume);
    Line_.XonChar = 17;
    Line_.XoffChar = 19;
  }
  if (options & SwfTransmitBit) {
    Line_.OutX = true;
    Line_.XonChar = 17;
    Line_.XoffChar = 19;
  }
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::ClearSoftwareFlow() {
  TLock lock(MainLock_);
  Line_.OutX = false;
  Line_.InX = false;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
  TLock lock(MainLock_);
  Line_.XonChar = xon;
  Line_.XoffChar = xoff;
  return ApplyLineSettingsLocked();
}

TSerLineSettings TSerBaseDispatcher::LineSettings() const {
  TLock lock(MainLock_);
  return Line_;
}

// ---------------------------------------------------------------------------
// Input

void TSerBaseDispatcher::RefreshStatus() {
  TSerComStat stat;
  const int bits = GetComError(stat);
  StatFlags_ = stat.Flags;
  StatInQue_ = stat.InQue;
  StatOutQue_ = stat.OutQue;
  // Accumulated: an error stays until GetLineError reports it.
  if (bits > 0) LineErrors_ |= static_cast<uint8_t>(bits);
}

bool TSerBaseDispatcher::ReadIntoBuffer() {
  TInLock lock(InLock_);
  if (!In_.Buffer) return false;
  if (In_.Full) return true;
  RefreshStatus();
  const uint32_t waiting = StatInQue_;
  if (waiting == 0) return false;

  const uint32_t wanted = std::min(In_.Free(), waiting);
  const uint32_t first = std::min(In_.WritableRun(), wanted);

  auto readChunk = [this](uint32_t size) -> uint32_t {
    int n = ReadCom(In_.Buffer.get() + In_.Head, size);
    if (n < 0) {
      // A failed read delivers nothing; counting it as bytes would hand out garbage.
      ReadFailed(-1);
      n = 0;
    }
    const uint32_t got = static_cast<uint32_t>(std::min<int>(n, static_cast<int>(size)));
    if (got > 0) AddLogEntry(ltDispatch, lsReadCom, got, In_.Buffer.get() + In_.Head, got);
    In_.Commit(got);
    InTotal_ += got;
    return got;
  };

  const uint32_t got = readChunk(first);
  if (got == first && wanted > first) readChunk(wanted - first);
  return true;
}

bool TSerBaseDispatcher::HasUnscannedInput() {
  TInLock lock(InLock_);
  return ScanCount_ < InTotal_;
}

int TSerBaseDispatcher::PeekChar(uint8_t& c, uint32_t n) {
  TInLock lock(InLock_);
  if (n == 0 || In_.Used() < n) return ecBufferIsEmpty;
  c = In_.Unread(n - 1);
  return ecOK;
}

int TSerBaseDispatcher::GetChar(uint8_t& c) {
  // Handlers take their bytes one call at a time, so this runs once per byte
  // received: one lock, and the ring read in place rather than through PeekChar.
  {
    TInLock lock(InLock_);
    const uint32_t used = In_.Used();
    if (InAvailDelivery_.load(std::memory_order_relaxed)) {
      // Inside a delivery the bytes are only counted; the delivery's end consumes
      // them. Only this thread changes the count while the delivery waits for it.
      const uint32_t n = GetCount_.load(std::memory_order_relaxed) + 1;
      if (used < n) return ecBufferIsEmpty;
      c = In_.Unread(n - 1);
      GetCount_.store(n, std::memory_order_relaxed);
    } else {
      if (used == 0) return ecBufferIsEmpty;
      c = In_.Unread(0);
      In_.Consume(1);
    }
  }
  AddTraceEntry('R', c);
  return ecOK;
}

bool TSerBaseDispatcher::BeginTaking(TInputView& view) {
  TInLock lock(InLock_);
  view = {};
  if (!InAvailDelivery_.load(std::memory_order_relaxed) || !In_.Buffer) return false;
  view.Ring = In_.Buffer.get();
  view.Tail = In_.Tail;
  view.Next = GetCount_.load(std::memory_order_relaxed);
  view.End = In_.Used();
  return true;
}

int TSerBaseDispatcher::InBuffUsed() {
  TInLock lock(InLock_);
  const uint32_t used = In_.Used();
  if (!InAvailDelivery_) return static_cast<int>(used);
  const uint32_t taken = GetCount_;
  return used > taken ? static_cast<int>(used - taken) : 0;
}

int TSerBaseDispatcher::FlushInBuffer() {
  TInLock lock(InLock_);
  FlushCom(FlushInput);
  if (InAvailDelivery_) {
    MaxGetCount_ = In_.Used();
  } else {
    In_.Tail = In_.Head;
    GetCount_ = 0;
  }
  In_.Full = false;
  TLock main(MainLock_);
  for (auto& t : DataTriggers_) std::fill(t.MatchState.begin(), t.MatchState.end(), 0);
  return ecOK;
}

// ---------------------------------------------------------------------------
// Output

int TSerBaseDispatcher::PutBlock(const void* block, uint32_t length) {
  // Bytes for a device that went away would be dropped by the output thread.
  if (LineLost_) return ecCommNotOpen;
  if (length == 0) return ecOK;
  const auto* bytes = static_cast<const uint8_t*>(block);
  int accepted;
  {
    TLock lock(OutLock_);
    RefreshStatus();
    const uint32_t free = Out_.Free();
    if (length > free) return ecOutputBufferTooSmall;
    const bool fills = length == free;
    if (fills) Out_.Full = true;
    accepted = WriteCom(bytes, length);
    if (accepted <= 0) {
      if (fills) Out_.Full = false;
      RefreshStatus();
      return ecPutBlockFail;
    }
    OutputSentPending_ = true;
  }
  if (LogActive_ || TraceActive_) {
    TLock lock(MainLock_);
    AddLogEntry(ltDispatch, lsWriteCom, static_cast<uint32_t>(accepted), bytes,
                static_cast<uint32_t>(accepted));
    for (int i = 0; i < accepted; ++i) AddTraceEntry('T', bytes[i]);
  }
  return ecOK;
}

int TSerBaseDispatcher::OutBuffUsed() {
  TLock lock(OutLock_);
  RefreshStatus();
  return static_cast<int>(Out_.Used());
}

int TSerBaseDispatcher::OutBuffFree() {
  TLock lock(OutLock_);
  RefreshStatus();
  return static_cast<int>(Out_.Free());
}

int TSerBaseDispatcher::FlushOutBuffer() { return FlushCom(FlushOutput); }

// ---------------------------------------------------------------------------
// Line errors and modem status

int TSerBaseDispatcher::GetLineError() {
  TLock lock(MainLock_);
  const uint8_t bits = LineErrors_;
  int code = 0;
  if (bits & LineRxOverflow) code = 1;
  else if (bits & LineOverrun) code = 2;
  else if (bits & LineParity) code = 3;
  else if (bits & LineFraming) code = 4;
  else if (bits & LineBreak) code = 9;
  if (code != 0) LineErrors_ &= static_cast<uint8_t>(~0x0F);
  return code;
}

bool TSerBaseDispatcher::GetLineBreak() {
  TLock lock(MainLock_);
  const bool brk = (LineErrors_.fetch_and(static_cast<uint8_t>(~LineBreak)) & LineBreak) != 0;
  return brk;
}

uint8_t TSerBaseDispatcher::GetModemStatus(uint8_t mask) {
  TLock lock(MainLock_);
  uint8_t ms = static_cast<uint8_t>((ModemStatus_ & 0x0F) | (GetModemLines() & 0xF0));
  if (RingSeen_.exchange(false)) ms |= ModemDeltaRing;
  ModemStatus_ = ms & mask;
  return ms;
}

void TSerBaseDispatcher::RefreshModemStatus() {
  TLock lock(MainLock_);
  const uint8_t before = ModemStatus_;
  GetModemStatus(0xFF);
  const uint8_t changed = static_cast<uint8_t>((before ^ ModemStatus_) & 0xF0);
  ModemStatus_ |= static_cast<uint8_t>(changed >> 4);
}

// ---------------------------------------------------------------------------
// Settings the component passes through

void TSerBaseDispatcher::SetTriggerLength(uint16_t length) {
  TLock lock(MainLock_);
  TriggerLength_ = length;
  AddLogEntry(ltTrigDataChange, lsAvailTrigger, 0, nullptr, length);
}

void TSerBaseDispatcher::SetRS485Mode(bool on) {
  TLock lock(MainLock_);
  RS485_ = on;
  const int prio = std::min(ThreadBoost_ + (on ? 4 : 3), static_cast<int>(tpTimeCritical));
  Priority_[tkOut] = prio;
  ApplyThreadPriority(tkOut, prio);
}

void TSerBaseDispatcher::SetThreadBoost(uint8_t boost) {
  TLock lock(MainLock_);
  if (boost == ThreadBoost_) return;
  ThreadBoost_ = boost;
  const int normal = std::min(boost + 3, static_cast<int>(tpTimeCritical));
  const int out = std::min(boost + (RS485_ ? 4 : 3), static_cast<int>(tpTimeCritical));
  Priority_[tkCom] = normal;
  Priority_[tkDisp] = normal;
  Priority_[tkOut] = out;
  ApplyThreadPriority(tkCom, normal);
  ApplyThreadPriority(tkDisp, normal);
  ApplyThreadPriority(tkOut, out);
}

void TSerBaseDispatcher::SetOptionBits(uint8_t mask) { Options_ |= mask; }

void TSerBaseDispatcher::ClearOptionBits(uint8_t mask) { Options_ &= static_cast<uint8_t>(~mask); }

// ---------------------------------------------------------------------------
// Handlers

bool TSerBaseDispatcher::OthersInstalled() const {
  const auto live = std::count_if(Windows_.begin(), Windows_.end(),
                                  [](const TWindowRec& w) { return !w.Removed; });
  auto liveProc = std::any_of(Procs_.begin(), Procs_.end(), [](const TProcRec& p) { return !p.Removed; });
  auto liveEvent = std::any_of(EventHandlers_.begin(), EventHandlers_.end(),
                               [](const TEventRec& e) { return !e.Removed; });
  return live > 1 || liveProc || liveEvent;
}

void TSerBaseDispatcher::SetHandlerMode(int mode) {
  TLock lock(MainLock_);
  const bool others = OthersInstalled();
  switch (mode) {
    case 0: HandlerServiceNeeded_ = others || PortHandlerInstalled_; break;
    case 1:
      PortHandlerInstalled_ = true;
      HandlerServiceNeeded_ = true;
      break;
    case 2:
      PortHandlerInstalled_ = false;
      HandlerServiceNeeded_ = others;
      break;
    default: break;
  }
}

void TSerBaseDispatcher::RegisterWindowHandler(TSerWindowHandle window) {
  TLock lock(MainLock_);
  Windows_.push_back({window, false});
  HandlerServiceNeeded_ = true;
  AddLogEntry(ltTrigHandlerAlloc, lsWindow, 0, nullptr, static_cast<uint32_t>(window));
}

template <typename List, typename Match>
static bool RemoveHandler(List& list, Match match, bool delivering, bool& pending) {
  auto it = std::find_if(list.begin(), list.end(),
                         [&](const auto& r) { return !r.Removed && match(r); });
  if (it == list.end()) return false;
  if (delivering) {
    // The delivery walks the list by index; removing now would skip a handler.
    it->Removed = true;
    pending = true;
  } else {
    list.erase(it);
  }
  return true;
}

void TSerBaseDispatcher::RemoveWindowHandler(TSerWindowHandle window) {
  TLock lock(MainLock_);
  if (RemoveHandler(Windows_, [&](const TWindowRec& w) { return w.Window == window; }, Delivering_,
                    HandlerRemovalPending_)) {
    AddLogEntry(ltTrigHandlerDispose, lsWindow, 0, nullptr, static_cast<uint32_t>(window));
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::RegisterProcHandler(uint32_t id, TSerProcHandler proc) {
  TLock lock(MainLock_);
  Procs_.push_back({id, std::move(proc), false});
  HandlerServiceNeeded_ = true;
  AddLogEntry(ltTrigHandlerAlloc, lsProcedure, 0, nullptr, id);
}

void TSerBaseDispatcher::RemoveProcHandler(uint32_t id) {
  TLock lock(MainLock_);
  if (RemoveHandler(Procs_, [&](const TProcRec& p) { return p.Id == id; }, Delivering_,
                    HandlerRemovalPending_)) {
    AddLogEntry(ltTrigHandlerDispose, lsProcedure, 0, nullptr, id);
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::RegisterEventHandler(uint32_t id, TSerEventHandler handler, uintptr_t user,
                                              bool synchronize) {
  TLock lock(MainLock_);
  EventHandlers_.push_back({id, std::move(handler), user, false, synchronize});
  HandlerServiceNeeded_ = true;
  AddLogEntry(ltTrigHandlerAlloc, lsMethod, 0, nullptr, id);
}

void TSerBaseDispatcher::RemoveEventHandler(uint32_t id) {
  TLock lock(MainLock_);
  if (RemoveHandler(EventHandlers_, [&](const TEventRec& e) { return e.Id == id; }, Delivering_,
                    HandlerRemovalPending_)) {
    AddLogEntry(ltTrigHandlerDispose, lsMethod, 0, nullptr, id);
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::PurgeRemovedHandlers() {
  auto purge = [](auto& list) {
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& r) { return r.Removed; }),
               list.end());
  };
  purge(Windows_);
  purge(Procs_);
  purge(EventHandlers_);
}

// ---------------------------------------------------------------------------
// Triggers

void TSerBaseDispatcher::ResetTriggers() {
  TLock lock(MainLock_);
  TriggerLength_ = 0;
  Timers_.clear();
  DataTriggers_.clear();
  StatusTriggers_.clear();
  StatusHit_ = false;
  NextTriggerHandle_ = 1;
}

void TSerBaseDispatcher::SaveTriggers(TSerSavedTriggers& saved) {
  TLock lock(MainLock_);
  saved.TriggerLength = TriggerLength_;
  saved.Timers = Timers_;
  saved.Data = DataTriggers_;
  saved.Status = StatusTriggers_;
}

void TSerBaseDispatcher::RestoreTriggers(const TSerSavedTriggers& saved) {
  TLock lock(MainLock_);
  TriggerLength_ = saved.TriggerLength;
  Timers_ = saved.Timers;
  DataTriggers_ = saved.Data;
  for (auto& t : DataTriggers_) t.MatchState.assign(t.Pattern.size(), 0);
  StatusTriggers_ = saved.Status;
  if (Events_ && NeedsPeriodicPass()) {
    Events_->PassWake.Set();
    WakeDelivery();
  }
}

bool TSerBaseDispatcher::NeedsPeriodicPass() const {
  TLock lock(MainLock_);
  return std::any_of(Timers_.begin(), Timers_.end(), [](const TSerTimerTrigger& t) { return t.Active; }) ||
         std::any_of(StatusTriggers_.begin(), StatusTriggers_.end(),
                     [](const TSerStatusTrigger& t) { return t.Active; });
}

bool TSerBaseDispatcher::CheckReceiveTriggers() {
  struct TMatch {
    uint16_t Handle;
    uint16_t Length;
  };
  std::vector<TMatch> matched;
  uint32_t availBefore = 0;
  bool availFirst = false;
  {
    TInLock in(InLock_);
    if (!In_.Buffer) return false;
    TLock main(MainLock_);
    if (!DataTriggers_.empty()) {
      while (ScanCount_ < InTotal_) {
        const uint64_t index = ScanCount_;
        const uint8_t raw = In_.Buffer[In_.Wrap(index)];
        ++ScanCount_;
        size_t longest = 0;
        for (auto& t : DataTriggers_) {
          const size_t len = t.Pattern.size();
          if (len == 0) continue;
          if (t.MatchState.size() != len) t.MatchState.assign(len, 0);
          const uint8_t b = t.IgnoreCase && raw >= 'a' && raw <= 'z' ? raw - 32 : raw;
          for (size_t i = len - 1; i > 0; --i) t.MatchState[i] = t.MatchState[i - 1] && t.Pattern[i] == b;
          t.MatchState[0] = t.Pattern[0] == b;
          if (t.MatchState[len - 1]) {
            t.Matched = true;
            std::fill(t.MatchState.begin(), t.MatchState.end(), 0);
            longest = std::max(longest, len);
          }
        }
        if (longest == 0) continue;
        // Bytes before the match are announced first, when there are enough of them.
        const uint64_t tailCount = InTotal_ - In_.Used();
        const uint64_t upTo = index + 1 - tailCount;
        const uint32_t length = TriggerLength_;
        if (length != 0 && index != NotifyCount_ && upTo >= longest &&
            upTo - longest >= length) {
          availFirst = true;
          availBefore = static_cast<uint32_t>(upTo - longest);
          NotifyCount_ = index;
        }
        for (auto it = DataTriggers_.rbegin(); it != DataTriggers_.rend(); ++it) {
          if (!it->Matched) continue;
          it->Matched = false;
          matched.push_back({it->Handle, static_cast<uint16_t>(it->Pattern.size())});
        }
        break;
      }
    }
    if (matched.empty()) ScanCount_ = InTotal_;
  }

  if (!matched.empty()) {
    bool result = true;
    if (availFirst) result = DispatchNotification(TriggerAvailMsg, static_cast<uint16_t>(availBefore), 0);
    for (const TMatch& m : matched) {
      {
        TLock main(MainLock_);
        AddLogEntry(ltTrigger, lsData, 0, nullptr, m.Handle);
      }
      result = DispatchNotification(TriggerDataMsg, m.Handle, m.Length);
    }
    return result;
  }

  uint32_t count = 0;
  {
    TInLock in(InLock_);
    const uint32_t length = TriggerLength_;
    if (length == 0 || NotifyCount_ == ScanCount_) return false;
    count = static_cast<uint32_t>(InBuffUsed());
    if (count < length) return false;
    NotifyCount_ = ScanCount_;
    TLock main(MainLock_);
    AddLogEntry(ltTrigger, lsAvail, 0, nullptr, count);
  }
  return DispatchNotification(TriggerAvailMsg, static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF)), 0);
}

bool TSerBaseDispatcher::CheckStatusTriggers() {
  {
    TLock main(MainLock_);
    if (StatusTriggers_.empty()) return false;
  }
  // Taken before MainLock_: the output lock is never taken under the main lock.
  const int freeBytes = OutBuffFree();
  const int usedBytes = OutBuffUsed();
  uint16_t handle = 0;
  uint16_t data = 0;
  {
    TLock main(MainLock_);
    bool fired = false;
    for (auto& t : StatusTriggers_) {
      if (!t.Active || t.Hit) continue;
      switch (t.Handle & 7) {
        case StatusModem:
          fired = ((ModemStatus_ ^ (t.Value & 0xFF)) & (t.Value >> 8)) != 0;
          break;
        case StatusLineError:
          if ((t.Value & LineErrors_) != 0) {
            fired = true;
            t.Value = LineErrors_;
          }
          break;
        case StatusOutBuffFree:
          fired = freeBytes >= t.Value;
          data = static_cast<uint16_t>(freeBytes);
          break;
        case StatusOutBuffUsed:
          fired = usedBytes <= t.Value;
          data = static_cast<uint16_t>(usedBytes);
          break;
        case StatusOutSent: fired = OutputSentPending_.exchange(false); break;
        default: break;
      }
      if (fired) {
        t.Active = false;
        t.Hit = true;
        StatusHit_ = true;
        handle = t.Handle;
        AddLogEntry(ltTrigger, lsStatus, 0, nullptr, handle);
        break;
      }
      data = 0;
    }
    if (!fired) return false;
  }
  return DispatchNotification(TriggerStatusMsg, handle, data);
}

bool TSerBaseDispatcher::CheckTimerTriggers() {
  uint16_t handle = 0;
  {
    TLock main(MainLock_);
    const uint32_t now = NowMs() / TickMs;
    auto it = std::find_if(Timers_.begin(), Timers_.end(), [&](const TSerTimerTrigger& t) {
      // Unsigned differences keep working when the tick count wraps.
      return t.Active && now - t.StartTicks >= t.ExpireTicks - t.StartTicks;
    });
    if (it == Timers_.end()) return false;
    it->Active = false;
    handle = it->Handle;
    AddLogEntry(ltTrigger, lsTimer, 0, nullptr, handle);
  }
  return DispatchNotification(TriggerTimerMsg, handle, 0);
}

void TSerBaseDispatcher::ClearStatusHits() {
  TLock main(MainLock_);
  for (auto& t : StatusTriggers_) t.Hit = false;
  StatusHit_ = false;
}

bool TSerBaseDispatcher::StatusLoop() {
  bool any = false;
  while (!ClosePending_ && CheckStatusTriggers()) any = true;
  bool hit;
  {
    TLock main(MainLock_);
    hit = StatusHit_;
  }
  if (hit) ClearStatusHits();
  return any;
}

// ---------------------------------------------------------------------------
// Delivery

bool TSerBaseDispatcher::DispatchNotification(uint16_t msg, uint16_t wParam, uint16_t data) {
  if (!HandlerServiceNeeded_) return true;
  {
    TLock main(MainLock_);
    Delivering_ = true;
  }
  bool result = true;
  bool stopped = false;
  TScopeExit finish{[this] {
    if (InAvailDelivery_) {
      // Only when a handler threw: its bytes stay unread rather than counted forever.
      TInLock in(InLock_);
      InAvailDelivery_ = false;
    }
    TLock main(MainLock_);
    Delivering_ = false;
    if (HandlerRemovalPending_) {
      PurgeRemovedHandlers();
      HandlerRemovalPending_ = false;
      SetHandlerMode(0);
    }
    GetCount_ = 0;
  }};

  MaxGetCount_ = 0;
  InAvailDelivery_ = msg == TriggerAvailMsg || msg == TriggerDataMsg;
  const int32_t lParam = static_cast<int32_t>(data + static_cast<uint32_t>(Handle_) * 65536u);
  auto settle = [this] {
    const uint32_t taken = GetCount_;
    if (taken > MaxGetCount_) MaxGetCount_ = taken;
  };
  // Under the input lock: a handler that outlived its wait may still be counting
  // in GetChar, and its count must not spill into the next handler's.
  auto startCount = [this] {
    TInLock in(InLock_);
    GetCount_ = 0;
  };

  for (size_t i = 0; !stopped; ++i) {
    TSerEventHandler proc;
    uintptr_t user;
    bool sync;
    {
      TLock main(MainLock_);
      if (i >= EventHandlers_.size()) break;
      if (EventHandlers_[i].Removed) continue;
      proc = EventHandlers_[i].Proc;
      user = EventHandlers_[i].User;
      sync = EventHandlers_[i].Synchronize;
    }
    startCount();
    if (sync && Link_ != nullptr) {
      Link_->Synchronize([&] { proc(user, msg, wParam, lParam); });
    } else {
      proc(user, msg, wParam, lParam);
    }
    if (ClosePending_) stopped = true;
    else settle();
  }

  for (size_t i = 0; !stopped; ++i) {
    TSerProcHandler proc;
    {
      TLock main(MainLock_);
      if (i >= Procs_.size()) break;
      if (Procs_[i].Removed) continue;
      proc = Procs_[i].Proc;
    }
    startCount();
    proc(msg, wParam, lParam);
    if (ClosePending_) stopped = true;
    else settle();
  }

  bool windows;
  {
    TLock main(MainLock_);
    windows = Windows_.size() > 1 || PortHandlerInstalled_;
  }
  for (size_t i = 0; windows && !stopped; ++i) {
    TSerWindowHandle window;
    {
      TLock main(MainLock_);
      if (i >= Windows_.size()) break;
      if (Windows_[i].Removed) continue;
      window = Windows_[i].Window;
    }
    startCount();
    if (Link_ != nullptr) {
      if (TSerDeliveryWaiter* waiter = DeliveryWaiter())
        Link_->SendNotificationWaiting(window, msg, wParam, lParam, SendTimeout, *waiter);
      else
        Link_->SendNotification(window, msg, wParam, lParam, SendTimeout);
    }
    if (ClosePending_) stopped = true;
    else settle();
  }

  {
    TInLock in(InLock_);
    if (stopped) {
      InAvailDelivery_ = false;
      return false;
    }
    if (InAvailDelivery_) {
      InAvailDelivery_ = false;
      const uint32_t consumed = std::min<uint32_t>(MaxGetCount_, In_.Used());
      In_.Consume(consumed);
      if (msg == TriggerAvailMsg && MaxGetCount_ != wParam) result = false;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------
// The delivery thread's passes

void TSerBaseDispatcher::ProcessCommEvent() {
  const uint32_t mask = EventMask_.fetch_and(~EvHangup);
  if (mask & EvHangup) {
    // The device layer reports a hang-up once, so the owner hears of it once.
    if (!Delivering_ && !ClosePending_) DispatchNotification(LineLostMsg, 0, 0);
    if (ReleaseEventThread_ && Events_) Events_->ComEventDone.Set();
    return;
  }
  if (mask & EvModemMask) {
    RefreshModemStatus();
    if (!Delivering_) StatusLoop();
  }
  if (mask & EvLineMask) {
    RefreshStatus();
    if (!Delivering_) StatusLoop();
  }
  uint64_t before;
  {
    TInLock in(InLock_);
    before = InTotal_;
  }
  ReadIntoBuffer();
  // The event is processed once its bytes are in the ring. While data streams in
  // (a large read), the event thread is let go at once to wait for the next
  // event during this pass's delivery, so that the bytes arriving meanwhile are
  // announced as soon as the delivery ends instead of after two more hand-offs.
  // A short read is let go after its delivery, as waking the event thread would
  // only compete with the main thread for a core and delay the notification. A
  // full ring also waits: the event thread stops watching for data while the
  // ring is full, and must not decide that before the delivery frees space.
  bool early;
  {
    TInLock in(InLock_);
    early = !In_.Full && InTotal_ - before >= kStreamingRead;
  }
  if (early && ReleaseEventThread_ && Events_) Events_->ComEventDone.Set();
  if (!Delivering_) {
    StatusLoop();
    while (!ClosePending_ && CheckReceiveTriggers()) {
    }
  }
  bool hit;
  {
    TLock main(MainLock_);
    hit = StatusHit_;
  }
  if (hit) ClearStatusHits();
  if (!early && ReleaseEventThread_ && Events_) Events_->ComEventDone.Set();
}

void TSerBaseDispatcher::ProcessTimers() {
  if (ClosePending_ || Delivering_) return;
  {
    TLock main(MainLock_);
    StatusHit_ = false;
  }
  while (!ClosePending_) {
    if (CheckStatusTriggers()) continue;
    if (CheckTimerTriggers()) continue;
    break;
  }
  bool hit;
  {
    TLock main(MainLock_);
    hit = StatusHit_;
  }
  if (hit) ClearStatusHits();
}

// ---------------------------------------------------------------------------
// Trace and log

void TSerBaseDispatcher::AddTraceEntry(char kind, uint8_t byte) {
  if (!TraceActive_) return;
  TLock main(MainLock_);
  Trace_.Add(kind, byte);
}

void TSerBaseDispatcher::AddLogEntry(uint8_t type, uint8_t subType, uint32_t dataLen,
                                     const uint8_t* data, uint32_t other) {
  if (!LogActive_) return;
  TLock main(MainLock_);
  Log_.Add(type, subType, NowMs() - StartMs_, other, dataLen, data);
}

bool TSerBaseDispatcher::LoggingOn() const { return LogActive_; }

int TSerBaseDispatcher::InitTracing(uint32_t size) {
  TLock main(MainLock_);
  const int rc = Trace_.Init(size);
  TraceActive_ = Trace_.On();
  return rc;
}

int TSerBaseDispatcher::ClearTracing() {
  TLock main(MainLock_);
  Trace_.Clear();
  return ecOK;
}

int TSerBaseDispatcher::AbortTracing() {
  TLock main(MainLock_);
  Trace_.Abort();
  TraceActive_ = false;
  return ecOK;
}

int TSerBaseDispatcher::StartTracing() {
  TLock main(MainLock_);
  Trace_.Start();
  TraceActive_ = Trace_.On();
  return ecOK;
}

int TSerBaseDispatcher::StopTracing() {
  TLock main(MainLock_);
  Trace_.Stop();
  TraceActive_ = false;
  return ecOK;
}

int TSerBaseDispatcher::DumpTraceTo(const std::string& file, bool append, bool hex, bool allHex) {
  TLock main(MainLock_);
  TraceActive_ = false;
  return Trace_.Dump(file, append, hex, allHex);
}

int TSerBaseDispatcher::DumpTrace(const std::string& file, bool hex, bool allHex) {
  return DumpTraceTo(file, false, hex, allHex);
}

int TSerBaseDispatcher::AppendTrace(const std::string& file, bool hex, bool allHex) {
  return DumpTraceTo(file, true, hex, allHex);
}

int TSerBaseDispatcher::InitLogging(uint32_t size) {
  TLock main(MainLock_);
  const int rc = Log_.Init(size);
  LogActive_ = Log_.On();
  return rc;
}

int TSerBaseDispatcher::ClearLogging() {
  TLock main(MainLock_);
  Log_.Clear();
  return ecOK;
}

int TSerBaseDispatcher::AbortLogging() {
  TLock main(MainLock_);
  Log_.Abort();
  LogActive_ = false;
  return ecOK;
}

int TSerBaseDispatcher::StartLogging() {
  TLock main(MainLock_);
  Log_.Start();
  LogActive_ = Log_.On();
  return ecOK;
}

int TSerBaseDispatcher::StopLogging() {
  TLock main(MainLock_);
  Log_.Stop();
  LogActive_ = false;
  return ecOK;
}

int TSerBaseDispatcher::DumpLogTo(const std::string& file, bool append, bool hex, bool allHex) {
  TLock main(MainLock_);
  LogActive_ = false;
  TSerLogHeader header;
  header.DeviceName = DeviceName_;
  header.OperatingSystem = OperatingSystemDescription();
  header.Now = LocalNow();
  return Log_.Dump(file, append, hex, allHex, header);
}

int TSerBaseDispatcher::DumpLog(const std::string& file, bool hex, bool allHex) {
  return DumpLogTo(file, false, hex, allHex);
}

int TSerBaseDispatcher::AppendLog(const std::string& file, bool hex, bool allHex) {
  return DumpLogTo(file, true, hex, allHex);
}
