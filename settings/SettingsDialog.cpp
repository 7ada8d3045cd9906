#include "settings/SettingsDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QToolButton>

#include <exception>

#include "ui/UiFont.h"

namespace {

constexpr int kClientWidth = 278;
constexpr int kClientHeight = 173;

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

TForm2::TForm2(QWidget* parent, std::filesystem::path settingsPath)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("系统设置"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFont(settings::UiFont());
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = new QLabel(QStringLiteral("串口设定"), this);
  Name(Label1, QStringLiteral("Label1"), Label1->text());
  Label1->setGeometry(40, 48, 60, 22);

  cmb1 = new QComboBox(this);
  Name(cmb1, QStringLiteral("cmb1"), Label1->text());
  cmb1->setEditable(false);
  for (int port = 1; port <= 8; ++port) cmb1->addItem(QStringLiteral("COM%1").arg(port));
  cmb1->setGeometry(110, 46, 120, 24);
  Label1->setBuddy(cmb1);

  SpeedButton2 = FlatButton(this, QStringLiteral("保存"), Qt::red);
  Name(SpeedButton2, QStringLiteral("SpeedButton2"), SpeedButton2->text());
  SpeedButton2->setGeometry(50, 112, 75, 28);

  SpeedButton1 = FlatButton(this, QStringLiteral("关闭"), QColor(0, 128, 0));
  Name(SpeedButton1, QStringLiteral("SpeedButton1"), SpeedButton1->text());
  SpeedButton1->setGeometry(153, 112, 75, 28);

  errorBox_ = [this](const QString& text) {
    QMessageBox::critical(this, QCoreApplication::applicationName(), text);
  };
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

  FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::SetErrorBox(ErrorBox errorBox) { errorBox_ = std::move(errorBox); }

void TForm2::FormCreate() {
  settingsFile_.emplace(settingsPath_);
  const QString stored = QString::fromStdString(settingsFile_->ReadString("Settings", "comname", "com1"));
  const int index = cmb1->findText(stored, Qt::MatchFixedString);  // MatchFixedString compares without case
  cmb1->setCurrentIndex(index >= 0 ? index : 0);
}

void TForm2::SpeedButton2Click() {
  if (!settingsFile_) settingsFile_.emplace(settingsPath_);
  try {
    settingsFile_->WriteString("Settings", "comname", cmb1->currentText().toStdString());
  } catch (const std::exception& e) {
    // The dialog stays open so that the operator can try again or close it.
    errorBox_(QString::fromStdString(e.what()));
    return;
  }
  settingsFile_.reset();
  accept();
}

void TForm2::SpeedButton1Click() { reject(); }
