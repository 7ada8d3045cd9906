#include "serial/NotifyWindow.h"

#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "serial/Dispatcher.h"

struct TSerNotifyWindow::TRecord {
  uint16_t Msg = 0;
  uint16_t WParam = 0;
  uint32_t LParam = 0;
  bool Waited = false;  // a sender waits for it
  enum class TStage { Queued, Running, Done, Dropped } Stage = TStage::Queued;
};

struct TSerNotifyWindow::TState {
  mutable std::mutex Mutex;
  std::condition_variable Handled;
  std::deque<std::shared_ptr<TRecord>> Queue;
  // Senders waiting through a waiter of their own; each leaves the list before
  // it returns, so a listed waiter is alive.
  std::vector<TSerDeliveryWaiter*> Waiters;
  bool WakePosted = false;
  bool Closed = false;
};

TSerNotifyWindow::TSerNotifyWindow(THandler handler, QObject* parent)
    : QObject(parent), Handler_(std::move(handler)), State_(std::make_shared<TState>()) {
  WakeSignal_ = std::make_unique<TSerWakeSignal>([this] { HandleQueued(); });
}

TSerNotifyWindow::~TSerNotifyWindow() {
  // Closed is set under the mutex that Enqueue holds while posting to this
  // object, so no thread posts to it once destruction has begun.
  SetAccepting(false);
  WakeSignal_.reset();
}

void TSerNotifyWindow::Wake() {
  if (State_->WakePosted || !WakeSignal_->Valid()) return;
  State_->WakePosted = true;
  WakeSignal_->Signal();
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

void TSerNotifyWindow::Enqueue(const std::shared_ptr<TRecord>& record) {
  std::lock_guard lock(State_->Mutex);
  if (State_->Closed) {
    record->Stage = TRecord::TStage::Dropped;
    return;
  }
  State_->Queue.push_back(record);
  Wake();
}

bool TSerNotifyWindow::Send(uint16_t msg, uint16_t wParam, uint32_t lParam, int timeoutMs, TSerDeliveryWaiter* waiter) {
  auto record = std::make_shared<TRecord>();
  record->Msg = msg;
  record->WParam = wParam;
  record->LParam = lParam;
  record->Waited = true;
  // The state outlives the window: the sender may still be waiting here when
  // the main thread destroys the window.
  std::shared_ptr<TState> state = State_;
  if (waiter != nullptr) {
    std::lock_guard lock(state->Mutex);
    state->Waiters.push_back(waiter);
  }
  Enqueue(record);
  std::unique_lock lock(state->Mutex);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto finished = [&] { return record->Stage == TRecord::TStage::Done || record->Stage == TRecord::TStage::Dropped; };
  // Waits until done() holds, or the deadline has passed when bounded.
  auto waitFor = [&](auto done, bool bounded) {
    if (waiter == nullptr) {
      if (bounded) state->Handled.wait_until(lock, deadline, done);
      else state->Handled.wait(lock, done);
      return;
    }
    while (!done()) {
      int ms = -1;
      if (bounded) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        ms = static_cast<int>(left.count());
      }
      lock.unlock();
      waiter->Wait(ms);
      lock.lock();
    }
  };
  waitFor(finished, true);
  if (record->Stage == TRecord::TStage::Queued) {
    std::erase(state->Queue, record);
    record->Stage = TRecord::TStage::Dropped;
  }
  // A handler that has started is waited for to its end: the sender settles what
  // the handler took from the input, and settling early would hand the same bytes
  // to the next handler. A window that stops accepting (its owner going away,
  // perhaps from inside that very handler) ends the wait.
  waitFor([&] { return finished() || state->Closed; }, false);
  if (waiter != nullptr) std::erase(state->Waiters, waiter);
  return record->Stage == TRecord::TStage::Done;
}

void TSerNotifyWindow::Post(uint16_t msg, uint16_t wParam, uint32_t lParam) {
  auto record = std::make_shared<TRecord>();
  record->Msg = msg;
  record->WParam = wParam;
  record->LParam = lParam;
  Enqueue(record);
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
  THandler handler = Handler_;
  try {
    handler(record->Msg, record->WParam, record->LParam);
  } catch (...) {
    // The component's handler reports its own exceptions; nothing may escape
    // into Qt's event loop.
  }
  std::lock_guard lock(state->Mutex);
  if (record->Stage == TRecord::TStage::Running) record->Stage = TRecord::TStage::Done;
  state->Handled.notify_all();
  for (TSerDeliveryWaiter* w : state->Waiters) w->Wake();
}

bool TSerNotifyWindow::ProcessOneSent() {
  std::shared_ptr<TRecord> record;
  {
    std::lock_guard lock(State_->Mutex);
    for (auto it = State_->Queue.begin(); it != State_->Queue.end(); ++it) {
      if ((*it)->Waited) {
        record = *it;
        State_->Queue.erase(it);
        break;
      }
    }
    if (!record) return false;
    record->Stage = TRecord::TStage::Running;
  }
  Run(record);
  return true;
}

void TSerNotifyWindow::HandleQueued() {
  {
    std::lock_guard lock(State_->Mutex);
    WakeSignal_->Consume();
    State_->WakePosted = false;
  }
  // Only the messages queued now: one queued by a handler waits for the next wake,
  // so a handler that keeps posting cannot starve the event loop.
  std::shared_ptr<TState> state = State_;
  int budget;
  {
    std::lock_guard lock(state->Mutex);
    budget = static_cast<int>(state->Queue.size());
  }
  QPointer<TSerNotifyWindow> self(this);
  while (budget-- > 0) {
    std::shared_ptr<TRecord> record;
    {
      std::lock_guard lock(state->Mutex);
      if (state->Closed || state->Queue.empty()) break;
      record = state->Queue.front();
      state->Queue.pop_front();
      record->Stage = TRecord::TStage::Running;
    }
    Run(record);
    if (!self) return;
  }
  std::lock_guard lock(state->Mutex);
  if (!state->Closed && !state->Queue.empty()) Wake();
}
