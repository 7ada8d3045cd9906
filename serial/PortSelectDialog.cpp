#include "serial/PortSelectDialog.h"

#include "serial/NativeDispatcher.h"
#include "serial/SerialErrors.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

bool IsPortPresent(uint16_t portNumber, const std::function<std::string(uint16_t)>& resolver) {
  if (portNumber == 0) return false;
  TSerNativeDispatcher probe(nullptr);
  const int code = probe.OpenComDevice(resolver(portNumber), 64, 64);
  if (code >= 0) {
    probe.CloseComDevice();
    return true;
  }
  // A port that another program holds exists all the same.
  return code == serial_codes::ecAccessDenied;
}

std::vector<uint16_t> PresentPorts(const std::function<bool(uint16_t)>& isPresent) {
  std::vector<uint16_t> ports;
  for (uint16_t n = 1; n <= 50; ++n)
    if (isPresent(n)) ports.push_back(n);
  return ports;
}

uint16_t PortNumberOfItem(const QString& item) {
  bool ok = false;
  const int n = item.mid(3, 255).toInt(&ok);
  return ok && n > 0 && n <= 0xFFFF ? static_cast<uint16_t>(n) : 0;
}

namespace {
void Name(QWidget* w, const char* name, const QString& caption) {
  w->setObjectName(QString::fromLatin1(name));
  w->setAccessibleDescription(QString::fromLatin1(name));
  w->setAccessibleName(caption);
}
}  // namespace

TComSelectForm::TComSelectForm(const std::function<bool(uint16_t)>& isPresent, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ComSelectForm"));
  setAccessibleDescription(QStringLiteral("ComSelectForm"));
  setAccessibleName(QStringLiteral("Select Port"));
  setWindowTitle(QStringLiteral("Select Port"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(220, 131);

  Bevel1 = new QFrame(this);
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 201, 42);
  // A frame without a caption of its own.
  Name(Bevel1, "Bevel1", QString());
  Label1 = new QLabel(QStringLiteral("The configured serial port is not valid."), this);
  Label1->move(18, 14);
  Name(Label1, "Label1", Label1->text());
  Label2 = new QLabel(QStringLiteral("Please choose another port."), this);
  Label2->move(18, 30);
  Name(Label2, "Label2", Label2->text());

  PortsComboBox = new QComboBox(this);
  PortsComboBox->setEditable(false);
  PortsComboBox->setGeometry(8, 64, 201, PortsComboBox->sizeHint().height());
  // A drop-down without a caption of its own takes the caption of its labels.
  Name(PortsComboBox, "PortsComboBox", Label2->text());

  OkBtn = new QPushButton(QStringLiteral("OK"), this);
  OkBtn->setGeometry(8, 95, 85, 27);
  OkBtn->setDefault(true);
  Name(OkBtn, "OkBtn", QStringLiteral("OK"));
  AbortBtn = new QPushButton(QStringLiteral("Cancel"), this);
  AbortBtn->setGeometry(124, 95, 85, 27);
  Name(AbortBtn, "AbortBtn", QStringLiteral("Cancel"));
  setTabOrder(OkBtn, AbortBtn);
  setTabOrder(AbortBtn, PortsComboBox);

  connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(AbortBtn, &QPushButton::clicked, this, &QDialog::reject);

  for (uint16_t n : PresentPorts(isPresent)) PortsComboBox->addItem(QStringLiteral("COM%1").arg(n));
  if (PortsComboBox->count() > 0) PortsComboBox->setCurrentIndex(0);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

uint16_t TComSelectForm::SelectedPort() const {
  if (PortsComboBox->currentIndex() < 0) return 0;
  return PortNumberOfItem(PortsComboBox->currentText());
}

uint16_t ShowPortSelectDialog(const std::function<bool(uint16_t)>& isPresent) {
  TComSelectForm form(isPresent);
  if (form.exec() != QDialog::Accepted) return 0;
  // OK with nothing listed chooses nothing: the same as Cancel.
  return form.SelectedPort();
}
