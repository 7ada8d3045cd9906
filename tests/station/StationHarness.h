#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FindControl.h"
#include "PtyDevice.h"
#include "station/MainWindow.h"

using station::testing_support::Find;
using station::testing_support::Tick;

// Records every box instead of showing it.
class RecordingPrompts : public Prompts {
 public:
  void Message(const QString& text) override { messages.push_back(text); }
  void Info(const QString& text) override { infos.push_back(text); }
  void Error(const QString& text) override { errors.push_back(text); }
  QString OpenFileName(QWidget*) override { return nextFileName; }
  void Beep() override { ++beeps; }
  bool Question(const QString& text) override {
    questions.push_back(text);
    return answer;
  }

  std::vector<QString> messages;
  std::vector<QString> infos;
  std::vector<QString> errors;
  QString nextFileName;
  int beeps = 0;
  std::vector<QString> questions;
  bool answer = false;
};

// A fresh main window with recorded prompts, and a scripted device on a pty
// that the settings file names as COM3. The operation timer's own ticks are
// pushed far out so that tests drive its ticks themselves (Tick), and the
// device's pauses are cut short: a fixture that examines them overrides
// Timings().
class StationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual StationTimings Timings() const;

  // The configured port name ("com1" when comname is empty) and the device
  // that portNumber resolves to; other numbers resolve to no device.
  void WriteSettings(const std::string& comname, int portNumber, const std::string& portPath);
  // A window that takes its port from WriteSettings, as it stands at each use.
  StationConfig Config();

  // Writes the settings for COM3 and presses 端口打开; asserts the port opened.
  void OpenPort();
  // Ticks the track boxes (the port must be open for them to be enabled).
  void TickTracks(bool track2, bool track3);

  // Waits until the device has received exactly the given hex (blanks allowed).
  ::testing::AssertionResult Received(const std::string& hex);
  // Waits until pred holds, spinning the event loop.
  ::testing::AssertionResult Eventually(const std::function<bool()>& pred, const char* what);
  // Sends the reply and waits until the station has taken all of it (the
  // reply accumulator or the handler's effects are up to the caller).
  void Reply(const std::string& hex);

  QString Panel(int index) const;
  std::string Track2() const;
  std::string Track3() const;
  QStringList LogLines() const;

  QTemporaryDir journalDir_;  // each test starts with an empty journal
  std::string comname_;
  int mappedPort_ = 0;
  std::string mappedPath_;
  settings::Diagnostics diagnostics_;  // as read before each open
  PtyDevice device;
  std::unique_ptr<TForm1> form;
  RecordingPrompts* prompts = nullptr;
};

// The station with the device's and the operator's real waits.
class RealTimingsTest : public StationTest {
 protected:
  StationTimings Timings() const override { return {}; }
};
