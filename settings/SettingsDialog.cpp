#include "settings/SettingsDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QToolButton>

#include <exception>
#include <tuple>
#include <utility>
#include <vector>

#include "ui/UiFont.h"

namespace {

constexpr int kClientWidth = 360;
constexpr int kClientHeight = 220;
// Where a listed entry keeps the path that is recorded; the shown text may
// add the device a stable name points to.
constexpr int kPathRole = Qt::UserRole;

void Name(QWidget* w, const QString& name, const QString& caption) {
  w->setObjectName(name);
  w->setAccessibleDescription(name);
  w->setAccessibleName(caption);
}

QToolButton* FlatButton(QWidget* parent, const QString& caption, const QColor& colour) {
  auto* button = new QToolButton(parent);
  button->setText(caption);
  button->setAutoRaise(true);
  QPalette palette = button->palette();
  palette.setColor(QPalette::ButtonText, colour);
  button->setPalette(palette);
  return button;
}

// A caption and, beside it, the drop-down list it names: one row of the dialog.
std::pair<QLabel*, QComboBox*> LabelledComboBox(QWidget* parent, const QString& caption, const QString& labelName,
                                                const QString& boxName, int top, int boxWidth, bool editable) {
  auto* label = new QLabel(caption, parent);
  Name(label, labelName, caption);
  label->setGeometry(20, top + 2, 60, 22);
  auto* box = new QComboBox(parent);
  Name(box, boxName, caption);
  box->setEditable(editable);
  box->setGeometry(80, top, boxWidth, 24);
  label->setBuddy(box);
  return {label, box};
}

}  // namespace

TForm2::TForm2(QWidget* parent, std::filesystem::path settingsPath, DeviceLister lister)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("系统设置"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFont(settings::UiFont());
  setFixedSize(kClientWidth, kClientHeight);

  std::tie(portLabel_, portBox_) = LabelledComboBox(this, QStringLiteral("串口设定"), QStringLiteral("Label1"),
                                                    QStringLiteral("cmb1"), 22, 120, false);
  for (int port = 1; port <= 8; ++port) portBox_->addItem(QStringLiteral("COM%1").arg(port));
  std::tie(deviceLabel_, deviceBox_) =
      LabelledComboBox(this, QStringLiteral("设备"), QStringLiteral("Label2"), QStringLiteral("cmb2"), 58, 260, true);
  deviceBox_->setInsertPolicy(QComboBox::NoInsert);

  probeButton_ = FlatButton(this, QStringLiteral("检测"), Qt::blue);
  Name(probeButton_, QStringLiteral("SpeedButton3"), probeButton_->text());
  probeButton_->setGeometry(80, 92, 75, 28);

  probeAnswer_ = new QLabel(this);
  // No accessible name of its own: assistive tools read the answer it shows.
  Name(probeAnswer_, QStringLiteral("Label3"), QString());
  probeAnswer_->setWordWrap(true);
  probeAnswer_->setGeometry(20, 124, 320, 40);

  saveButton_ = FlatButton(this, QStringLiteral("保存"), Qt::red);
  Name(saveButton_, QStringLiteral("SpeedButton2"), saveButton_->text());
  saveButton_->setGeometry(80, 176, 75, 28);

  closeButton_ = FlatButton(this, QStringLiteral("关闭"), QColor(0, 128, 0));
  Name(closeButton_, QStringLiteral("SpeedButton1"), closeButton_->text());
  closeButton_->setGeometry(205, 176, 75, 28);

  for (const auto& device : lister()) {
    const QString path = QString::fromStdString(device.path);
    const QString shown = !device.label.empty() ? QString::fromStdString(device.label)
                          : device.target.empty()
                              ? path
                              : path + QStringLiteral(" → ") + QString::fromStdString(device.target);
    deviceBox_->addItem(shown, path);
  }

  probe_ = new settings::DeviceProbe(this);
  connect(probe_, &settings::DeviceProbe::Finished, this, [this](const QString& text) {
    probeAnswer_->setText(text);
    probeButton_->setEnabled(true);
  });
  // An answer belongs to the device it was asked of.
  connect(deviceBox_, &QComboBox::editTextChanged, probeAnswer_, &QLabel::clear);

  errorBox_ = [this](const QString& text) { QMessageBox::critical(this, QCoreApplication::applicationName(), text); };
  connect(saveButton_, &QToolButton::clicked, this, [this] { OnSavePressed(); });
  connect(closeButton_, &QToolButton::clicked, this, [this] { OnClosePressed(); });
  connect(probeButton_, &QToolButton::clicked, this, [this] { OnProbePressed(); });

  ShowStoredPort();
  // After the stored port is shown, so that only the operator's choices follow.
  connect(portBox_, &QComboBox::currentIndexChanged, this, [this] { OnPortChanged(); });
}

TForm2::~TForm2() = default;

void TForm2::SetErrorBox(ErrorBox errorBox) { errorBox_ = std::move(errorBox); }

void TForm2::ShowStoredPort() {
  settingsFile_.emplace(settingsPath_);
  const QString stored = QString::fromStdString(settingsFile_->ReadString("Settings", "comname", "com1"));
  const int index = portBox_->findText(stored, Qt::MatchFixedString);  // MatchFixedString compares without case
  portBox_->setCurrentIndex(index >= 0 ? index : 0);
  OnPortChanged();
}

void TForm2::OnPortChanged() {
  const int port = portBox_->currentIndex() + 1;
  const QString mapped =
      QString::fromStdString(settings::DevicePathForPort(port, settings::SettingsFile(settingsPath_)));
  const int listed = deviceBox_->findData(mapped);
  if (listed >= 0) {
    deviceBox_->setCurrentIndex(listed);
  } else {
    deviceBox_->setCurrentIndex(-1);
    deviceBox_->setEditText(mapped);
  }
  probeAnswer_->clear();
}

std::string TForm2::ChosenDevice() const {
  const QString text = deviceBox_->currentText();
  const int listed = deviceBox_->findText(text);
  if (listed >= 0) return deviceBox_->itemData(listed, kPathRole).toString().toStdString();
  return text.trimmed().toStdString();
}

void TForm2::OnProbePressed() {
  const std::string device = ChosenDevice();
  if (device.empty() || probe_->Running()) return;
  probeButton_->setEnabled(false);
  probeAnswer_->clear();
  probe_->Start(device, probeWait_);
}

void TForm2::OnSavePressed() {
  if (!settingsFile_) settingsFile_.emplace(settingsPath_);
  try {
    // One save for both keys: a failure leaves neither the port nor its device half-recorded.
    std::vector<settings::SettingsChange> changes{{"Settings", "comname", portBox_->currentText().toStdString()}};
    const std::string device = ChosenDevice();
    if (!device.empty()) changes.push_back({"Ports", settings::PortKey(portBox_->currentIndex() + 1), device});
    settingsFile_->Write(changes);
  } catch (const std::exception& e) {
    // The dialog stays open so that the operator can try again or close it.
    errorBox_(QString::fromStdString(e.what()));
    return;
  }
  settingsFile_.reset();
  accept();
}

void TForm2::OnClosePressed() { reject(); }
