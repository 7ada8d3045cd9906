#include <QThread>

#include <chrono>
#include <utility>

#include "core/DeviceProfile.h"
#include "portselect/PortSelectDialog.h"
#include "serial/ComPort.h"
#include "serial/OpenFailure.h"
#include "serial/SerialCommon.h"
#include "station/DeviceLink.h"
#include "station/RecorderFailure.h"

namespace {

// The drain wait gives up after about 20 s, as 100 polls of 200 ms would.
constexpr auto kDrainLimit = std::chrono::milliseconds(100 * 200);
// Polled finely so that a command that leaves at once costs only the pause
// below, not a further poll interval: the port's writer takes a short command
// within a tenth of a millisecond, and a card run pays the poll at every card.
constexpr auto kDrainPoll = std::chrono::microseconds(100);

void Pause(std::chrono::microseconds length) { QThread::usleep(static_cast<unsigned long>(length.count())); }

}  // namespace

namespace station {

DeviceLink::DeviceLink(StationTimings timings, Hooks hooks, QObject* parent)
    : QObject(parent), timings_(timings), hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("DeviceLink"));
  reconnectTimer_.setParent(this);
  reconnectTimer_.setObjectName(QStringLiteral("ReconnectTimer"));
  reconnectTimer_.setInterval(timings_.reconnect);
  connect(&reconnectTimer_, &QTimer::timeout, this, [this] {
    if (hooks_.reconnectTick) hooks_.reconnectTick();
  });

  ApplyDeviceProfile(port_, kCardDevice);
  port_.SetOnTrigger(
      [this](TSerCustomComPort*, std::uint16_t msg, std::uint16_t, std::uint16_t data) { Trigger(msg, data); });
  // Read at every open, so a [Ports] entry written meanwhile takes effect.
  port_.SetPortResolver([this](std::uint16_t portNumber) { return hooks_.devicePath(portNumber); });
  // Asked when the configured name holds no port number (COM0, say): the
  // question names what the settings hold.
  port_.SetPortPrompt([this](const std::function<bool(uint16_t)>& isPresent) {
    return ShowPortSelectDialog(isPresent, QString::fromStdString(hooks_.portName()));
  });
  // Handled after the notification has returned, so that the owner closes
  // the port outside it and the close completes at once.
  port_.SetOnLineLost([this](TSerCustomComPort*) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (hooks_.lineLost) hooks_.lineLost();
        },
        Qt::QueuedConnection);
  });
}

// The port goes first: its threads may still deliver a reply to hooks that
// reach into an owner being destroyed.
DeviceLink::~DeviceLink() { ShutDown(); }

void DeviceLink::ShutDown() noexcept {
  reconnectTimer_.stop();
  // Detaching drops the replies still in flight.
  port_.SetOnTrigger({});
  port_.SetOnLineLost({});
  try {
    CloseAndRecord();
  } catch (...) {
    // Closing on the way out has no one left to tell.
  }
}

std::string DeviceLink::CloseAndRecord() {
  // The recorders are written before the close itself, one at a time, so that
  // a file that cannot be written is known by name and the port closes all the
  // same: a close that stopped at the trace would leave the window showing a
  // port that is gone.
  std::string failures;
  const auto dump = [&](bool trace) {
    try {
      if (trace) {
        port_.SetTracing(tlDump);
      } else {
        port_.SetLogging(tlDump);
      }
    } catch (const std::exception& e) {
      if (!failures.empty()) failures += "\n";
      failures += RecorderFailureText(trace ? port_.TraceName() : port_.LogName(), e);
    }
  };
  if (port_.Open()) {
    dump(true);
    dump(false);
  }
  port_.SetOpen(false);
  return failures;
}

void DeviceLink::SetUpDiagnostics() {
  // Switched in the settings file for a field diagnosis; the recorders write
  // their files into its folder when the port closes.
  const settings::Diagnostics diagnostics = hooks_.diagnostics ? hooks_.diagnostics() : settings::Diagnostics{};
  port_.SetTraceName((diagnostics.folder / kCardDevice.traceName).string());
  port_.SetLogName((diagnostics.folder / kCardDevice.logName).string());
  port_.SetTracing(diagnostics.trace ? tlOn : tlOff);
  port_.SetLogging(diagnostics.log ? tlOn : tlOff);
}

bool DeviceLink::Open(std::optional<std::uint16_t> number) {
  openFailure_.clear();
  try {
    if (port_.Open()) Close();
    // Lets the device and the line settle before the port is opened again.
    Pause(timings_.reopenSettle);
    if (!number) return false;
    port_.SetComNumber(*number);
    SetUpDiagnostics();
    port_.SetOpen(true);
    return true;
  } catch (const std::exception& e) {
    openFailure_ = OpenFailureText(OpenFailureOf(e));
    return false;
  } catch (...) {
    return false;
  }
}

bool DeviceLink::Reopen() {
  // Silent by design: the device is expected to be away for a while.
  try {
    if (!port_.Open()) port_.SetOpen(true);
    return port_.Open();
  } catch (...) {
    return false;
  }
}

void DeviceLink::TryOpen() {
  try {
    port_.SetOpen(true);
  } catch (const std::exception&) {
  }
}

void DeviceLink::Close() {
  const std::string failures = CloseAndRecord();
  if (failures.empty() || !hooks_.warning) return;
  // Told once the handler that closed the port has shown the closed state.
  QMetaObject::invokeMethod(
      this, [this, failures] { hooks_.warning(failures); }, Qt::QueuedConnection);
}

void DeviceLink::Send(std::string_view bytes) {
  if (!bytes.empty()) port_.PutBlock(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  // Blocking on purpose: no event runs until the device has had its pause.
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  while (port_.OutBuffUsed() != 0 && std::chrono::steady_clock::now() < deadline) {
    Pause(kDrainPoll);
  }
  // The device needs this pause after every command before it takes the next.
  Pause(timings_.afterCommand);
}

void DeviceLink::AwaitMoreReply() { Pause(timings_.incompleteReply); }

void DeviceLink::Trigger(std::uint16_t msg, std::uint16_t data) {
  if (msg != TriggerAvailMsg) return;
  // Nothing that happens while a reply is handled may reach the operator as an
  // error box: a reply handler that fails stops where it is.
  try {
    std::string bytes;
    bytes.reserve(data);
    for (std::uint16_t i = 0; i < data; ++i) bytes.push_back(port_.GetChar());
    if (hooks_.replyBytes) hooks_.replyBytes(bytes);
  } catch (...) {
  }
}

}  // namespace station
