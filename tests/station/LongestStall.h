#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest the event loop went without serving a 50 ms timer since this
// was made: how long the window did not answer.
class LongestStall {
 public:
  LongestStall() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    clock_.start();
    timer_.start(50);
  }
  qint64 Ms() {
    Tick();
    return longest_;
  }

 private:
  void Tick() { longest_ = std::max(longest_, clock_.restart()); }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};
