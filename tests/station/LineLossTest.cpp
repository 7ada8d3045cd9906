#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CardEmulator.h"
#include "StationHarness.h"
#include "core/ReadReply.h"
#include "core/Texts.h"

namespace {

namespace fs = std::filesystem;

class LineLossTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    WriteSettings("COM3", 3, emulator.Path());
  }
  void Unplug() { ASSERT_EQ(emulator.Ask("hangup"), "ok hung up"); }
  void PlugIn() { ASSERT_EQ(emulator.Ask("reopen").rfind("ok reopened", 0), 0u); }
  station::testing_support::CardEmulator emulator;
};

TEST_F(LineLossTest, HangUpClosesDisarmsAndReconnectsWithoutResuming) {
  struct Row {
    const char* name;
    const char* button;       // the button that arms the device, if any
    const char* writePrompt;  // st1 after the loss; null: unchanged
  };
  const Row rows[] = {
      {"idle", nullptr, nullptr},
      {"read armed", "BitBtn1", nullptr},
      {"write armed", "BitBtn3", station::kWriteLineLost},
  };
  form->show();  // hints are fitted to the places the operator sees
  for (const Row& row : rows) {
    OpenPort();
    TickTracks(true, false);
    Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(QStringLiteral("0099"));
    if (row.button != nullptr) Find<QPushButton>(*form, row.button)->click();
    const QString st1Before = Find<QLabel>(*form, "st1")->accessibleName();

    Unplug();
    EXPECT_TRUE(Eventually([&] { return Panel(2) == QString::fromUtf8(station::kLineLost); }, "the loss")) << row.name;
    EXPECT_FALSE(form->port().Open()) << row.name;
    EXPECT_EQ(Panel(0), QStringLiteral("COM3:Close")) << row.name;
    EXPECT_FALSE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled()) << row.name;
    EXPECT_TRUE(Find<QCheckBox>(*form, "TK2CheckBox")->isChecked()) << row.name << ": ticks are kept";
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name;
    EXPECT_EQ(Find<QLabel>(*form, "l_timer")->text(), QStringLiteral("00")) << row.name;
    const auto* st1 = Find<QLabel>(*form, "st1");
    EXPECT_EQ(st1->accessibleName(), row.writePrompt ? QString::fromUtf8(row.writePrompt) : st1Before) << row.name;
    if (row.writePrompt) {
      // Longer than its place: elided between characters, whole in the tooltip.
      EXPECT_EQ(st1->toolTip(), QString::fromUtf8(row.writePrompt)) << row.name;
      EXPECT_TRUE(st1->text().endsWith(QChar(0x2026))) << row.name;
      EXPECT_TRUE(QString::fromUtf8(row.writePrompt).startsWith(st1->text().chopped(1))) << row.name;
      EXPECT_LE(QFontMetrics(st1->font()).horizontalAdvance(st1->text()), st1->contentsRect().width()) << row.name;
    }
    EXPECT_EQ(form->session().readTracks() + form->session().writeTracks(), 0) << row.name;

    PlugIn();
    EXPECT_TRUE(Eventually([&] { return form->port().Open(); }, "the reconnect")) << row.name;
    EXPECT_EQ(Panel(0), QStringLiteral("COM3－－－OK")) << row.name;
    EXPECT_EQ(Panel(2), QString::fromUtf8(station::kLineBack)) << row.name;
    EXPECT_TRUE(Find<QCheckBox>(*form, "TK2CheckBox")->isEnabled()) << row.name;
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name << ": nothing resumes by itself";
    EXPECT_TRUE(prompts->messages.empty()) << row.name << ": the reconnect is silent";
    EXPECT_EQ(emulator.Ask("state"), "ok idle") << row.name << ": nothing was sent to the device";
    Find<QToolButton>(*form, "ToolButton6")->click();
  }
}

TEST_F(LineLossTest, ClosePressedEndsTheRetrying) {
  OpenPort();
  Unplug();
  ASSERT_TRUE(Eventually([&] { return Find<QTimer>(*form, "ReconnectTimer")->isActive(); }, "the retrying"));
  Find<QToolButton>(*form, "ToolButton6")->click();
  EXPECT_FALSE(Find<QTimer>(*form, "ReconnectTimer")->isActive());
  PlugIn();
  EXPECT_FALSE(WaitUntil([&] { return form->port().Open(); }, Timings().reconnect * 5));
}

TEST_F(LineLossTest, SilentDeviceRunsOutWithoutSuccess) {
  struct Row {
    const char* name;
    const char* button;  // the button that arms the device, if any
    const char* promptLabel;
    const char* prompt;  // the read prompt stays; the write one says no card was written
    const char* track2;
  };
  const Row rows[] = {
      {"write armed", "BitBtn3", "st1", station::kWriteTimedOut, "0099"},
      {"read armed", "BitBtn1", "st2", station::kSwipePrompt, ""},
  };
  ASSERT_EQ(emulator.Ask("silent on").rfind("ok", 0), 0u);
  OpenPort();
  TickTracks(true, false);
  for (const Row& row : rows) {
    form->findChild<QPlainTextEdit*>("Track2Memo")->setPlainText(QStringLiteral("0099"));
    Find<QPushButton>(*form, row.button)->click();
    for (int i = 0; i <= station::kWaitLimitTicks; ++i) Tick(*form);
    EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive()) << row.name;
    EXPECT_EQ(form->findChild<QLabel*>("l_timer")->text(), QStringLiteral("00")) << row.name;
    EXPECT_EQ(form->findChild<QLabel*>(row.promptLabel)->text(), QString::fromUtf8(row.prompt)) << row.name;
    EXPECT_TRUE(LogLines().isEmpty()) << row.name;
    EXPECT_EQ(Track2(), row.track2) << row.name;
  }
}

using ShutdownTest = StationTest;

TEST_F(ShutdownTest, ClosingTheWindowDropsRepliesInFlight) {
  OpenPort();
  TickTracks(true, false);
  Find<QPushButton>(*form, "BitBtn1")->click();
  const std::string reply = "1B731B013B3132333F1C1B02";
  for (int i = 0; i < 200; ++i) device.SendHex(reply);
  ASSERT_TRUE(Eventually([&] { return !form->session().replyHex().empty() || !Track2().empty(); }, "replies"));
  form->close();  // as the title bar's close box does
  EXPECT_FALSE(form->port().Open());
  for (int i = 0; i < 200; ++i) device.SendHex(reply);
  form.reset();  // replies still arriving: nothing may reach the window now
}

// Line noise (no reply pattern in it) neither crashes the station nor passes
// for a card: ten megabytes while idle, a few chunks while a read is armed
// (each incomplete chunk costs its pause; what is kept of it stays bounded), a
// line's worth while a write is armed (every chunk there is a failed card and
// its device pause).
TEST_F(ShutdownTest, NoiseIsNeverACard) {
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += "U\xAA";
  OpenPort();
  TickTracks(true, false);
  // Written from a thread: the station takes the bytes on this one.
  std::atomic<bool> written = false;
  std::size_t kept = 0;  // the most of the reply text seen kept
  const auto sendNoise = [&](int bytes) {
    written = false;
    std::thread writer([&] {
      for (int sent = 0; sent < bytes; sent += 8192) device.SendBytes(noise);
      written = true;
    });
    const bool allWritten = WaitUntil(
        [&] {
          kept = std::max(kept, form->session().replyHex().size());
          return written.load();
        },
        std::chrono::seconds(60));
    writer.join();
    return allWritten;
  };
  ASSERT_TRUE(sendNoise(10 * 1024 * 1024));
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(sendNoise(64 * 1024));
  Reply("1B 73 35 3F 1C");
  EXPECT_TRUE(Eventually([&] { return Track2() == "5"; }, "the read after the noise"));
  EXPECT_LE(kept, station::kLongestReadReplyHex);
  EXPECT_TRUE(LogLines().isEmpty());

  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText(QStringLiteral("0099"));
  Find<QPushButton>(*form, "BitBtn3")->click();
  device.SendBytes(noise.substr(0, 2048));  // what the line holds without the station reading
  EXPECT_TRUE(Eventually([&] { return Find<QLabel>(*form, "st1")->text() == QString::fromUtf8(station::kWriteFailed); },
                         "the noise judged a failed card"));
  EXPECT_TRUE(LogLines().isEmpty());
  EXPECT_EQ(Track2(), "0099");
  EXPECT_GT(form->session().writeTracks(), 0) << "the card is still to be written";
}

}  // namespace
