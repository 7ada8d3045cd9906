#pragma once
// The component's notification receiver on the main thread. Port threads hand
// it messages through a mutex-protected queue and wake the main thread through
// a system object that Qt's event loop watches (TSerWakeSignal); no Qt object
// crosses threads, so every hand-off is one that race detectors can see.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

#include "serial/WakeSignal.h"

class TSerDeliveryWaiter;

class TSerNotifyWindow : public QObject {
  Q_OBJECT
 public:
  using THandler = std::function<void(uint16_t msg, uint16_t wParam, uint32_t lParam)>;

  // Main thread. The handler runs on the main thread for every message.
  explicit TSerNotifyWindow(THandler handler, QObject* parent = nullptr);
  // Main thread. Senders still waiting are released with "not handled".
  ~TSerNotifyWindow() override;

  // Any thread but the main one. Queues the message and waits until it has been
  // handled or timeoutMs has passed. False on timeout or when the window went away
  // before handling it; a message not yet started by then is dropped, one whose
  // handling has started is waited for until it ends or the window stops accepting.
  // With a waiter the sender waits through it (see TSerDeliveryWaiter), woken
  // whenever a message has been handled or the window stops accepting.
  bool Send(uint16_t msg, uint16_t wParam, uint32_t lParam, int timeoutMs, TSerDeliveryWaiter* waiter = nullptr);
  // Any thread. Queues the message behind the ones already queued; does not wait.
  void Post(uint16_t msg, uint16_t wParam, uint32_t lParam);
  // Main thread. Handles the oldest queued message that a sender waits for, so that
  // a main thread blocked on the port threads can still let a delivery finish.
  // False when none was queued.
  bool ProcessOneSent();
  // Main thread. While not accepting, messages are refused (Send returns false at
  // once) and those still queued are dropped. A new window accepts.
  void SetAccepting(bool accepting);
  // Any thread: messages queued and not yet started.
  int Pending() const;

 private:
  struct TRecord;
  struct TState;
  // Queue mutex held: whether the caller is to signal the main thread (once
  // the mutex is let go); none is due while one is on its way.
  static bool TakeWake(TState& state);
  void HandleQueued();
  void Run(const std::shared_ptr<TRecord>& record);
  // Queue mutex held. Dropped while not accepting; Signal when the caller is
  // to signal the main thread once it has let the mutex go.
  enum class TEnqueued { Dropped, Queued, Signal };
  TEnqueued Enqueue(const std::shared_ptr<TRecord>& record);
  // Queue mutex held: the oldest queued message (only those a sender waits
  // for, when waitedOnly), marked running; null when there is none.
  std::shared_ptr<TRecord> TakeQueued(bool waitedOnly);

  std::shared_ptr<TState> State_;
  std::unique_ptr<TSerWakeSignal> WakeSignal_;
};
