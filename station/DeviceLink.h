#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "serial/ComPort.h"
#include "settings/SettingsFile.h"

// How long the station gives the device and the operator. These are the
// device's needs and the operator's rhythm; tests that do not examine a wait
// may shorten it.
struct StationTimings {
  std::chrono::milliseconds afterCommand{200};     // the device's pause after every command
  std::chrono::milliseconds incompleteReply{100};  // for the rest of a reply to arrive
  std::chrono::milliseconds reopenSettle{50};      // for the line to settle before a reopen
  std::chrono::milliseconds tick{1000};            // the operation timer's second
  std::chrono::milliseconds reconnect{2000};       // between reopen attempts after a line loss
};

namespace station {

// The card device's serial port as the station uses it: opening it on the
// configured port with the field-diagnosis recorders switched as the settings
// say, sending a command and holding the caller for the device's pause,
// handing the device's bytes on, and trying to reopen a line that went away.
// Main thread only; the port's notifications arrive there.
class DeviceLink : public QObject {
 public:
  struct Hooks {
    std::function<std::string()> portName;                 // e.g. "com1"
    std::function<std::string(std::uint16_t)> devicePath;  // port number -> device
    std::function<settings::Diagnostics()> diagnostics;    // unset: recorders off
    std::function<void(const std::string&)> replyBytes;    // the device's bytes, in order
    std::function<void()> lineLost;                        // after the notification returned
    std::function<void()> reconnectTick;                   // every reconnect period
    std::function<void(const std::string&)> warning;       // for the operator, UTF-8
  };

  DeviceLink(StationTimings timings, Hooks hooks, QObject* parent);
  ~DeviceLink() override;
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  const TSerComPort& port() const { return port_; }

  bool IsOpen() const { return port_.Open(); }
  std::uint16_t PortNumber() const { return port_.ComNumber(); }
  // Closes an open port, lets the line settle and opens port number; false
  // (with OpenFailureDetail set when the open itself failed) when it did not
  // open or there was no number.
  bool Open(std::optional<std::uint16_t> number);
  // The second line of the last failed open's message; empty after a success.
  const std::string& OpenFailureDetail() const { return openFailure_; }
  // Opens the port once more without a word: the device may be away a while.
  bool Reopen();
  // Opens the port if it can; a failure is left for the caller to see.
  void TryOpen();
  // Closes the port; recorder files that could not be written are told to the
  // operator once the current handler has shown the closed state.
  void Close();
  // Writes the recorders' files and closes the port, also when a file cannot
  // be written; returns the operator's text for each file that could not be
  // (lines), empty when all went well.
  std::string CloseAndRecord();
  // Closes the port with its notifications detached, so that no reply reaches
  // an owner on its way out.
  void ShutDown() noexcept;

  // Sends the bytes, waits until they have left and holds the caller for the
  // device's pause after a command.
  void Send(std::string_view bytes);
  // Gives the rest of a reply time to arrive before the next chunk is looked at.
  void AwaitMoreReply();

  void StartReconnecting() { reconnectTimer_.start(); }
  void StopReconnecting() { reconnectTimer_.stop(); }

  // The port's notification: Data bytes are waiting when Msg is TriggerAvailMsg.
  void Trigger(std::uint16_t msg, std::uint16_t data);

 private:
  void SetUpDiagnostics();

  StationTimings timings_;
  Hooks hooks_;
  QTimer reconnectTimer_;
  std::string openFailure_;
  TSerComPort port_;
};

}  // namespace station
