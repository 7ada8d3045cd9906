#include "portselect/PortSelectDialog.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

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

TComSelectForm::TComSelectForm(const std::function<bool(uint16_t)>& isPresent, const QString& configured,
                               QWidget* parent)
    : QDialog(parent) {
  const QString title = QStringLiteral("选择端口");
  setObjectName(QStringLiteral("ComSelectForm"));
  setAccessibleDescription(QStringLiteral("ComSelectForm"));
  setAccessibleName(title);
  setWindowTitle(title);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(220, 131);

  Bevel1 = new QFrame(this);
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 201, 42);
  // A frame without a caption of its own.
  Name(Bevel1, "Bevel1", QString());
  const QString port = configured.trimmed();
  Label1 = new QLabel(
      port.isEmpty() ? QStringLiteral("设置的端口无效。") : QStringLiteral("设置的端口 %1 无效。").arg(port.left(12)),
      this);
  Label1->move(18, 14);
  Name(Label1, "Label1", Label1->text());
  Label2 = new QLabel(QStringLiteral("请选择读写器所在的端口："), this);
  Label2->move(18, 30);
  Name(Label2, "Label2", Label2->text());

  PortsComboBox = new QComboBox(this);
  PortsComboBox->setEditable(false);
  PortsComboBox->setGeometry(8, 64, 201, PortsComboBox->sizeHint().height());
  // A drop-down without a caption of its own takes the caption of its labels.
  Name(PortsComboBox, "PortsComboBox", Label2->text());

  OkBtn = new QPushButton(QStringLiteral("确定"), this);
  OkBtn->setGeometry(8, 95, 85, 27);
  OkBtn->setDefault(true);
  Name(OkBtn, "OkBtn", OkBtn->text());
  AbortBtn = new QPushButton(QStringLiteral("取消"), this);
  AbortBtn->setGeometry(124, 95, 85, 27);
  Name(AbortBtn, "AbortBtn", AbortBtn->text());
  setTabOrder(OkBtn, AbortBtn);
  setTabOrder(AbortBtn, PortsComboBox);

  connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(AbortBtn, &QPushButton::clicked, this, &QDialog::reject);

  for (uint16_t n : PresentPorts(isPresent)) PortsComboBox->addItem(QStringLiteral("COM%1").arg(n));
  if (PortsComboBox->count() > 0) PortsComboBox->setCurrentIndex(0);

  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
}

uint16_t TComSelectForm::SelectedPort() const {
  if (PortsComboBox->currentIndex() < 0) return 0;
  return PortNumberOfItem(PortsComboBox->currentText());
}

uint16_t ShowPortSelectDialog(const std::function<bool(uint16_t)>& isPresent, const QString& configured) {
  TComSelectForm form(isPresent, configured);
  if (form.exec() != QDialog::Accepted) return 0;
  // OK with nothing listed chooses nothing: the same as Cancel.
  return form.SelectedPort();
}
