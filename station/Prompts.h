#pragma once

#include <QString>

class QWidget;

// Every box and dialog that the card station puts in front of the operator goes
// through this seam, so that tests can record prompts instead of blocking on a
// modal box.
class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual void Message(const QString& text) = 0;  // modal message box, one OK button
  // The same box with the warning icon, for a fault the operator must mend.
  virtual void Warning(const QString& text) { Message(text); }
  virtual void Info(const QString& text) = 0;         // information box, one OK button
  virtual void Error(const QString& text) = 0;        // the application's general error box
  virtual QString OpenFileName(QWidget* parent) = 0;  // file-open dialog; empty when cancelled
  virtual void Beep() = 0;                            // default system beep
  virtual bool Question(const QString& text) = 0;     // 是 / 否 box; true for 是
};

// The real boxes: QMessageBox, QFileDialog and QApplication::beep. Boxes are
// modal to owner and carry its window title.
class DefaultPrompts : public Prompts {
 public:
  explicit DefaultPrompts(QWidget* owner);
  void Message(const QString& text) override;
  void Warning(const QString& text) override;
  void Info(const QString& text) override;
  void Error(const QString& text) override;
  QString OpenFileName(QWidget* parent) override;
  void Beep() override;
  bool Question(const QString& text) override;

 private:
  QWidget* owner_;
};
