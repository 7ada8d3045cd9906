#pragma once

#include <QDialog>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/DeviceList.h"
#include "settings/DeviceProbe.h"
#include "settings/SettingsFile.h"

class QComboBox;
class QLabel;
class QToolButton;

// The port settings dialog: picks one of COM1..COM8 and the device that port
// stands for, and records them as key "comname" of section "Settings" and key
// "COMn" of section "Ports" in the settings file. Creating it reads the stored
// port; only "保存" writes. "检测" asks the chosen device whether a card
// reader/writer answers. The creator owns and destroys it.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  using ErrorBox = std::function<void(const QString& text)>;
  using DeviceLister = std::function<std::vector<settings::SerialDevice>()>;

  explicit TForm2(
      QWidget* parent = nullptr, std::filesystem::path settingsPath = settings::SettingsPath(),
      DeviceLister lister = [] { return settings::ListSerialPorts(); });
  ~TForm2() override;

  // Where a failed save is reported; by default a critical message box.
  void SetErrorBox(ErrorBox errorBox);

  // The device path that "保存" records and "检测" opens: the path of a listed
  // entry, or the typed text without surrounding blanks.
  std::string ChosenDevice() const;
  // Wait of "检测" (tests shorten it).
  void SetProbeWait(std::chrono::milliseconds wait) { probeWait_ = wait; }

 private:
  // Shows the stored port and its device.
  void ShowStoredPort();
  void OnPortChanged();
  void OnProbePressed();
  void OnSavePressed();
  void OnClosePressed();

  // Each control carries its design name (in brackets) as objectName.
  QLabel* portLabel_ = nullptr;         // [Label1] "串口设定"
  QComboBox* portBox_ = nullptr;        // [cmb1] COM1..COM8
  QLabel* deviceLabel_ = nullptr;       // [Label2] "设备"
  QComboBox* deviceBox_ = nullptr;      // [cmb2] the device of the chosen port; a path may be typed
  QToolButton* probeButton_ = nullptr;  // [SpeedButton3] "检测"
  QLabel* probeAnswer_ = nullptr;       // [Label3] the answer of "检测"
  QToolButton* saveButton_ = nullptr;   // [SpeedButton2] "保存"
  QToolButton* closeButton_ = nullptr;  // [SpeedButton1] "关闭"

  std::filesystem::path settingsPath_;
  std::optional<settings::SettingsFile> settingsFile_;
  ErrorBox errorBox_;
  settings::DeviceProbe* probe_ = nullptr;
  std::chrono::milliseconds probeWait_ = settings::DeviceProbe::kDefaultWait;
};
