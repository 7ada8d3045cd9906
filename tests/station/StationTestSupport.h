#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

#include "FindControl.h"
#include "TempDir.h"
#include "TestConfig.h"
#include "station/MainWindow.h"
#include "station/Prompts.h"

class QWidget;

using station::testing_support::Find;

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

// Records every prompt instead of showing a box.
class RecordingPrompts : public Prompts {
 public:
  struct Log {
    QStringList messages, infos, errors, questions;
    int openDialogs = 0;
    QString nextFileName;  // what the next open-file box returns; empty: cancelled
    int beeps = 0;
  };
  explicit RecordingPrompts(std::shared_ptr<Log> log) : log_(std::move(log)) {}
  void Message(const QString& text) override { log_->messages << text; }
  void Info(const QString& text) override { log_->infos << text; }
  void Error(const QString& text) override { log_->errors << text; }
  bool Question(const QString& text) override {
    log_->questions << text;
    return false;
  }
  QString OpenFileName(QWidget*) override {
    ++log_->openDialogs;
    return log_->nextFileName;
  }
  void Beep() override { ++log_->beeps; }

 private:
  std::shared_ptr<Log> log_;
};

// A fresh main window with recorded prompts.
struct Station {
  Station();
  station::testing_support::TempDir folder;
  // No journal and no settings file: these tests look at the window alone.
  TForm1 form{station::testing_support::OfflineConfig(folder.Path())};
  std::shared_ptr<RecordingPrompts::Log> log = std::make_shared<RecordingPrompts::Log>();
};

// Sends key presses as typing would: one event per character, carrying the
// character as its text (Enter is "\r", Backspace "\b").
void Type(QWidget* widget, const QString& text);
void PressKey(QWidget* widget, Qt::Key key);
