#pragma once

// What the tests that drive a whole station window on a real port share: a
// prompt recorder that never blocks, and a bounded wait that keeps the event
// loop turning.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWidget>

#include <functional>

#include <gtest/gtest.h>

#include "station/Prompts.h"

// Records every box instead of showing it; a question is answered 否 and is
// also kept in questions, when given.
class QuietPrompts : public Prompts {
 public:
  explicit QuietPrompts(QStringList* shown, QStringList* questions = nullptr) : shown_(shown), questions_(questions) {}
  void Message(const QString& text) override { *shown_ << text; }
  void Info(const QString& text) override { *shown_ << text; }
  void Error(const QString& text) override { *shown_ << text; }
  QString OpenFileName(QWidget*) override { return {}; }
  void Beep() override {}
  bool Question(const QString& text) override {
    *shown_ << text;
    if (questions_ != nullptr) *questions_ << text;
    return false;
  }

 private:
  QStringList* shown_;
  QStringList* questions_;
};

// The control of the window by its design name; a test fails without it.
template <typename T>
T* FindControl(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return true;
}
