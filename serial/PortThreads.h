#pragma once
// The three port threads of a dispatcher and the platform-neutral part of the
// device layer: starting and stopping the threads, the output ring's write loop
// and the hand-offs between the threads through the dispatcher's six events.
//
//   TComThread   waits for device events            -> ComEventReady
//   TDispThread  reads input, runs triggers, delivers <- ComEventReady, -> ComEventDone
//   TOutThread   writes the output ring to the device <- OutputReady, FlushRequest
//
// A device layer that can wait for received bytes and for its wake-ups together
// (DeliveryWaitsOnDevice) lets the delivery thread wait on the device itself:
// received bytes then wake the thread that reads and delivers them directly,
// and the event thread watches only modem lines and line errors, handing what
// it sees over as before.
//
// The device adapter (DeviceDispatcher.h) derives from TSerThreadedDispatcher
// and supplies the device primitives declared protected below.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/Dispatcher.h"

class TSerThreadedDispatcher;

// One port thread. It runs its body once; the body's last action is the
// dispatcher's ThreadFinished. The object joins the thread when destroyed.
class TSerDispatcherThread {
 public:
  TSerDispatcherThread(TSerThreadedDispatcher& dispatcher, TSerThreadKind kind);
  virtual ~TSerDispatcherThread();
  TSerDispatcherThread(const TSerDispatcherThread&) = delete;
  TSerDispatcherThread& operator=(const TSerDispatcherThread&) = delete;

  void Start();
  bool IsCallingThread() const { return Thread_.get_id() == std::this_thread::get_id(); }
  TSerThreadKind Kind() const { return Kind_; }

 protected:
  virtual void Execute() = 0;
  void Join();
  TSerThreadedDispatcher& Dispatcher_;

 private:
  void Run();
  const TSerThreadKind Kind_;
  std::thread Thread_;
};

class TComThread final : public TSerDispatcherThread {
 public:
  explicit TComThread(TSerThreadedDispatcher& d) : TSerDispatcherThread(d, tkCom) {}
  ~TComThread() override;

 protected:
  void Execute() override;
};

class TDispThread final : public TSerDispatcherThread {
 public:
  explicit TDispThread(TSerThreadedDispatcher& d) : TSerDispatcherThread(d, tkDisp) {}
  ~TDispThread() override;

 protected:
  void Execute() override;
};

class TOutThread final : public TSerDispatcherThread {
 public:
  explicit TOutThread(TSerThreadedDispatcher& d) : TSerDispatcherThread(d, tkOut) {}
  ~TOutThread() override;

 protected:
  void Execute() override;
};

class TSerThreadedDispatcher : public TSerBaseDispatcher {
 public:
  explicit TSerThreadedDispatcher(TSerCustomComPort* owner);
  ~TSerThreadedDispatcher() override;

  // Main thread, at the end of OpenCom. Throws ESerException "Dispatcher already
  // started" when the threads run already. A thread that does not acknowledge its
  // start within 3000 ms does not stop the open.
  void StartDispatcher() override;
  // Main thread (or the delivery thread as it releases the port after a close
  // during a delivery). Stops the threads, processing the main thread's messages
  // while waiting, then closes the events. Does nothing when no threads run.
  void StopDispatcher() override;
  // Main thread, under nobody's lock: queues bytes behind the output ring's head
  // and wakes the output thread.
  int WriteCom(const uint8_t* buffer, uint32_t size) override;
  // Queue 0: ends a pending write, empties the output ring and the driver's output
  // queue. Queue 1: empties the driver's input queue.
  int FlushCom(int queue) override;

 protected:
  // Device primitives for the threads.
  // Output thread: bytes the driver accepted (0 when its queue is full), or a
  // negative result code.
  virtual int DeviceWrite(const uint8_t* buffer, uint32_t size) = 0;
  // Output thread: blocks until the driver takes output again (true) or
  // WakeWriter is called (false).
  virtual bool WaitDeviceWritable() = 0;
  // Any thread: ends a WaitDeviceWritable.
  virtual void WakeWriter() = 0;
  // Any thread: ends a WaitComEvent, which then returns false.
  virtual void CancelEventWait() = 0;
  // Discards the driver's input (queue 1) or output (queue 0) queue; 0 or a code.
  virtual int DiscardDevice(int queue) = 0;
  // Closes the device once no thread can touch it any more.
  virtual void DeviceThreadsEnded() = 0;
  // Whether the delivery thread waits on the device for received bytes and
  // hang-ups itself (WaitDeviceInput); the event thread's WaitComEvent then
  // reports modem line changes and line errors only. Fixed for the dispatcher's
  // life.
  virtual bool DeliveryWaitsOnDevice() const = 0;
  // Delivery thread: blocks until received bytes wait (only when watchData),
  // WakeDelivery is called, or timeoutMs passes (negative: no limit). Returns
  // EvRxChar when bytes wait, EvHangup once when the device went away, else 0.
  virtual uint32_t WaitDeviceInput(bool watchData, int timeoutMs) = 0;
  // Called first on each port thread: names it for the system's thread lists
  // (profilers, /proc), so that its wake-ups and CPU can be told apart.
  virtual void NameCurrentThread(TSerThreadKind kind) = 0;

  TSerDeliveryWaiter* DeliveryWaiter() override;

  // The threads are running and the device must stay open for them.
  bool ThreadsHoldDevice() const { return Run_.Running.load(); }
  // Any thread: bytes put and not yet written (the whole ring when full). The
  // device layer reads the output ring only through this.
  uint32_t OutputPending();

 private:
  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;
  friend class TSerDispatcherThread;

  void WriteLoop();
  void AdvanceOutput(uint32_t n);
  // Delivery thread: one wait and pass when it waits on the device itself.
  void DeviceTurn();
  // Event thread: hands a device event to the delivery thread.
  void HandOverEvent(uint32_t mask);
  // Waits until the thread of that kind has called ThreadFinished; processes the
  // main thread's messages meanwhile. False when timeoutMs (>= 0) passed first.
  bool WaitThreadEnd(TSerThreadKind kind, int timeoutMs);
  void ThreadBodyEnded();
  bool IsThread(TSerThreadKind kind) const;

  std::unique_ptr<TSerDispatcherThread> Threads_[3];
  std::vector<uint8_t> Rotation_;  // output thread only
  // Events the event thread saw and the delivery thread has not yet taken, when
  // the delivery thread waits on the device.
  std::atomic<uint32_t> PendingEvents_{0};
  // The delivery thread's wait for the main thread when it waits on the device:
  // it reads what arrives meanwhile into the input ring.
  class TReadingWaiter final : public TSerDeliveryWaiter {
   public:
    explicit TReadingWaiter(TSerThreadedDispatcher& d) : D_(d) {}
    void Wait(int timeoutMs) override;
    void Wake() override;

   private:
    TSerThreadedDispatcher& D_;
  };
  TReadingWaiter ReadingWaiter_{*this};
  std::recursive_mutex StopMutex_;
  std::mutex EndMutex_;
  std::condition_variable EndChanged_;
};
