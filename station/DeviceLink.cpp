#include <QThread>

#include <chrono>

#include "core/DeviceProfile.h"
#include "portselect/PortSelectDialog.h"
#include "serial/ComPort.h"
#include "serial/OpenFailure.h"
#include "serial/SerialCommon.h"
#include "station/MainWindow.h"
#include "station/RecorderFailure.h"

namespace {

// The drain wait gives up after about 20 s, as 100 polls of 200 ms would.
constexpr auto kDrainLimit = std::chrono::milliseconds(100 * 200);
// Polled finely so that a command that leaves at once costs only the pause
// below, not a further poll interval.
constexpr auto kDrainPoll = std::chrono::milliseconds(1);

void Pause(std::chrono::milliseconds length) { QThread::msleep(static_cast<unsigned long>(length.count())); }

}  // namespace

void TForm1::SetUpComPort1() {
  station::ApplyDeviceProfile(ComPort1, station::kCardDevice);
  ComPort1.SetOnTrigger([this](TSerCustomComPort* CP, std::uint16_t Msg, std::uint16_t TriggerHandle,
                               std::uint16_t Data) { ComPort1Trigger(CP, Msg, TriggerHandle, Data); });
  // Read at every open, so a [Ports] entry written meanwhile takes effect.
  ComPort1.SetPortResolver([this](std::uint16_t portNumber) { return config_.devicePath(portNumber); });
  // Asked when the configured name holds no port number (COM0, say): the
  // question names what the settings hold.
  ComPort1.SetPortPrompt([this](const std::function<bool(uint16_t)>& isPresent) {
    return ShowPortSelectDialog(isPresent, QString::fromStdString(config_.portName()));
  });
  // Handled after the notification has returned, so that the session closes
  // the port outside it and the close completes at once.
  ComPort1.SetOnLineLost([this](TSerCustomComPort*) {
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { session_.PortLost(); }); }, Qt::QueuedConnection);
  });
}

void TForm1::ShutDownPort() noexcept {
  OpenTimer.stop();
  ReconnectTimer.stop();
  // Detaching drops the replies still in flight.
  ComPort1.SetOnTrigger({});
  ComPort1.SetOnLineLost({});
  try {
    CloseComPort();
  } catch (...) {
    // Closing on the way out has no one left to tell.
  }
}

std::string TForm1::CloseComPort() {
  // The recorders are written before the close itself, one at a time, so that
  // a file that cannot be written is known by name and the port closes all the
  // same: a close that stopped at the trace would leave the window showing a
  // port that is gone.
  std::string failures;
  const auto dump = [&](bool trace) {
    try {
      if (trace) {
        ComPort1.SetTracing(tlDump);
      } else {
        ComPort1.SetLogging(tlDump);
      }
    } catch (const std::exception& e) {
      if (!failures.empty()) failures += "\n";
      failures += station::RecorderFailureText(trace ? ComPort1.TraceName() : ComPort1.LogName(), e);
    }
  };
  if (ComPort1.Open()) {
    dump(true);
    dump(false);
  }
  ComPort1.SetOpen(false);
  return failures;
}

void TForm1::SetUpDiagnostics() {
  // Switched in the settings file for a field diagnosis; the recorders write
  // their files into its folder when the port closes.
  const settings::Diagnostics diagnostics = config_.diagnostics ? config_.diagnostics() : settings::Diagnostics{};
  ComPort1.SetTraceName((diagnostics.folder / station::kCardDevice.traceName).string());
  ComPort1.SetLogName((diagnostics.folder / station::kCardDevice.logName).string());
  ComPort1.SetTracing(diagnostics.trace ? tlOn : tlOff);
  ComPort1.SetLogging(diagnostics.log ? tlOn : tlOff);
}

bool TForm1::PortOpen() { return ComPort1.Open(); }

bool TForm1::OpenPort(std::optional<std::uint16_t> number) {
  openFailure_.clear();
  try {
    if (ComPort1.Open()) ClosePort();
    // Lets the device and the line settle before the port is opened again.
    Pause(config_.timings.reopenSettle);
    if (!number) return false;
    ComPort1.SetComNumber(*number);
    SetUpDiagnostics();
    ComPort1.SetOpen(true);
    return true;
  } catch (const std::exception& e) {
    openFailure_ = OpenFailureText(OpenFailureOf(e));
    return false;
  } catch (...) {
    return false;
  }
}

std::string TForm1::OpenFailureDetail() { return openFailure_; }

bool TForm1::ReopenPort() {
  // Silent by design: the device is expected to be away for a while.
  try {
    if (!ComPort1.Open()) ComPort1.SetOpen(true);
    return ComPort1.Open();
  } catch (...) {
    return false;
  }
}

void TForm1::StartReconnectTimer() { ReconnectTimer.start(); }

void TForm1::StopReconnectTimer() { ReconnectTimer.stop(); }

void TForm1::TryOpenPort() {
  try {
    ComPort1.SetOpen(true);
  } catch (const std::exception&) {
  }
}

void TForm1::ClosePort() {
  const std::string failures = CloseComPort();
  if (failures.empty()) return;
  // Told once the handler that closed the port has shown the closed state.
  QMetaObject::invokeMethod(
      this, [this, failures] { prompts().Warning(QString::fromStdString(failures)); }, Qt::QueuedConnection);
}

std::uint16_t TForm1::PortNumber() { return ComPort1.ComNumber(); }

void TForm1::Send(std::string_view bytes) {
  if (!bytes.empty()) ComPort1.PutBlock(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  WaitOutputDrained();
}

void TForm1::WaitOutputDrained() {
  // Blocking on purpose: no event runs until the device has had its pause.
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  while (ComPort1.OutBuffUsed() != 0 && std::chrono::steady_clock::now() < deadline) {
    Pause(kDrainPoll);
  }
  // The device needs this pause after every command before it takes the next.
  Pause(config_.timings.afterCommand);
}

// Gives the rest of a reply time to arrive before the next chunk is looked at.
void TForm1::AwaitMoreReply() { Pause(config_.timings.incompleteReply); }

void TForm1::ComPort1Trigger(TSerCustomComPort* /*CP*/, std::uint16_t Msg, std::uint16_t /*TriggerHandle*/,
                             std::uint16_t Data) {
  if (Msg != TriggerAvailMsg) return;
  // Nothing that happens while a reply is handled may reach the operator as an
  // error box: a reply handler that fails stops where it is.
  try {
    std::string bytes;
    bytes.reserve(Data);
    for (std::uint16_t i = 0; i < Data; ++i) bytes.push_back(ComPort1.GetChar());
    session_.ReplyBytes(bytes);
  } catch (...) {
  }
}
