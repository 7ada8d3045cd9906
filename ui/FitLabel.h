#pragma once

#include <QLabel>
#include <QString>

namespace ui {

// A one-line label whose text always fits its width: a text too long for it
// is elided at the end (never inside a character), with the whole text as
// tooltip and as accessible name, so that nothing is lost to the operator or
// to an assistive tool. Set the text through SetFullText; the elision follows
// the label's width whenever it changes.
class FitLabel : public QLabel {
  Q_OBJECT

 public:
  explicit FitLabel(QWidget* parent = nullptr);
  FitLabel(const QString& text, QWidget* parent);

  void SetFullText(const QString& text);
  const QString& FullText() const { return fullText_; }

  // Whatever the text, the label asks for no more width than its layout
  // gives it: a long message must not push the window's other parts aside.
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Refit();
  int AvailableWidth() const;

  QString fullText_;
};

}  // namespace ui
