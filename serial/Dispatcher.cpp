#include "serial/Dispatcher.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <type_traits>

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
  for (auto& p : Run_.Priority) p = tpNormal;
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
  if (Run_.ClosePending) {
    ReleaseBuffers();
  } else {
    CloseCom();
  }
  // A port thread may be waiting for the main thread to handle a notification.
  while (Run_.Count > 0) {
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
  Recorders_.DeviceName = name;
}

std::string TSerBaseDispatcher::DeviceName() const {
  TLock lock(MainLock_);
  return Recorders_.DeviceName;
}

uint32_t TSerBaseDispatcher::NowMs() const {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::tm TSerBaseDispatcher::LocalNow() const {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

void TSerBaseDispatcher::SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void TSerBaseDispatcher::ApplyThreadPriority(TSerThreadKind, int) {}

void TSerBaseDispatcher::ProcessOneMessage() {
  if (Link_ != nullptr) Link_->ProcessOneMessage();
}

void TSerBaseDispatcher::CreateEvents() { Signals_.Events = std::make_unique<TSerDispatcherEvents>(); }

void TSerBaseDispatcher::CloseEvents() { Signals_.Events.reset(); }

// ---------------------------------------------------------------------------
// Open and close

int TSerBaseDispatcher::OpenCom(const std::string& path, int baud, uint8_t options, uint32_t outSize, uint32_t inSize,
                                int stopBits, int dataBits, int parity) {
  Signals_.RingSeen = false;
  Delivery_.Active = false;
  Status_.LineLost = false;
  OpenFailure_ = {};
  {
    TLock lock(MainLock_);
    Handlers_.RemovalPending = false;
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
    TInLock lock(Input_.Lock);
    Input_.Ring.Allocate(InRingSize);
  }
  {
    TLock lock(Output_.Lock);
    Output_.Ring.Allocate(outSize);
  }
  {
    TLock lock(MainLock_);
    LineState_.InSize = inSize;
    LineState_.OutSize = outSize;
    Status_.LineErrors = 0;
    Output_.SentPending = false;
    Run_.ClosePending = false;
    LineState_.RS485 = false;
    LineState_.BaseAddress = 0;
    if (int rc = GetComState(LineState_.Settings); rc < 0) return fail(rc);
    LineState_.DtrHandshake = (options & OpenOptDtrHandshake) != 0;
    LineState_.RtsHandshake = (options & OpenOptRtsHandshake) != 0;
  }
  if (!LineState_.DtrHandshake) {
    if (int rc = SetDtr((options & OpenOptDtr) != 0); rc < 0) return fail(rc);
  }
  if (!LineState_.RtsHandshake) {
    if (int rc = SetRts((options & OpenOptRts) != 0); rc < 0) return fail(rc);
  }

  ResetTriggers();
  {
    TInLock lock(Input_.Lock);
    Input_.Ring.Reset();
    Input_.Total = Input_.Scanned = Input_.Notified = 0;
  }
  Delivery_.InAvail = false;
  Delivery_.GetCount = 0;
  Delivery_.MaxGetCount = 0;
  Status_.ModemStatus = 0;
  GetModemStatus(0xF0);
  {
    TLock lock(MainLock_);
    LineState_.LastBaud = 115200;
  }

  if (int rc = SetLine(baud, parity, stopBits, dataBits); rc < 0) return fail(rc);

  RefreshStatus();
  AbortTracing();
  AbortLogging();
  {
    TLock lock(MainLock_);
    Recorders_.StartMs = NowMs();
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
  if (Delivery_.Active) {
    // The delivery thread finishes the release when it ends.
    Run_.ClosePending = true;
  } else {
    ReleaseBuffers();
  }
}

void TSerBaseDispatcher::ReleaseBuffers() {
  Run_.ReleaseOnDispExit = false;
  // Not under MainLock_: stopping waits for the delivery thread, which takes MainLock_.
  if (Run_.Running) StopDispatcher();
  {
    TLock lock(Output_.Lock);
    Output_.Ring = TSerRing{};
  }
  {
    TInLock lock(Input_.Lock);
    Input_.Ring = TSerRing{};
  }
}

void TSerBaseDispatcher::ThreadFinished(TSerThreadKind kind) {
  Run_.Active[kind] = false;
  if (kind == tkDisp && Run_.ReleaseOnDispExit.exchange(false)) ReleaseBuffers();
  if (Run_.Count.fetch_sub(1) == 1) Run_.Running = false;
}

// ---------------------------------------------------------------------------
// Line settings

uint32_t TSerBaseDispatcher::BaudForTiming(uint32_t baud) const {
  // The old index values some drivers report instead of a rate.
  static constexpr uint32_t Indexed[] = {110, 300, 600, 1200,  2400, 4800, 9600, 14400,  19200, 0, 0, 38400,
                                         0,   0,   0,   56000, 0,    0,    0,    128000, 0,     0, 0, 256000};
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
    GetComState(LineState_.Settings);
    LineState_.Settings.Binary = true;
    LineState_.Settings.ParityCheck = false;
    LineState_.Settings.DsrSensitivity = false;
    LineState_.Settings.TxContinueOnXoff = true;
    LineState_.Settings.NullStrip = false;
    current = LineState_.Settings;
    wanted = LineState_.Settings;
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
    if (wanted.BaudRate == current.BaudRate && wanted.Parity == current.Parity && wanted.ByteSize == current.ByteSize &&
        wanted.StopBits == current.StopBits) {
      return ecOK;
    }
    lastBaud = LineState_.LastBaud;
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
  LineState_.Settings.BaudRate = wanted.BaudRate;
  LineState_.Settings.Parity = wanted.Parity;
  LineState_.Settings.ByteSize = wanted.ByteSize;
  LineState_.Settings.StopBits = wanted.StopBits;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::ApplyLineSettingsLocked() {
  if (!LineState_.DtrHandshake) LineState_.Settings.DtrControl = LineState_.DtrOn ? dtrEnable : dtrDisable;
  if (!LineState_.RtsHandshake) LineState_.Settings.RtsControl = LineState_.RtsOn ? rtsEnable : rtsDisable;
  const int rc = SetComState(LineState_.Settings);
  LineState_.LastBaud = LineState_.Settings.BaudRate;
  SetDtr(LineState_.DtrOn);
  if (!LineState_.RS485) SetRts(LineState_.RtsOn);
  return rc;
}

int TSerBaseDispatcher::SetQueueSizes(uint32_t inSize, uint32_t outSize) { return SetupCom(inSize, outSize); }

int TSerBaseDispatcher::SetDtr(bool on) {
  TLock lock(MainLock_);
  return SetControlLine(LineState_.DtrHandshake, on ? EscSetDtr : EscClrDtr, LineState_.DtrOn, on);
}

int TSerBaseDispatcher::SetRts(bool on) {
  TLock lock(MainLock_);
  return SetControlLine(LineState_.RtsHandshake, on ? EscSetRts : EscClrRts, LineState_.RtsOn, on);
}

// A line the handshake drives is left to it (1); otherwise the device is told
// and the state kept.
int TSerBaseDispatcher::SetControlLine(bool handshake, int escape, bool& state, bool on) {
  if (handshake) return 1;
  if (EscapeComFunction(escape) < 0) return ecBadArgument;
  state = on;
  return ecOK;
}

int TSerBaseDispatcher::SetHardwareFlow(uint32_t full, uint32_t resume, uint8_t options) {
  TLock lock(MainLock_);
  if (full < resume || full > LineState_.InSize) return ecBadArgument;
  LineState_.Settings.DtrControl = dtrDisable;
  LineState_.Settings.RtsControl = rtsDisable;
  LineState_.Settings.OutxCtsFlow = false;
  LineState_.Settings.OutxDsrFlow = false;
  LineState_.DtrHandshake = false;
  LineState_.RtsHandshake = false;
  if (options & HwfUseDtrBit) {
    LineState_.Settings.DtrControl = dtrHandshake;
    LineState_.DtrHandshake = true;
  } else if (LineState_.DtrOn) {
    LineState_.Settings.DtrControl = dtrEnable;
  }
  if (options & HwfUseRtsBit) {
    LineState_.Settings.RtsControl = rtsHandshake;
    LineState_.RtsHandshake = true;
  } else if (LineState_.RtsOn) {
    LineState_.Settings.RtsControl = rtsEnable;
  }
  if (LineState_.RS485) {
    // The driver raises RTS while it transmits.
    LineState_.Settings.RtsControl = rtsToggle;
    LineState_.RtsHandshake = true;
  }
  LineState_.Settings.XoffLim = static_cast<uint16_t>(LineState_.InSize - full);
  LineState_.Settings.XonLim = static_cast<uint16_t>(resume);
  if (options & HwfRequireDsrBit) LineState_.Settings.OutxDsrFlow = true;
  if (options & HwfRequireCtsBit) LineState_.Settings.OutxCtsFlow = true;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::SetSoftwareFlow(uint32_t full, uint32_t resume, uint8_t options) {
  TLock lock(MainLock_);
  if (full < resume || full > LineState_.InSize) return ecBadArgument;
  if (options & SwfReceiveBit) {
    LineState_.Settings.InX = true;
    LineState_.Settings.XoffLim = static_cast<uint16_t>(LineState_.InSize - full);
    LineState_.Settings.XonLim = static_cast<uint16_t>(resume);
    LineState_.Settings.XonChar = 17;
    LineState_.Settings.XoffChar = 19;
  }
  if (options & SwfTransmitBit) {
    LineState_.Settings.OutX = true;
    LineState_.Settings.XonChar = 17;
    LineState_.Settings.XoffChar = 19;
  }
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::ClearSoftwareFlow() {
  TLock lock(MainLock_);
  LineState_.Settings.OutX = false;
  LineState_.Settings.InX = false;
  return ApplyLineSettingsLocked();
}

int TSerBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
  TLock lock(MainLock_);
  LineState_.Settings.XonChar = xon;
  LineState_.Settings.XoffChar = xoff;
  return ApplyLineSettingsLocked();
}

TSerLineSettings TSerBaseDispatcher::LineSettings() const {
  TLock lock(MainLock_);
  return LineState_.Settings;
}

// ---------------------------------------------------------------------------
// Input

void TSerBaseDispatcher::RefreshStatus() {
  TSerComStat stat;
  const int bits = GetComError(stat);
  Status_.Flags = stat.Flags;
  Status_.InQue = stat.InQue;
  Status_.OutQue = stat.OutQue;
  // Accumulated: an error stays until GetLineError reports it.
  if (bits > 0) Status_.LineErrors |= static_cast<uint8_t>(bits);
}

bool TSerBaseDispatcher::ReadIntoBuffer() {
  TInLock lock(Input_.Lock);
  if (!Input_.Ring.Buffer) return false;
  if (Input_.Ring.Full) return true;
  // A device whose reads hand over at once what its driver holds is asked for
  // the whole free space: counting the waiting bytes first would cost a call
  // into the system on every pass.
  const bool direct = ReadsWhatWaits();
  uint32_t wanted = Input_.Ring.Free();
  if (!direct) {
    RefreshStatus();
    wanted = std::min<uint32_t>(wanted, Status_.InQue);
    if (wanted == 0) return false;
  }
  const uint32_t first = std::min(Input_.Ring.WritableRun(), wanted);

  auto readChunk = [this](uint32_t size) -> uint32_t {
    int n = ReadCom(Input_.Ring.Buffer.get() + Input_.Ring.Head, size);
    if (n < 0) {
      // A failed read delivers nothing; counting it as bytes would hand out garbage.
      ReadFailed(-1);
      n = 0;
    }
    const uint32_t got = static_cast<uint32_t>(std::min<int>(n, static_cast<int>(size)));
    if (got > 0) AddLogEntry(ltDispatch, lsReadCom, got, Input_.Ring.Buffer.get() + Input_.Ring.Head, got);
    Input_.Ring.Commit(got);
    Input_.Total += got;
    return got;
  };

  uint32_t got = readChunk(first);
  if (got == first && wanted > first) got += readChunk(wanted - first);
  if (!direct) return true;
  // The driver's error bits, which the status refresh takes on other devices;
  // the read has collected them where the driver reports errors only with
  // its count of waiting bytes.
  if (const uint8_t bits = TakeReadLineErrors()) Status_.LineErrors |= bits;
  return got > 0;
}

bool TSerBaseDispatcher::HasUnscannedInput() {
  TInLock lock(Input_.Lock);
  return Input_.Scanned < Input_.Total;
}

int TSerBaseDispatcher::PeekChar(uint8_t& c, uint32_t n) {
  TInLock lock(Input_.Lock);
  if (n == 0 || Input_.Ring.Used() < n) return ecBufferIsEmpty;
  c = Input_.Ring.Unread(n - 1);
  return ecOK;
}

int TSerBaseDispatcher::GetChar(uint8_t& c) {
  // Handlers take their bytes one call at a time, so this runs once per byte
  // received: one lock, and the ring read in place rather than through PeekChar.
  {
    TInLock lock(Input_.Lock);
    const uint32_t used = Input_.Ring.Used();
    if (Delivery_.InAvail.load(std::memory_order_relaxed)) {
      // Inside a delivery the bytes are only counted; the delivery's end consumes
      // them. Only this thread changes the count while the delivery waits for it.
      const uint32_t n = Delivery_.GetCount.load(std::memory_order_relaxed) + 1;
      if (used < n) return ecBufferIsEmpty;
      c = Input_.Ring.Unread(n - 1);
      Delivery_.GetCount.store(n, std::memory_order_relaxed);
    } else {
      if (used == 0) return ecBufferIsEmpty;
      c = Input_.Ring.Unread(0);
      Input_.Ring.Consume(1);
    }
  }
  AddTraceEntry('R', c);
  return ecOK;
}

bool TSerBaseDispatcher::BeginTaking(TInputView& view) {
  TInLock lock(Input_.Lock);
  view = {};
  if (!Delivery_.InAvail.load(std::memory_order_relaxed) || !Input_.Ring.Buffer) return false;
  view.Ring = Input_.Ring.Buffer.get();
  view.Tail = Input_.Ring.Tail;
  view.Next = Delivery_.GetCount.load(std::memory_order_relaxed);
  view.End = Input_.Ring.Used();
  return true;
}

int TSerBaseDispatcher::InBuffUsed() {
  TInLock lock(Input_.Lock);
  const uint32_t used = Input_.Ring.Used();
  if (!Delivery_.InAvail) return static_cast<int>(used);
  const uint32_t taken = Delivery_.GetCount;
  return used > taken ? static_cast<int>(used - taken) : 0;
}

int TSerBaseDispatcher::FlushInBuffer() {
  TInLock lock(Input_.Lock);
  FlushCom(FlushInput);
  if (Delivery_.InAvail) {
    Delivery_.MaxGetCount = Input_.Ring.Used();
  } else {
    Input_.Ring.Tail = Input_.Ring.Head;
    Delivery_.GetCount = 0;
  }
  Input_.Ring.Full = false;
  TLock main(MainLock_);
  for (auto& t : Triggers_.Data) std::fill(t.MatchState.begin(), t.MatchState.end(), 0);
  return ecOK;
}

// ---------------------------------------------------------------------------
// Output

int TSerBaseDispatcher::PutBlock(const void* block, uint32_t length) {
  // Bytes for a device that went away would be dropped by the output thread.
  if (Status_.LineLost) return ecCommNotOpen;
  if (length == 0) return ecOK;
  const auto* bytes = static_cast<const uint8_t*>(block);
  int accepted;
  {
    TLock lock(Output_.Lock);
    RefreshStatus();
    const uint32_t free = Output_.Ring.Free();
    if (length > free) return ecOutputBufferTooSmall;
    const bool fills = length == free;
    if (fills) Output_.Ring.Full = true;
    accepted = WriteCom(bytes, length);
    if (accepted <= 0) {
      if (fills) Output_.Ring.Full = false;
      RefreshStatus();
      return ecPutBlockFail;
    }
    Output_.SentPending = true;
  }
  if (Recorders_.Log.Active || Recorders_.Trace.Active) {
    TLock lock(MainLock_);
    AddLogEntry(ltDispatch, lsWriteCom, static_cast<uint32_t>(accepted), bytes, static_cast<uint32_t>(accepted));
    for (int i = 0; i < accepted; ++i) AddTraceEntry('T', bytes[i]);
  }
  return ecOK;
}

int TSerBaseDispatcher::OutBuffUsed() {
  TLock lock(Output_.Lock);
  RefreshStatus();
  return static_cast<int>(Output_.Ring.Used());
}

int TSerBaseDispatcher::OutBuffFree() {
  TLock lock(Output_.Lock);
  RefreshStatus();
  return static_cast<int>(Output_.Ring.Free());
}

int TSerBaseDispatcher::FlushOutBuffer() { return FlushCom(FlushOutput); }

// ---------------------------------------------------------------------------
// Line errors and modem status

int TSerBaseDispatcher::GetLineError() {
  TLock lock(MainLock_);
  const uint8_t bits = Status_.LineErrors;
  int code = 0;
  if (bits & LineRxOverflow) code = 1;
  else if (bits & LineOverrun) code = 2;
  else if (bits & LineParity) code = 3;
  else if (bits & LineFraming) code = 4;
  else if (bits & LineBreak) code = 9;
  if (code != 0) Status_.LineErrors &= static_cast<uint8_t>(~0x0F);
  return code;
}

bool TSerBaseDispatcher::GetLineBreak() {
  TLock lock(MainLock_);
  const bool brk = (Status_.LineErrors.fetch_and(static_cast<uint8_t>(~LineBreak)) & LineBreak) != 0;
  return brk;
}

uint8_t TSerBaseDispatcher::GetModemStatus(uint8_t mask) {
  TLock lock(MainLock_);
  uint8_t ms = static_cast<uint8_t>((Status_.ModemStatus & 0x0F) | (GetModemLines() & 0xF0));
  if (Signals_.RingSeen.exchange(false)) ms |= ModemDeltaRing;
  Status_.ModemStatus = ms & mask;
  return ms;
}

void TSerBaseDispatcher::RefreshModemStatus() {
  TLock lock(MainLock_);
  const uint8_t before = Status_.ModemStatus;
  GetModemStatus(0xFF);
  const uint8_t changed = static_cast<uint8_t>((before ^ Status_.ModemStatus) & 0xF0);
  Status_.ModemStatus |= static_cast<uint8_t>(changed >> 4);
}

// ---------------------------------------------------------------------------
// Settings the component passes through

void TSerBaseDispatcher::SetTriggerLength(uint16_t length) {
  TLock lock(MainLock_);
  Triggers_.Length = length;
  AddLogEntry(ltTrigDataChange, lsAvailTrigger, 0, nullptr, length);
}

void TSerBaseDispatcher::SetRS485Mode(bool on) {
  TLock lock(MainLock_);
  LineState_.RS485 = on;
  const int prio = std::min(Run_.Boost + (on ? 4 : 3), static_cast<int>(tpTimeCritical));
  Run_.Priority[tkOut] = prio;
  ApplyThreadPriority(tkOut, prio);
}

void TSerBaseDispatcher::SetThreadBoost(uint8_t boost) {
  TLock lock(MainLock_);
  if (boost == Run_.Boost) return;
  Run_.Boost = boost;
  const int normal = std::min(boost + 3, static_cast<int>(tpTimeCritical));
  const int out = std::min(boost + (LineState_.RS485 ? 4 : 3), static_cast<int>(tpTimeCritical));
  Run_.Priority[tkCom] = normal;
  Run_.Priority[tkDisp] = normal;
  Run_.Priority[tkOut] = out;
  ApplyThreadPriority(tkCom, normal);
  ApplyThreadPriority(tkDisp, normal);
  ApplyThreadPriority(tkOut, out);
}

void TSerBaseDispatcher::SetOptionBits(uint8_t mask) { LineState_.Options |= mask; }

void TSerBaseDispatcher::ClearOptionBits(uint8_t mask) { LineState_.Options &= static_cast<uint8_t>(~mask); }

// ---------------------------------------------------------------------------
// Handlers

bool TSerBaseDispatcher::OthersInstalled() const {
  const auto live =
      std::count_if(Handlers_.Windows.begin(), Handlers_.Windows.end(), [](const TWindowRec& w) { return !w.Removed; });
  auto liveProc =
      std::any_of(Handlers_.Procs.begin(), Handlers_.Procs.end(), [](const TProcRec& p) { return !p.Removed; });
  auto liveEvent =
      std::any_of(Handlers_.Events.begin(), Handlers_.Events.end(), [](const TEventRec& e) { return !e.Removed; });
  return live > 1 || liveProc || liveEvent;
}

void TSerBaseDispatcher::SetHandlerMode(int mode) {
  TLock lock(MainLock_);
  const bool others = OthersInstalled();
  switch (mode) {
    case 0: Handlers_.ServiceNeeded = others || Handlers_.PortInstalled; break;
    case 1:
      Handlers_.PortInstalled = true;
      Handlers_.ServiceNeeded = true;
      break;
    case 2:
      Handlers_.PortInstalled = false;
      Handlers_.ServiceNeeded = others;
      break;
    default: break;
  }
}

void TSerBaseDispatcher::RegisterWindowHandler(TSerWindowHandle window) {
  TLock lock(MainLock_);
  Handlers_.Windows.push_back({window, false});
  Handlers_.ServiceNeeded = true;
  AddLogEntry(ltTrigHandlerAlloc, lsWindow, 0, nullptr, static_cast<uint32_t>(window));
}

template <typename List, typename Match>
static bool RemoveHandler(List& list, Match match, bool delivering, bool& pending) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& r) { return !r.Removed && match(r); });
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
  if (RemoveHandler(
          Handlers_.Windows, [&](const TWindowRec& w) { return w.Window == window; }, Delivery_.Active,
          Handlers_.RemovalPending)) {
    AddLogEntry(ltTrigHandlerDispose, lsWindow, 0, nullptr, static_cast<uint32_t>(window));
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::RegisterProcHandler(uint32_t id, TSerProcHandler proc) {
  TLock lock(MainLock_);
  Handlers_.Procs.push_back({id, std::move(proc), false});
  Handlers_.ServiceNeeded = true;
  AddLogEntry(ltTrigHandlerAlloc, lsProcedure, 0, nullptr, id);
}

void TSerBaseDispatcher::RemoveProcHandler(uint32_t id) {
  TLock lock(MainLock_);
  if (RemoveHandler(
          Handlers_.Procs, [&](const TProcRec& p) { return p.Id == id; }, Delivery_.Active, Handlers_.RemovalPending)) {
    AddLogEntry(ltTrigHandlerDispose, lsProcedure, 0, nullptr, id);
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::RegisterEventHandler(uint32_t id, TSerEventHandler handler, uintptr_t user, bool synchronize) {
  TLock lock(MainLock_);
  Handlers_.Events.push_back({id, std::move(handler), user, false, synchronize});
  Handlers_.ServiceNeeded = true;
  AddLogEntry(ltTrigHandlerAlloc, lsMethod, 0, nullptr, id);
}

void TSerBaseDispatcher::RemoveEventHandler(uint32_t id) {
  TLock lock(MainLock_);
  if (RemoveHandler(
          Handlers_.Events, [&](const TEventRec& e) { return e.Id == id; }, Delivery_.Active,
          Handlers_.RemovalPending)) {
    AddLogEntry(ltTrigHandlerDispose, lsMethod, 0, nullptr, id);
  }
  SetHandlerMode(0);
}

void TSerBaseDispatcher::PurgeRemovedHandlers() {
  auto purge = [](auto& list) {
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& r) { return r.Removed; }), list.end());
  };
  purge(Handlers_.Windows);
  purge(Handlers_.Procs);
  purge(Handlers_.Events);
}

// ---------------------------------------------------------------------------
// Triggers

void TSerBaseDispatcher::ResetTriggers() {
  TLock lock(MainLock_);
  Triggers_.Length = 0;
  Triggers_.Timers.clear();
  Triggers_.Data.clear();
  Triggers_.Status.clear();
  Triggers_.StatusHit = false;
  Triggers_.NextHandle = 1;
}

void TSerBaseDispatcher::SaveTriggers(TSerSavedTriggers& saved) {
  TLock lock(MainLock_);
  saved.TriggerLength = Triggers_.Length;
  saved.Timers = Triggers_.Timers;
  saved.Data = Triggers_.Data;
  saved.Status = Triggers_.Status;
}

void TSerBaseDispatcher::RestoreTriggers(const TSerSavedTriggers& saved) {
  TLock lock(MainLock_);
  Triggers_.Length = saved.TriggerLength;
  Triggers_.Timers = saved.Timers;
  Triggers_.Data = saved.Data;
  for (auto& t : Triggers_.Data) t.MatchState.assign(t.Pattern.size(), 0);
  Triggers_.Status = saved.Status;
  if (Signals_.Events && NeedsPeriodicPass()) {
    Signals_.Events->PassWake.Set();
    WakeDelivery();
  }
}

bool TSerBaseDispatcher::NeedsPeriodicPass() const {
  TLock lock(MainLock_);
  return std::any_of(Triggers_.Timers.begin(), Triggers_.Timers.end(),
                     [](const TSerTimerTrigger& t) { return t.Active; }) ||
         std::any_of(Triggers_.Status.begin(), Triggers_.Status.end(),
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
    TInLock in(Input_.Lock);
    if (!Input_.Ring.Buffer) return false;
    TLock main(MainLock_);
    if (!Triggers_.Data.empty()) {
      while (Input_.Scanned < Input_.Total) {
        const uint64_t index = Input_.Scanned;
        const uint8_t raw = Input_.Ring.Buffer[Input_.Ring.Wrap(index)];
        ++Input_.Scanned;
        size_t longest = 0;
        for (auto& t : Triggers_.Data) {
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
        const uint64_t tailCount = Input_.Total - Input_.Ring.Used();
        const uint64_t upTo = index + 1 - tailCount;
        const uint32_t length = Triggers_.Length;
        if (length != 0 && index != Input_.Notified && upTo >= longest && upTo - longest >= length) {
          availFirst = true;
          availBefore = static_cast<uint32_t>(upTo - longest);
          Input_.Notified = index;
        }
        for (auto it = Triggers_.Data.rbegin(); it != Triggers_.Data.rend(); ++it) {
          if (!it->Matched) continue;
          it->Matched = false;
          matched.push_back({it->Handle, static_cast<uint16_t>(it->Pattern.size())});
        }
        break;
      }
    }
    if (matched.empty()) Input_.Scanned = Input_.Total;
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
    TInLock in(Input_.Lock);
    const uint32_t length = Triggers_.Length;
    if (length == 0 || Input_.Notified == Input_.Scanned) return false;
    count = static_cast<uint32_t>(InBuffUsed());
    if (count < length) return false;
    Input_.Notified = Input_.Scanned;
    TLock main(MainLock_);
    AddLogEntry(ltTrigger, lsAvail, 0, nullptr, count);
  }
  return DispatchNotification(TriggerAvailMsg, static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF)), 0);
}

bool TSerBaseDispatcher::CheckStatusTriggers() {
  {
    TLock main(MainLock_);
    if (Triggers_.Status.empty()) return false;
  }
  // Taken before MainLock_: the output lock is never taken under the main lock.
  const int freeBytes = OutBuffFree();
  const int usedBytes = OutBuffUsed();
  uint16_t handle = 0;
  uint16_t data = 0;
  {
    TLock main(MainLock_);
    bool fired = false;
    for (auto& t : Triggers_.Status) {
      if (!t.Active || t.Hit) continue;
      switch (t.Handle & 7) {
        case StatusModem: fired = ((Status_.ModemStatus ^ (t.Value & 0xFF)) & (t.Value >> 8)) != 0; break;
        case StatusLineError:
          if ((t.Value & Status_.LineErrors) != 0) {
            fired = true;
            t.Value = Status_.LineErrors;
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
        case StatusOutSent: fired = Output_.SentPending.exchange(false); break;
        default: break;
      }
      if (fired) {
        t.Active = false;
        t.Hit = true;
        Triggers_.StatusHit = true;
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
    auto it = std::find_if(Triggers_.Timers.begin(), Triggers_.Timers.end(), [&](const TSerTimerTrigger& t) {
      // Unsigned differences keep working when the tick count wraps.
      return t.Active && now - t.StartTicks >= t.ExpireTicks - t.StartTicks;
    });
    if (it == Triggers_.Timers.end()) return false;
    it->Active = false;
    handle = it->Handle;
    AddLogEntry(ltTrigger, lsTimer, 0, nullptr, handle);
  }
  return DispatchNotification(TriggerTimerMsg, handle, 0);
}

void TSerBaseDispatcher::ClearStatusHits() {
  TLock main(MainLock_);
  for (auto& t : Triggers_.Status) t.Hit = false;
  Triggers_.StatusHit = false;
}

bool TSerBaseDispatcher::StatusLoop() {
  bool any = false;
  while (!Run_.ClosePending && CheckStatusTriggers()) any = true;
  bool hit;
  {
    TLock main(MainLock_);
    hit = Triggers_.StatusHit;
  }
  if (hit) ClearStatusHits();
  return any;
}

// ---------------------------------------------------------------------------
// Delivery

bool TSerBaseDispatcher::DispatchNotification(uint16_t msg, uint16_t wParam, uint16_t data) {
  if (!Handlers_.ServiceNeeded) return true;
  {
    TLock main(MainLock_);
    Delivery_.Active = true;
  }
  bool result = true;
  bool stopped = false;
  TScopeExit finish{[this] {
    if (Delivery_.InAvail) {
      // Only when a handler threw: its bytes stay unread rather than counted forever.
      TInLock in(Input_.Lock);
      Delivery_.InAvail = false;
    }
    TLock main(MainLock_);
    Delivery_.Active = false;
    if (Handlers_.RemovalPending) {
      PurgeRemovedHandlers();
      Handlers_.RemovalPending = false;
      SetHandlerMode(0);
    }
    Delivery_.GetCount = 0;
  }};

  Delivery_.MaxGetCount = 0;
  Delivery_.InAvail = msg == TriggerAvailMsg || msg == TriggerDataMsg;
  const int32_t lParam = static_cast<int32_t>(data + static_cast<uint32_t>(Handle_) * 65536u);
  auto settle = [this] {
    const uint32_t taken = Delivery_.GetCount;
    if (taken > Delivery_.MaxGetCount) Delivery_.MaxGetCount = taken;
  };
  // Under the input lock: a handler that outlived its wait may still be counting
  // in GetChar, and its count must not spill into the next handler's.
  auto startCount = [this] {
    TInLock in(Input_.Lock);
    Delivery_.GetCount = 0;
  };

  // Each handler of a list that is not marked removed, in order, until a close
  // is pending. The record is copied under the main lock: the list may change
  // while the handler runs.
  auto eachHandler = [&](const auto& list, auto call) {
    for (size_t i = 0; !stopped; ++i) {
      std::decay_t<decltype(list[0])> record{};
      {
        TLock main(MainLock_);
        if (i >= list.size()) break;
        if (list[i].Removed) continue;
        record = list[i];
      }
      startCount();
      call(record);
      if (Run_.ClosePending) stopped = true;
      else settle();
    }
  };

  eachHandler(Handlers_.Events, [&](const TEventRec& r) {
    if (r.Synchronize && Link_ != nullptr) Link_->Synchronize([&] { r.Proc(r.User, msg, wParam, lParam); });
    else r.Proc(r.User, msg, wParam, lParam);
  });
  eachHandler(Handlers_.Procs, [&](const TProcRec& r) { r.Proc(msg, wParam, lParam); });
  bool windows;
  {
    TLock main(MainLock_);
    windows = Handlers_.Windows.size() > 1 || Handlers_.PortInstalled;
  }
  if (windows) {
    eachHandler(Handlers_.Windows, [&](const TWindowRec& r) {
      if (Link_ == nullptr) return;
      if (TSerDeliveryWaiter* waiter = DeliveryWaiter())
        Link_->SendNotificationWaiting(r.Window, msg, wParam, lParam, SendTimeout, *waiter);
      else Link_->SendNotification(r.Window, msg, wParam, lParam, SendTimeout);
    });
  }

  {
    TInLock in(Input_.Lock);
    if (stopped) {
      Delivery_.InAvail = false;
      return false;
    }
    if (Delivery_.InAvail) {
      Delivery_.InAvail = false;
      const uint32_t consumed = std::min<uint32_t>(Delivery_.MaxGetCount, Input_.Ring.Used());
      Input_.Ring.Consume(consumed);
      if (msg == TriggerAvailMsg && Delivery_.MaxGetCount != wParam) result = false;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------
// The delivery thread's passes

void TSerBaseDispatcher::ProcessCommEvent() {
  const uint32_t mask = Signals_.EventMask.fetch_and(~EvHangup);
  if (mask & EvHangup) {
    // The device layer reports a hang-up once, so the owner hears of it once.
    if (!Delivery_.Active && !Run_.ClosePending) DispatchNotification(LineLostMsg, 0, 0);
    if (Signals_.ReleaseEventThread && Signals_.Events) Signals_.Events->ComEventDone.Set();
    return;
  }
  if (mask & EvModemMask) {
    RefreshModemStatus();
    if (!Delivery_.Active) StatusLoop();
  }
  if (mask & EvLineMask) {
    RefreshStatus();
    if (!Delivery_.Active) StatusLoop();
  }
  uint64_t before;
  {
    TInLock in(Input_.Lock);
    before = Input_.Total;
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
    TInLock in(Input_.Lock);
    early = !Input_.Ring.Full && Input_.Total - before >= kStreamingRead;
  }
  if (early && Signals_.ReleaseEventThread && Signals_.Events) Signals_.Events->ComEventDone.Set();
  if (!Delivery_.Active) {
    StatusLoop();
    while (!Run_.ClosePending && CheckReceiveTriggers()) {
    }
  }
  bool hit;
  {
    TLock main(MainLock_);
    hit = Triggers_.StatusHit;
  }
  if (hit) ClearStatusHits();
  if (!early && Signals_.ReleaseEventThread && Signals_.Events) Signals_.Events->ComEventDone.Set();
}

void TSerBaseDispatcher::ProcessTimers() {
  if (Run_.ClosePending || Delivery_.Active) return;
  {
    TLock main(MainLock_);
    Triggers_.StatusHit = false;
  }
  while (!Run_.ClosePending) {
    if (CheckStatusTriggers()) continue;
    if (CheckTimerTriggers()) continue;
    break;
  }
  bool hit;
  {
    TLock main(MainLock_);
    hit = Triggers_.StatusHit;
  }
  if (hit) ClearStatusHits();
}

// ---------------------------------------------------------------------------
// Trace and log

void TSerBaseDispatcher::AddTraceEntry(char kind, uint8_t byte) {
  if (!Recorders_.Trace.Active) return;
  TLock main(MainLock_);
  Recorders_.Trace.Recorder.Add(kind, byte);
}

void TSerBaseDispatcher::AddLogEntry(uint8_t type, uint8_t subType, uint32_t dataLen, const uint8_t* data,
                                     uint32_t other) {
  if (!Recorders_.Log.Active) return;
  TLock main(MainLock_);
  Recorders_.Log.Recorder.Add(type, subType, NowMs() - Recorders_.StartMs, other, dataLen, data);
}

bool TSerBaseDispatcher::LoggingOn() const { return Recorders_.Log.Active; }

// Every switch of a recorder, for trace and log alike, goes through here: the
// data path reads the mirrored flag without the main lock, so it must follow
// the recorder's own state after each change.
template <typename TRecorder, typename TOp>
int TSerBaseDispatcher::WithRecorder(TSerRecorderSlot<TRecorder>& slot, TOp op) {
  TLock main(MainLock_);
  const int rc = op(slot.Recorder);
  slot.Active = slot.Recorder.On();
  return rc;
}

namespace {
constexpr auto kClear = [](auto& r) { return r.Clear(), ecOK; };
constexpr auto kAbort = [](auto& r) { return r.Abort(), ecOK; };
constexpr auto kStart = [](auto& r) { return r.Start(), ecOK; };
constexpr auto kStop = [](auto& r) { return r.Stop(), ecOK; };
}  // namespace

TSerLogHeader TSerBaseDispatcher::LogHeader() const {
  TSerLogHeader header;
  header.DeviceName = Recorders_.DeviceName;
  header.OperatingSystem = OperatingSystemDescription();
  header.Now = LocalNow();
  return header;
}

int TSerBaseDispatcher::InitTracing(uint32_t size) {
  return WithRecorder(Recorders_.Trace, [&](TSerTrace& t) { return t.Init(size); });
}
int TSerBaseDispatcher::InitLogging(uint32_t size) {
  return WithRecorder(Recorders_.Log, [&](TSerLog& l) { return l.Init(size); });
}
int TSerBaseDispatcher::ClearTracing() { return WithRecorder(Recorders_.Trace, kClear); }
int TSerBaseDispatcher::ClearLogging() { return WithRecorder(Recorders_.Log, kClear); }
int TSerBaseDispatcher::AbortTracing() { return WithRecorder(Recorders_.Trace, kAbort); }
int TSerBaseDispatcher::AbortLogging() { return WithRecorder(Recorders_.Log, kAbort); }
int TSerBaseDispatcher::StartTracing() { return WithRecorder(Recorders_.Trace, kStart); }
int TSerBaseDispatcher::StartLogging() { return WithRecorder(Recorders_.Log, kStart); }
int TSerBaseDispatcher::StopTracing() { return WithRecorder(Recorders_.Trace, kStop); }
int TSerBaseDispatcher::StopLogging() { return WithRecorder(Recorders_.Log, kStop); }

int TSerBaseDispatcher::DumpTrace(const std::string& file, bool hex, bool allHex) {
  return WithRecorder(Recorders_.Trace, [&](TSerTrace& t) { return t.Dump(file, false, hex, allHex); });
}
int TSerBaseDispatcher::AppendTrace(const std::string& file, bool hex, bool allHex) {
  return WithRecorder(Recorders_.Trace, [&](TSerTrace& t) { return t.Dump(file, true, hex, allHex); });
}
int TSerBaseDispatcher::DumpLog(const std::string& file, bool hex, bool allHex) {
  return WithRecorder(Recorders_.Log, [&](TSerLog& l) { return l.Dump(file, false, hex, allHex, LogHeader()); });
}
int TSerBaseDispatcher::AppendLog(const std::string& file, bool hex, bool allHex) {
  return WithRecorder(Recorders_.Log, [&](TSerLog& l) { return l.Dump(file, true, hex, allHex, LogHeader()); });
}
