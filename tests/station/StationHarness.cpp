#include "StationHarness.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <filesystem>

#include "station/TrackText.h"

void StationTest::WriteSettings(const std::string& comname, int portNumber, const std::string& portPath) {
  comname_ = comname;
  mappedPort_ = portNumber;
  mappedPath_ = portPath;
}

StationConfig StationTest::Config() {
  StationConfig config;
  config.portName = [this] { return comname_.empty() ? std::string("com1") : comname_; };
  config.devicePath = [this](std::uint16_t n) {
    return n == mappedPort_ ? mappedPath_ : "/nonexistent/ttyS" + std::to_string(n);
  };
  const std::filesystem::path folder = journalDir_.path().toStdString();
  config.listFolder = [folder] { return folder; };
  config.settingsPath = folder / "VavizEvu.ini";
  config.journalFolder = folder;
  config.stationName = "test";
  config.diagnostics = [this] { return diagnostics_; };
  config.timings = Timings();
  return config;
}

StationTimings StationTest::Timings() const {
  StationTimings timings;
  timings.afterCommand = std::chrono::milliseconds(10);
  timings.incompleteReply = std::chrono::milliseconds(2);
  timings.reopenSettle = std::chrono::milliseconds(2);
  timings.tick = std::chrono::hours(24);
  timings.reconnect = std::chrono::milliseconds(100);
  return timings;
}

void StationTest::SetUp() {
  form = std::make_unique<TForm1>(Config());
  auto recorder = std::make_unique<RecordingPrompts>();
  prompts = recorder.get();
  form->SetPrompts(std::move(recorder));
  WriteSettings("COM3", 3, device.SlavePath());
}

void StationTest::TearDown() { form.reset(); }

void StationTest::OpenPort() {
  Find<QToolButton>(*form, "ToolButton5")->click();
  ASSERT_TRUE(form->port().Open());
  ASSERT_EQ(Panel(0), QStringLiteral("COM3－－－OK"));
}

void StationTest::TickTracks(bool track2, bool track3) {
  Find<QCheckBox>(*form, "TK2CheckBox")->setChecked(track2);
  Find<QCheckBox>(*form, "TK3CheckBox")->setChecked(track3);
}

::testing::AssertionResult StationTest::Received(const std::string& hex) {
  const std::string expected = Hex(hex);
  if (WaitUntil([&] { return device.ReceivedHex().size() >= expected.size(); }) && device.ReceivedHex() == expected) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "device received " << device.ReceivedHex() << ", expected " << expected;
}

::testing::AssertionResult StationTest::Eventually(const std::function<bool()>& pred, const char* what) {
  if (WaitUntil(pred)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "timed out waiting for " << what;
}

void StationTest::Reply(const std::string& hex) { device.SendHex(hex); }

QString StationTest::Panel(int index) const {
  return Find<QLabel>(*form, ("MainStatusBarPanel" + std::to_string(index)).c_str())->text();
}

std::string StationTest::Track2() const { return station::TrackBytes(*Find<QPlainTextEdit>(*form, "Track2Memo")); }
std::string StationTest::Track3() const { return station::TrackBytes(*Find<QPlainTextEdit>(*form, "Track3Memo")); }

QStringList StationTest::LogLines() const {
  const QString text = Find<QPlainTextEdit>(*form, "Memo1")->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
