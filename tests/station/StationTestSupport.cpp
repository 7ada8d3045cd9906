#include "StationTestSupport.h"

#include <QApplication>
#include <QKeyEvent>

Station::Station() { form.SetPrompts(std::make_unique<RecordingPrompts>(log)); }

namespace {

void Send(QWidget* widget, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &release);
}

}  // namespace

void Type(QWidget* widget, const QString& text) {
  for (const QChar ch : text) {
    int key = 0;
    if (ch == QLatin1Char('\r')) {
      key = Qt::Key_Return;
    } else if (ch == QLatin1Char('\b')) {
      key = Qt::Key_Backspace;
    } else if (ch == QLatin1Char('\t')) {
      key = Qt::Key_Tab;
    } else if (ch.unicode() < 0x80) {
      key = ch.toUpper().unicode();
    }
    Send(widget, key, QString(ch));
  }
}

void PressKey(QWidget* widget, Qt::Key key) { Send(widget, key, QString()); }
