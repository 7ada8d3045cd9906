#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace station {

// The position an up-down control moves to when stepped by delta: it starts
// from the number in its associated field when that is a valid number within
// [min, max], otherwise from its last position, and stops at the ends instead
// of wrapping.
int SteppedPosition(const QString& associateText, int lastPosition, int delta, int min, int max);

}  // namespace station

// Up and down arrows attached to a one-line field: each click steps the number
// in the field by one within [min, max] and writes it back as plain digits.
class TUpDown : public QWidget {
  Q_OBJECT

 public:
  TUpDown(QLineEdit* associate, int min, int max, QWidget* parent);

  int Position() const { return position_; }
  void SetPosition(int position);
  void StepBy(int delta);

  QToolButton* UpButton = nullptr;
  QToolButton* DownButton = nullptr;

 private:
  QLineEdit* associate_;
  int min_;
  int max_;
  int position_;
};
