#include "serial/PortThreads.h"

#include <cstdio>
#include <exception>

#include "serial/SerialErrors.h"

namespace {
constexpr int kStartAckMs = 3000;
constexpr int kFlushAckMs = 5000;
constexpr int kDispPollMs = 50;
// The delivery thread may be waiting for the main thread, which keeps handling
// messages meanwhile: about 2 s, a wake-up, and about 2 s more before giving up
// on a quick end.
constexpr int kDispEndMs = 36 * 55;

// A thread body must never let an exception escape; it ends the thread instead.
void ReportThreadFailure(const char* thread, const char* what) {
  std::fprintf(stderr, "serial: %s ended by an exception: %s\n", thread, what);
}
}  // namespace

// ---- thread objects ---------------------------------------------------------

TSerDispatcherThread::TSerDispatcherThread(TSerThreadedDispatcher& dispatcher, TSerThreadKind kind)
    : Dispatcher_(dispatcher), Kind_(kind) {}

TSerDispatcherThread::~TSerDispatcherThread() { Join(); }

void TSerDispatcherThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

void TSerDispatcherThread::Start() {
  Thread_ = std::thread([this] { Run(); });
}

void TSerDispatcherThread::Run() {
  Dispatcher_.NameCurrentThread(Kind_);
  Execute();
  Dispatcher_.ThreadBodyEnded();
}

// Subclasses join in their own destructors: the base destructor would join after
// the subclass part (and its vtable) is gone while Execute may still run.
TComThread::~TComThread() { Join(); }
TDispThread::~TDispThread() { Join(); }
TOutThread::~TOutThread() { Join(); }

void TComThread::Execute() {
  auto& d = Dispatcher_;
  auto& ev = *d.Signals_.Events;
  // Reads never wait (the device is non-blocking), so there are no timeouts to
  // set; the event wait covers every event the dispatcher asks for.
  ev.ThreadAck.Set();
  try {
    while (!d.Run_.StopRequested.load()) {
      uint32_t mask = 0;
      const bool arrived = d.WaitComEvent(mask);
      if (d.Run_.StopRequested.load() || !arrived) break;
      if (mask & (EvRing | EvRingTe)) d.Signals_.RingSeen.store(true);
      d.HandOverEvent(mask);
      ev.ComEventDone.Wait(TSerEventGroup::Infinite);
    }
  } catch (const std::exception& e) {
    ReportThreadFailure("event thread", e.what());
  }
  ev.ThreadAck.Set();
  d.ThreadFinished(tkCom);
}

void TDispThread::Execute() {
  auto& d = Dispatcher_;
  auto& ev = *d.Signals_.Events;
  ev.ThreadAck.Set();
  bool normalEnd = false;
  const bool onDevice = d.DeliveryWaitsOnDevice();
  try {
    while (!d.Run_.StopRequested.load() && !d.Run_.ClosePending.load()) {
      if (onDevice) {
        d.DeviceTurn();
        continue;
      }
      // Idle without timers to run, the thread sleeps until the event thread
      // (or a stop, or restored triggers) wakes it, instead of 20 times a second.
      const auto wait = d.NeedsPeriodicPass() ? std::chrono::milliseconds(kDispPollMs) : TSerEventGroup::Infinite;
      ev.Group.WaitAny({&ev.ComEventReady, &ev.PassWake}, wait);
      if (d.Run_.StopRequested.load()) break;
      d.ProcessCommEvent();
      d.ProcessTimers();
    }
    normalEnd = true;
  } catch (const std::exception& e) {
    ReportThreadFailure("delivery thread", e.what());
  }
  if (normalEnd) ev.ThreadAck.Set();
  // Only a close during a delivery leaves the release to this thread; after a
  // plain close the main thread is already releasing the port.
  d.Run_.ReleaseOnDispExit.store(d.Run_.ClosePending.load());
  d.ThreadFinished(tkDisp);
}

void TOutThread::Execute() {
  auto& d = Dispatcher_;
  auto& ev = *d.Signals_.Events;
  ev.ThreadAck.Set();
  try {
    while (!d.Run_.StopRequested.load() && !d.Run_.ClosePending.load()) {
      const int which = ev.Group.WaitAny({&ev.OutputReady, &ev.FlushRequest}, TSerEventGroup::Infinite);
      if (which == 0) {
        if (d.Run_.StopRequested.load()) break;
        d.WriteLoop();
      } else {
        ev.ThreadAck.Set();
      }
    }
  } catch (const std::exception& e) {
    ReportThreadFailure("output thread", e.what());
  }
  d.ThreadFinished(tkOut);
}

// ---- dispatcher part --------------------------------------------------------

TSerThreadedDispatcher::TSerThreadedDispatcher(TSerCustomComPort* owner) : TSerBaseDispatcher(owner) {}

TSerThreadedDispatcher::~TSerThreadedDispatcher() {
  // The most-derived destructor has waited for every thread to finish; joining
  // here, before the members the threads touch last are gone, ends them for good.
  for (auto& thread : Threads_) thread.reset();
}

void TSerThreadedDispatcher::HandOverEvent(uint32_t mask) {
  if (!DeliveryWaitsOnDevice()) {
    Signals_.EventMask.store(mask);
    Signals_.Events->ComEventReady.Set();
    return;
  }
  // Collected rather than stored: the delivery thread may be passing received
  // bytes meanwhile and takes these with its next pass.
  PendingEvents_.fetch_or(mask);
  Signals_.Events->ComEventReady.Set();
  WakeDelivery();
}

void TSerThreadedDispatcher::DeviceTurn() {
  auto& ev = *Signals_.Events;
  constexpr auto now = std::chrono::milliseconds(0);
  bool fromEventThread = ev.ComEventReady.Wait(now);
  uint32_t input = 0;
  if (!fromEventThread) {
    bool full;
    {
      std::lock_guard lock(Input_.Lock);
      full = Input_.Ring.Full;
    }
    // Idle without timers to run, the thread sleeps until bytes arrive or it is
    // woken. A full ring cannot take the bytes that wait, which would keep the
    // device ready for ever: it is looked at on the periodic pass instead.
    // Bytes or a hang-up taken in during the last delivery are passed at once.
    int timeout = full || NeedsPeriodicPass() ? kDispPollMs : -1;
    if (PendingEvents_.load() != 0 || HasUnscannedInput()) timeout = 0;
    input = WaitDeviceInput(!full, timeout);
    if (Run_.StopRequested.load()) return;
    fromEventThread = ev.ComEventReady.Wait(now);
  }
  // The wait above chose its timeout anew, which is all a wake-up for restored
  // triggers asks for.
  ev.PassWake.Wait(now);
  const uint32_t mask = PendingEvents_.exchange(0) | input;
  // After a timeout the pass runs with the previous event mask.
  if (mask != 0) Signals_.EventMask.store(mask);
  Signals_.ReleaseEventThread = fromEventThread;
  ProcessCommEvent();
  ProcessTimers();
}

TSerDeliveryWaiter* TSerThreadedDispatcher::DeliveryWaiter() {
  return DeliveryWaitsOnDevice() && IsThread(tkDisp) ? &ReadingWaiter_ : nullptr;
}

void TSerThreadedDispatcher::TReadingWaiter::Wait(int timeoutMs) {
  auto& d = D_;
  // A port being closed takes no more input.
  const bool closing = d.Run_.StopRequested.load() || d.Run_.ClosePending.load();
  bool full;
  {
    std::lock_guard lock(d.Input_.Lock);
    full = d.Input_.Ring.Full;
  }
  const uint32_t mask = d.WaitDeviceInput(!full && !closing, timeoutMs);
  // The bytes are announced after this delivery, the hang-up reported then.
  if (mask & EvRxChar) d.ReadIntoBuffer();
  if (mask & EvHangup) d.PendingEvents_.fetch_or(EvHangup);
}

void TSerThreadedDispatcher::TReadingWaiter::Wake() { D_.WakeDelivery(); }

bool TSerThreadedDispatcher::IsThread(TSerThreadKind kind) const {
  return Threads_[kind] && Threads_[kind]->IsCallingThread();
}

void TSerThreadedDispatcher::ThreadBodyEnded() {
  std::lock_guard lock(EndMutex_);
  EndChanged_.notify_all();
}

void TSerThreadedDispatcher::StartDispatcher() {
  {
    std::lock_guard lock(MainLock_);
    if (Run_.Running.load()) throw ESerException(std::string("Dispatcher already started"));
    Run_.Running.store(true);
    Run_.StopRequested.store(false);
    Rotation_.assign(LineState_.OutSize, 0);
  }
  // Waiting for each start happens outside the main lock: a starting thread may
  // need it.
  const TSerThreadKind order[] = {tkCom, tkDisp, tkOut};
  for (TSerThreadKind kind : order) {
    Threads_[kind].reset();  // joins a thread of an earlier open that has ended
    switch (kind) {
      case tkCom: Threads_[kind] = std::make_unique<TComThread>(*this); break;
      case tkDisp: Threads_[kind] = std::make_unique<TDispThread>(*this); break;
      case tkOut: Threads_[kind] = std::make_unique<TOutThread>(*this); break;
    }
    Run_.Active[kind].store(true);
    // Counted before the thread runs, so that nobody sees the count at 0 while
    // a thread is about to start.
    Run_.Count.fetch_add(1);
    Threads_[kind]->Start();
    Signals_.Events->ThreadAck.Wait(std::chrono::milliseconds(kStartAckMs));
  }
}

bool TSerThreadedDispatcher::WaitThreadEnd(TSerThreadKind kind, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Run_.Active[kind].load()) {
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
    // The thread may be waiting for the main thread to handle a notification.
    ProcessOneMessage();
    std::unique_lock lock(EndMutex_);
    // ThreadFinished clears the flag; the thread object signals right after.
    // The short bound covers a thread whose ThreadFinished is still busy.
    EndChanged_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !Run_.Active[kind].load(); });
  }
  return true;
}

void TSerThreadedDispatcher::StopDispatcher() {
  // The main thread and the delivery thread (releasing after a close during a
  // delivery) may both get here; the second finds the events closed.
  std::lock_guard stopLock(StopMutex_);
  if (!Run_.Running.load() || !Signals_.Events) return;
  Run_.StopRequested.store(true);
  auto& ev = *Signals_.Events;
  // No lock is held while waiting: the delivery thread takes the main lock in
  // its passes and may be waiting for the main thread.
  if (Run_.Active[tkOut].load() && !IsThread(tkOut)) {
    ev.FlushRequest.Set();
    WakeWriter();
    WaitThreadEnd(tkOut, -1);
  }
  if (Run_.Active[tkCom].load() && !IsThread(tkCom)) {
    CancelEventWait();
    ev.ComEventDone.Set();
    ev.ThreadAck.Reset();
    WaitThreadEnd(tkCom, -1);
  }
  if (Run_.Active[tkDisp].load() && !IsThread(tkDisp)) {
    // Waking it at once spares the rest of its 50 ms wait.
    ev.ComEventReady.Set();
    WakeDelivery();
    if (!WaitThreadEnd(tkDisp, kDispEndMs)) {
      ev.ComEventReady.Set();
      WakeDelivery();
      if (!WaitThreadEnd(tkDisp, kDispEndMs)) WaitThreadEnd(tkDisp, -1);
    }
  }
  DeviceThreadsEnded();
  CloseEvents();
}

int TSerThreadedDispatcher::WriteCom(const uint8_t* buffer, uint32_t size) {
  {
    std::lock_guard lock(Output_.Lock);
    Output_.Ring.Write(buffer, size);
  }
  if (Signals_.Events) Signals_.Events->OutputReady.Set();
  return static_cast<int>(size);
}

int TSerThreadedDispatcher::FlushCom(int queue) {
  if (queue == FlushInput) return DiscardDevice(FlushInput);
  if (Run_.Active[tkOut].load() && Signals_.Events) {
    Signals_.Events->FlushRequest.Set();
    WakeWriter();
    Signals_.Events->ThreadAck.Wait(std::chrono::milliseconds(kFlushAckMs));
  }
  {
    std::lock_guard lock(Output_.Lock);
    Output_.Ring.Reset();
  }
  return DiscardDevice(FlushOutput);
}

uint32_t TSerThreadedDispatcher::OutputPending() {
  std::lock_guard lock(Output_.Lock);
  return Output_.Ring.Used();
}

void TSerThreadedDispatcher::AdvanceOutput(uint32_t n) {
  std::lock_guard lock(Output_.Lock);
  // A flush that gave up waiting for this thread may have emptied the ring.
  if (Output_.Ring.Empty()) return;
  Output_.Ring.Consume(n);
  // An emptied ring starts again at index 0, so that the next block goes out in one piece.
  if (Output_.Ring.Empty()) Output_.Ring.Reset();
}

void TSerThreadedDispatcher::WriteLoop() {
  auto& ev = *Signals_.Events;
  for (;;) {
    const uint8_t* chunk = nullptr;
    uint32_t count = 0;
    {
      std::lock_guard lock(Output_.Lock);
      if (Output_.Ring.Empty()) return;
      // Pending bytes that wrap are moved to the start of the ring, so that one
      // write sends them all.
      Output_.Ring.Straighten(Rotation_.data());
      count = Output_.Ring.ReadableRun();
      chunk = Output_.Ring.Buffer.get() + Output_.Ring.Tail;
    }
    // The chosen bytes stay put while unlocked: the main thread only appends
    // behind head, and only this thread moves tail.
    const int written = DeviceWrite(chunk, count);
    if (written > 0) {
      AdvanceOutput(static_cast<uint32_t>(written));
    } else if (written == 0) {
      if (!WaitDeviceWritable() && ev.FlushRequest.Wait(std::chrono::milliseconds(0))) {
        // The flusher empties the ring once we acknowledge.
        ev.ThreadAck.Set();
        return;
      }
    } else {
      AdvanceOutput(count);  // the device refused them: drop and go on
    }
    if (Run_.StopRequested.load()) return;
  }
}
