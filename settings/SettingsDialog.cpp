#include "settings/SettingsDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QToolButton>

#include <exception>
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

}  // namespace

TForm2::TForm2(QWidget* parent, std::filesystem::path settingsPath, DeviceLister lister)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("系统设置"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFont(settings::UiFont());
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = new QLabel(QStringLiteral("串口设定"), this);
  Name(Label1, QStringLiteral("Label1"), Label1->text());
  Label1->setGeometry(20, 24, 60, 22);

  cmb1 = new QComboBox(this);
  Name(cmb1, QStringLiteral("cmb1"), Label1->text());
  cmb1->setEditable(false);
  for (int port = 1; port <= 8; ++port) cmb1->addItem(QStringLiteral("COM%1").arg(port));
  cmb1->setGeometry(80, 22, 120, 24);
  Label1->setBuddy(cmb1);

  Label2 = new QLabel(QStringLiteral("设备"), this);
  Name(Label2, QStringLiteral("Label2"), Label2->text());
  Label2->setGeometry(20, 60, 60, 22);

  cmb2 = new QComboBox(this);
  Name(cmb2, QStringLiteral("cmb2"), Label2->text());
  cmb2->setEditable(true);
  cmb2->setInsertPolicy(QComboBox::NoInsert);
  cmb2->setGeometry(80, 58, 260, 24);
  Label2->setBuddy(cmb2);

  SpeedButton3 = FlatButton(this, QStringLiteral("检测"), Qt::blue);
  Name(SpeedButton3, QStringLiteral("SpeedButton3"), SpeedButton3->text());
  SpeedButton3->setGeometry(80, 92, 75, 28);

  Label3 = new QLabel(this);
  // No accessible name of its own: assistive tools read the answer it shows.
  Name(Label3, QStringLiteral("Label3"), QString());
  Label3->setWordWrap(true);
  Label3->setGeometry(20, 124, 320, 40);

  SpeedButton2 = FlatButton(this, QStringLiteral("保存"), Qt::red);
  Name(SpeedButton2, QStringLiteral("SpeedButton2"), SpeedButton2->text());
  SpeedButton2->setGeometry(80, 176, 75, 28);

  SpeedButton1 = FlatButton(this, QStringLiteral("关闭"), QColor(0, 128, 0));
  Name(SpeedButton1, QStringLiteral("SpeedButton1"), SpeedButton1->text());
  SpeedButton1->setGeometry(205, 176, 75, 28);

  for (const auto& device : lister()) {
    const QString path = QString::fromStdString(device.path);
    const QString shown = !device.label.empty() ? QString::fromStdString(device.label)
                          : device.target.empty() ? path
                                                  : path + QStringLiteral(" → ") + QString::fromStdString(device.target);
    cmb2->addItem(shown, path);
  }

  probe_ = new settings::DeviceProbe(this);
  connect(probe_, &settings::DeviceProbe::Finished, this, [this](const QString& text) {
    Label3->setText(text);
    SpeedButton3->setEnabled(true);
  });
  // An answer belongs to the device it was asked of.
  connect(cmb2, &QComboBox::editTextChanged, Label3, &QLabel::clear);

  errorBox_ = [this](const QString& text) {
    QMessageBox::critical(this, QCoreApplication::applicationName(), text);
  };
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });

  FormCreate();
  // After the stored port is shown, so that only the operator's choices follow.
  connect(cmb1, &QComboBox::currentIndexChanged, this, [this] { cmb1Change(); });
}

TForm2::~TForm2() = default;

void TForm2::SetErrorBox(ErrorBox errorBox) { errorBox_ = std::move(errorBox); }

void TForm2::FormCreate() {
  settingsFile_.emplace(settingsPath_);
  const QString stored = QString::fromStdString(settingsFile_->ReadString("Settings", "comname", "com1"));
  const int index = cmb1->findText(stored, Qt::MatchFixedString);  // MatchFixedString compares without case
  cmb1->setCurrentIndex(index >= 0 ? index : 0);
  cmb1Change();
}

void TForm2::cmb1Change() {
  const int port = cmb1->currentIndex() + 1;
  const QString mapped = QString::fromStdString(settings::DevicePathForPort(port, settings::SettingsFile(settingsPath_)));
  const int listed = cmb2->findData(mapped);
  if (listed >= 0) {
    cmb2->setCurrentIndex(listed);
  } else {
    cmb2->setCurrentIndex(-1);
    cmb2->setEditText(mapped);
  }
  Label3->clear();
}

std::string TForm2::ChosenDevice() const {
  const QString text = cmb2->currentText();
  const int listed = cmb2->findText(text);
  if (listed >= 0) return cmb2->itemData(listed, kPathRole).toString().toStdString();
  return text.trimmed().toStdString();
}

void TForm2::SpeedButton3Click() {
  const std::string device = ChosenDevice();
  if (device.empty() || probe_->Running()) return;
  SpeedButton3->setEnabled(false);
  Label3->clear();
  probe_->Start(device, probeWait_);
}

void TForm2::SpeedButton2Click() {
  if (!settingsFile_) settingsFile_.emplace(settingsPath_);
  try {
    // One save for both keys: a failure leaves neither the port nor its device half-recorded.
    std::vector<settings::SettingsChange> changes{{"Settings", "comname", cmb1->currentText().toStdString()}};
    const std::string device = ChosenDevice();
    if (!device.empty()) changes.push_back({"Ports", settings::PortKey(cmb1->currentIndex() + 1), device});
    settingsFile_->Write(changes);
  } catch (const std::exception& e) {
    // The dialog stays open so that the operator can try again or close it.
    errorBox_(QString::fromStdString(e.what()));
    return;
  }
  settingsFile_.reset();
  accept();
}

void TForm2::SpeedButton1Click() { reject(); }
