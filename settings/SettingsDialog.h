#pragma once

#include <QDialog>

#include <filesystem>
#include <functional>
#include <optional>

#include "settings/SettingsFile.h"

class QComboBox;
class QLabel;
class QToolButton;

// The port settings dialog: picks one of COM1..COM8 and records it as key
// "comname" of section "Settings" in the settings file. Creating it reads the
// stored port; only "保存" writes. The creator owns and destroys it.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  using ErrorBox = std::function<void(const QString& text)>;

  explicit TForm2(QWidget* parent = nullptr, std::filesystem::path settingsPath = settings::SettingsPath());
  ~TForm2() override;

  // Where a failed save is reported; by default a critical message box.
  void SetErrorBox(ErrorBox errorBox);

  QLabel* Label1 = nullptr;
  QComboBox* cmb1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;  // "保存"
  QToolButton* SpeedButton1 = nullptr;  // "关闭"

  void FormCreate();
  void SpeedButton2Click();
  void SpeedButton1Click();

 private:
  std::filesystem::path settingsPath_;
  std::optional<settings::SettingsFile> settingsFile_;
  ErrorBox errorBox_;
};
