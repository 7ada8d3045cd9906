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

  explicit TForm2(QWidget* parent = nullptr, std::filesystem::path settingsPath = settings::SettingsPath(),
                  DeviceLister lister = [] { return settings::ListSerialPorts(); });
  ~TForm2() override;

  // Where a failed save is reported; by default a critical message box.
  void SetErrorBox(ErrorBox errorBox);

  QLabel* Label1 = nullptr;
  QComboBox* cmb1 = nullptr;
  QLabel* Label2 = nullptr;             // "设备"
  QComboBox* cmb2 = nullptr;            // the device of the chosen port; a path may be typed
  QToolButton* SpeedButton3 = nullptr;  // "检测"
  QLabel* Label3 = nullptr;             // the answer of "检测"
  QToolButton* SpeedButton2 = nullptr;  // "保存"
  QToolButton* SpeedButton1 = nullptr;  // "关闭"

  void FormCreate();
  void SpeedButton2Click();
  void SpeedButton1Click();
  void SpeedButton3Click();
  void cmb1Change();

  // The device path that "保存" records and "检测" opens: the path of a listed
  // entry, or the typed text without surrounding blanks.
  std::string ChosenDevice() const;
  // Wait of "检测" (tests shorten it).
  void SetProbeWait(std::chrono::milliseconds wait) { probeWait_ = wait; }

 private:
  std::filesystem::path settingsPath_;
  std::optional<settings::SettingsFile> settingsFile_;
  ErrorBox errorBox_;
  settings::DeviceProbe* probe_ = nullptr;
  std::chrono::milliseconds probeWait_ = settings::DeviceProbe::kDefaultWait;
};
