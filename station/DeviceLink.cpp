#include <QThread>

#include <chrono>

#include "serial/ComPort.h"
#include "serial/SerialCommon.h"
#include "settings/SettingsFile.h"
#include "station/HexText.h"
#include "station/MainWindow.h"

namespace {

// The drain wait gives up after about 20 s, as 100 polls of 200 ms would.
constexpr auto kDrainLimit = std::chrono::milliseconds(100 * 200);
// Polled finely so that a command that leaves at once costs only the pause
// below, not a further poll interval.
constexpr auto kDrainPoll = std::chrono::milliseconds(1);
// The device needs this pause after every command before it takes the next.
constexpr unsigned long kAfterCommandMs = 200;

const QString kPortNotOpen = QStringLiteral("串口未打开。");
const QString kCommandTooLong = QStringLiteral("数据超长，未发送。");

}  // namespace

void TForm1::SetUpComPort1() {
  ComPort1.BeginLoading();
  ComPort1.SetComNumber(1);
  ComPort1.SetBaud(9600);
  ComPort1.SetOutSize(8192);
  ComPort1.SetAutoOpen(false);
  ComPort1.SetDTR(false);
  ComPort1.SetRTS(false);
  ComPort1.SetXOnChar(0xFF);
  ComPort1.SetXOffChar(0xFF);
  ComPort1.SetTraceName("SERIAL.TRC");
  ComPort1.SetTraceHex(false);
  ComPort1.SetLogName("SERIAL.LOG");
  ComPort1.SetLogHex(false);
  ComPort1.SetOnTrigger([this](TSerCustomComPort* CP, std::uint16_t Msg, std::uint16_t TriggerHandle,
                               std::uint16_t Data) { ComPort1Trigger(CP, Msg, TriggerHandle, Data); });
  // Read at every open, so a [Ports] entry written meanwhile takes effect.
  ComPort1.SetPortResolver([](std::uint16_t portNumber) { return settings::DevicePathForPort(portNumber); });
  ComPort1.Loaded();
}

bool TForm1::SendHex(const std::string& command) {
  station::SendBuffer buffer;
  if (!station::FillSendBuffer(command, buffer)) return false;
  if (buffer.length > 0) ComPort1.PutBlock(buffer.bytes.data(), static_cast<std::uint16_t>(buffer.length));
  return true;
}

void TForm1::WaitOutputDrained() {
  // Blocking on purpose: no event runs until the device has had its pause.
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  while (ComPort1.OutBuffUsed() != 0 && std::chrono::steady_clock::now() < deadline) {
    QThread::msleep(static_cast<unsigned long>(kDrainPoll.count()));
  }
  QThread::msleep(kAfterCommandMs);
}

bool TForm1::SendCommand(const std::string& command) {
  if (!ComPort1.Open()) {
    // An attempt to open the port, as a safeguard; the command is not sent
    // even when it succeeds, and its failure is the same message.
    try {
      ComPort1.SetOpen(true);
    } catch (const std::exception&) {
    }
    prompts().Message(kPortNotOpen);
    return false;
  }
  if (!SendHex(command)) {
    prompts().Message(kCommandTooLong);
    return false;
  }
  WaitOutputDrained();
  return true;
}

void TForm1::ComPort1Trigger(TSerCustomComPort* /*CP*/, std::uint16_t Msg, std::uint16_t /*TriggerHandle*/,
                             std::uint16_t Data) {
  if (Msg != TriggerAvailMsg) return;
  // Nothing that happens while a reply is handled may reach the operator as an
  // error box: a reply handler that fails stops where it is.
  try {
    std::string bytes;
    bytes.reserve(Data);
    for (std::uint16_t i = 0; i < Data; ++i) bytes.push_back(ComPort1.GetChar());
    DispatchReply(station::TextToHex(bytes));
  } catch (...) {
  }
}

void TForm1::DispatchReply(const std::string& chunk) {
  if (ReadTracks > 0) HandleReadReply(chunk, ReadTracks);
  // A write run goes to one judge only: a reply judged twice would log, count
  // and re-arm every card twice.
  if (WriteTracks > 0) {
    if (FileRun) {
      HandleFileWriteReply(chunk);
    } else {
      HandleWriteReply(chunk);
    }
  }
}
