#include "ui/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace station {

int SteppedPosition(const QString& associateText, int lastPosition, int delta, int min, int max) {
  bool ok = false;
  const int typed = associateText.trimmed().toInt(&ok);
  const int from = (ok && typed >= min && typed <= max) ? typed : lastPosition;
  const long long next = static_cast<long long>(from) + delta;
  return static_cast<int>(std::clamp<long long>(next, min, max));
}

}  // namespace station

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max), position_(min) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  UpButton = new QToolButton(this);
  UpButton->setArrowType(Qt::UpArrow);
  DownButton = new QToolButton(this);
  DownButton->setArrowType(Qt::DownArrow);
  for (QToolButton* button : {UpButton, DownButton}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button);
  }
  connect(UpButton, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(DownButton, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void TUpDown::SetPosition(int position) {
  position_ = std::clamp(position, min_, max_);
  associate_->setText(QString::number(position_));
}

void TUpDown::StepBy(int delta) {
  const int next = station::SteppedPosition(associate_->text(), position_, delta, min_, max_);
  if (next == position_ && associate_->text() == QString::number(next)) return;
  SetPosition(next);
}
