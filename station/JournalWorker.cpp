#include "station/JournalWorker.h"

#include <QMetaObject>

namespace station {

JournalWorker::JournalWorker() {
  if (kOwnThread) thread_ = std::thread([this] { Run(); });
}

JournalWorker::~JournalWorker() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  jobsChanged_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void JournalWorker::Post(std::function<void()> job) {
  if (!kOwnThread) {
    job();
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  jobsChanged_.notify_one();
}

void JournalWorker::Run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      // What was queued still runs: a journal closed by a job goes away here.
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
    // Whatever the job holds is let go on this thread too.
    job = nullptr;
  }
}

void JournalWorker::Finish(Ticket& ticket) {
  // The wake-up is posted before the ticket says done: once the caller sees
  // done, it may leave and take its loop with it, and Qt drops the events of
  // an object that is gone.
  QMetaObject::invokeMethod(ticket.loop, &QEventLoop::quit, Qt::QueuedConnection);
  const std::lock_guard<std::mutex> lock(ticket.mutex);
  ticket.done = true;
  ticket.doneChanged.notify_one();
}

void JournalWorker::Await(Ticket& ticket, QEventLoop& loop) {
  // Nothing runs the event loop between the post and here, so the wake-up
  // cannot be taken by anyone else first. The loop also ends when the
  // program quits; then the rest of the (bounded) job is waited out plainly.
  loop.exec();
  std::unique_lock<std::mutex> lock(ticket.mutex);
  ticket.doneChanged.wait(lock, [&ticket] { return ticket.done; });
}

}  // namespace station
