#include "serial/NotifyWindow.h"

#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "serial/Dispatcher.h"

struct TSerNotifyWindow::TRecord {
  enum class TStage { Queued, Running, Done, Dropped };
  uint16_t Msg = 0;
  uint16_t WParam = 0;
  uint32_t LParam = 0;
  bool Waited = false;                   // a sender waits for it
  TSerDeliveryWaiter* Waiter = nullptr;  // how that sender waits, when it brought its own way
  // Changed under the state's mutex; a sender woken through its waiter reads
  // it without the mutex, so that it does not queue behind the main thread
  // that has just woken it.
  std::atomic<TStage> Stage{TStage::Queued};
};

struct TSerNotifyWindow::TState {
  explicit TState(THandler handler) : Handler(std::move(handler)) {}
  // Kept here, not copied per message: the state outlives a window destroyed
  // from inside the handler.
  const THandler Handler;
  mutable std::mutex Mutex;
  std::condition_variable Handled;
  std::deque<std::shared_ptr<TRecord>> Queue;
  // Senders waiting through a waiter of their own. A sender whose message
  // was handled is taken off by the main thread before its message shows
  // Done; any other sender takes itself off before it returns. So a listed
  // waiter is alive.
  std::vector<TSerDeliveryWaiter*> Waiters;
  // Signalled after the mutex is let go, so that the main thread it wakes
  // does not find the mutex held; the line outlives the window.
  std::shared_ptr<const TSerWakeLine> Line;
  bool WakePosted = false;
  // Changed under the mutex; read without it by a sender whose waiter woke.
  std::atomic<bool> Closed{false};
};

TSerNotifyWindow::TSerNotifyWindow(THandler handler, QObject* parent)
    : QObject(parent), State_(std::make_shared<TState>(std::move(handler))) {
  WakeSignal_ = std::make_unique<TSerWakeSignal>([this] { HandleQueued(); });
  State_->Line = WakeSignal_->Line();
}

TSerNotifyWindow::~TSerNotifyWindow() {
  // Closed is set under the mutex that Enqueue holds while posting to this
  // object, so no thread posts to it once destruction has begun.
  SetAccepting(false);
  WakeSignal_.reset();
}

bool TSerNotifyWindow::TakeWake(TState& state) {
  if (state.WakePosted || !state.Line->Valid()) return false;
  state.WakePosted = true;
  return true;
}

void TSerNotifyWindow::SetAccepting(bool accepting) {
  std::lock_guard lock(State_->Mutex);
  State_->Closed = !accepting;
  if (accepting) return;
  for (auto& r : State_->Queue) r->Stage = TRecord::TStage::Dropped;
  State_->Queue.clear();
  State_->Handled.notify_all();
  for (TSerDeliveryWaiter* w : State_->Waiters) w->Wake();
}

TSerNotifyWindow::TEnqueued TSerNotifyWindow::Enqueue(const std::shared_ptr<TRecord>& record) {
  if (State_->Closed) {
    record->Stage = TRecord::TStage::Dropped;
    return TEnqueued::Dropped;
  }
  State_->Queue.push_back(record);
  return TakeWake(*State_) ? TEnqueued::Signal : TEnqueued::Queued;
}

bool TSerNotifyWindow::Send(uint16_t msg, uint16_t wParam, uint32_t lParam, int timeoutMs, TSerDeliveryWaiter* waiter) {
  using TStage = TRecord::TStage;
  auto record = std::make_shared<TRecord>();
  record->Msg = msg;
  record->WParam = wParam;
  record->LParam = lParam;
  record->Waited = true;
  record->Waiter = waiter;
  // The state outlives the window: the sender may still be waiting here when
  // the main thread destroys the window.
  std::shared_ptr<TState> state = State_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto finished = [&] {
    const TStage stage = record->Stage.load(std::memory_order_acquire);
    return stage == TStage::Done || stage == TStage::Dropped;
  };
  if (waiter == nullptr) {
    std::unique_lock lock(state->Mutex);
    if (Enqueue(record) == TEnqueued::Signal) {
      lock.unlock();
      state->Line->Signal();
      lock.lock();
    }
    state->Handled.wait_until(lock, deadline, finished);
    if (record->Stage == TStage::Queued) {
      std::erase(state->Queue, record);
      record->Stage = TStage::Dropped;
    }
    // A handler that has started is waited for to its end: the sender settles
    // what the handler took from the input, and settling early would hand the
    // same bytes to the next handler. A window that stops accepting (its owner
    // going away, perhaps from inside that very handler) ends the wait.
    state->Handled.wait(lock, [&] { return finished() || state->Closed; });
    return record->Stage == TStage::Done;
  }

  TEnqueued enqueued;
  {
    std::lock_guard lock(state->Mutex);
    enqueued = Enqueue(record);
    if (enqueued == TEnqueued::Dropped) return false;
    state->Waiters.push_back(waiter);
  }
  if (enqueued == TEnqueued::Signal) state->Line->Signal();
  // The waiter is woken after the handling; the stage tells whether this
  // message is the one handled, without the mutex on the usual path.
  bool timedOut = false;
  for (;;) {
    // Done: the main thread has taken the waiter off the list already.
    if (record->Stage.load(std::memory_order_acquire) == TStage::Done) return true;
    int ms = -1;
    if (!timedOut) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      timedOut = left.count() <= 0;
      ms = static_cast<int>(left.count());
    }
    // The waiter also ends its wait for its own work (input read meanwhile):
    // before the deadline and while the window accepts, that costs no lock.
    if (!timedOut && !state->Closed.load()) {
      waiter->Wait(ms);
      continue;
    }
    {
      std::lock_guard lock(state->Mutex);
      if (finished() || state->Closed) break;
      // Past the deadline a message not yet started is dropped; one whose
      // handling has started is waited for as above.
      if (record->Stage == TStage::Queued) {
        std::erase(state->Queue, record);
        record->Stage = TStage::Dropped;
        break;
      }
    }
    waiter->Wait(-1);
  }
  std::lock_guard lock(state->Mutex);
  std::erase(state->Waiters, waiter);
  return record->Stage == TStage::Done;
}

void TSerNotifyWindow::Post(uint16_t msg, uint16_t wParam, uint32_t lParam) {
  auto record = std::make_shared<TRecord>();
  record->Msg = msg;
  record->WParam = wParam;
  record->LParam = lParam;
  std::shared_ptr<TState> state = State_;
  TEnqueued enqueued;
  {
    std::lock_guard lock(state->Mutex);
    enqueued = Enqueue(record);
  }
  if (enqueued == TEnqueued::Signal) state->Line->Signal();
}

int TSerNotifyWindow::Pending() const {
  std::lock_guard lock(State_->Mutex);
  return static_cast<int>(State_->Queue.size());
}

void TSerNotifyWindow::Run(const std::shared_ptr<TRecord>& record) {
  // The handler may destroy this window (closing the component from a handler
  // defers that, but a test or the owner may delete it); keep the state alive
  // to release the sender either way.
  std::shared_ptr<TState> state = State_;
  try {
    state->Handler(record->Msg, record->WParam, record->LParam);
  } catch (...) {
    // The component's handler reports its own exceptions; nothing may escape
    // into Qt's event loop.
  }
  std::lock_guard lock(state->Mutex);
  const bool done = record->Stage == TRecord::TStage::Running;
  // Its sender returns once it sees Done and leaves the list to us then.
  if (done && record->Waiter != nullptr) std::erase(state->Waiters, record->Waiter);
  state->Handled.notify_all();
  for (TSerDeliveryWaiter* w : state->Waiters) w->Wake();
  // Done before the wake-up, so that the woken sender finds it without
  // waiting for this mutex; its waiter outlives the handling.
  if (done) record->Stage.store(TRecord::TStage::Done, std::memory_order_release);
  if (record->Waiter != nullptr) record->Waiter->Wake();
}

std::shared_ptr<TSerNotifyWindow::TRecord> TSerNotifyWindow::TakeQueued(bool waitedOnly) {
  auto& queue = State_->Queue;
  auto it = queue.begin();
  if (waitedOnly)
    while (it != queue.end() && !(*it)->Waited) ++it;
  if (it == queue.end()) return nullptr;
  std::shared_ptr<TRecord> record = std::move(*it);
  queue.erase(it);
  record->Stage = TRecord::TStage::Running;
  return record;
}

bool TSerNotifyWindow::ProcessOneSent() {
  std::shared_ptr<TRecord> record;
  {
    std::lock_guard lock(State_->Mutex);
    record = TakeQueued(true);
  }
  if (!record) return false;
  Run(record);
  return true;
}

void TSerNotifyWindow::HandleQueued() {
  std::shared_ptr<TState> state = State_;
  QPointer<TSerNotifyWindow> self(this);
  // Only the messages queued now: one queued by a handler waits for the next wake,
  // so a handler that keeps posting cannot starve the event loop.
  int budget;
  std::shared_ptr<TRecord> record;
  {
    std::lock_guard lock(state->Mutex);
    WakeSignal_->Consume();
    state->WakePosted = false;
    budget = static_cast<int>(state->Queue.size());
    if (!state->Closed) record = TakeQueued(false);
  }
  while (record) {
    Run(record);
    if (!self) return;
    std::lock_guard lock(state->Mutex);
    record = !state->Closed && --budget > 0 ? TakeQueued(false) : nullptr;
    if (!record && !state->Closed && !state->Queue.empty() && TakeWake(*state)) state->Line->Signal();
  }
}
