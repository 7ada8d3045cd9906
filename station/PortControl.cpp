#include <QCheckBox>
#include <QLabel>
#include <QThread>

#include <cctype>
#include <stdexcept>
#include <string>

#include "serial/ComPort.h"
#include "settings/SettingsFile.h"
#include "station/MainWindow.h"

namespace {

constexpr int kWaitLimitTicks = 20;
const QString kPortUnavailable = QStringLiteral("串口不存在或被占用。");

std::string ReadPortName() {
  return settings::SettingsFile(settings::SettingsPath()).ReadString("Settings", "comname", "com1");
}

// The port number is the fourth character of the name alone: "COM3" is 3,
// "COM10" is 1.
std::uint16_t PortNumberOf(const std::string& name) {
  if (name.size() < 4 || std::isdigit(static_cast<unsigned char>(name[3])) == 0) {
    throw std::invalid_argument("'" + name + "' has no port digit in fourth place");
  }
  return static_cast<std::uint16_t>(name[3] - '0');
}

}  // namespace

void TForm1::SetUpDiagnostics() {
  // Switched in the settings file for a field diagnosis; the recorders write
  // their files beside it when the port closes.
  const settings::Diagnostics diagnostics = settings::ReadDiagnostics(settings::SettingsPath());
  ComPort1.SetTraceName((diagnostics.folder / "SERIAL.TRC").string());
  ComPort1.SetLogName((diagnostics.folder / "SERIAL.LOG").string());
  ComPort1.SetTracing(diagnostics.trace ? tlOn : tlOff);
  ComPort1.SetLogging(diagnostics.log ? tlOn : tlOff);
}

void TForm1::OpenPort() {
  try {
    const std::string name = ReadPortName();
    if (ComPort1.Open()) ComPort1.SetOpen(false);
    // Lets the device and the line settle before the port is opened again.
    QThread::msleep(50);
    ComPort1.SetComNumber(PortNumberOf(name));
    SetUpDiagnostics();
    ComPort1.SetOpen(true);
    TK2CheckBox->setEnabled(true);
    TK3CheckBox->setEnabled(true);
  } catch (...) {
    prompts().Warning(kPortUnavailable);
  }
}

void TForm1::ToolButton5Click() {
  const QString name = QString::fromStdString(ReadPortName());
  OpenPort();
  // A failed open must not read as success: the panel shows the closed form.
  MainStatusBarPanels[0]->setText(ComPort1.Open() ? name + QStringLiteral("－－－OK") : name + QStringLiteral(":Close"));
}

void TForm1::ToolButton6Click() {
  if (ComPort1.Open()) ComPort1.SetOpen(false);
  TK1CheckBox->setEnabled(false);
  TK2CheckBox->setEnabled(false);
  TK3CheckBox->setEnabled(false);
  MainStatusBarPanels[0]->setText(QStringLiteral("COM%1:Close").arg(ComPort1.ComNumber()));
}

void TForm1::ToolButton3Click() {
  if (ComPort1.Open()) SendCommand("1B30");
  if (OpenTimer.isActive()) {
    ElapsedSeconds = 0;
    OpenTimer.stop();
    l_timer->setText(QStringLiteral("00"));
  }
}

void TForm1::ToolButton4Click() {
  if (ComPort1.Open()) SendCommand("1B6A");
}

void TForm1::OpenTimerTimer() {
  if (!ComPort1.Open()) return;
  if (ElapsedSeconds >= kWaitLimitTicks) {
    ElapsedSeconds = 0;
    OpenTimer.stop();
    l_timer->setText(QStringLiteral("00"));
    SendCommand("1B30");
    return;
  }
  if (WriteTracks > 0) SendCommand("1B6A");
  ++ElapsedSeconds;
  l_timer->setText(QString::number(ElapsedSeconds));
}
