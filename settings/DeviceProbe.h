#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>

class TSerComPort;

namespace settings {

// Asks a serial device whether a card reader/writer is on it: opens the device
// at the card device's line settings, sends the status query and waits for a
// reply without blocking the event loop. Only the device's status reply (ESC
// "ok"), wherever it falls among the bytes and chunks, counts as an answer; an
// echo of the query and other bytes are noise. The port is closed before
// Finished is emitted. Main thread only; the event loop must run.
class DeviceProbe : public QObject {
  Q_OBJECT

 public:
  static constexpr auto kDefaultWait = std::chrono::milliseconds(1000);

  explicit DeviceProbe(QObject* parent = nullptr);
  ~DeviceProbe() override;

  // Starts a probe unless one is running. Finished follows exactly once: at
  // once when the device cannot be opened, else on the first reply or after wait.
  void Start(const std::string& devicePath, std::chrono::milliseconds wait = kDefaultWait);
  bool Running() const { return running_; }

 signals:
  void Finished(const QString& text);

 private:
  void Conclude(const QString& text);

  std::unique_ptr<TSerComPort> port_;
  QTimer timer_;
  std::string devicePath_;
  std::string received_;  // the bytes of this probe not yet ruled out as the start of a reply
  bool running_ = false;
  bool concluding_ = false;
};

}  // namespace settings
