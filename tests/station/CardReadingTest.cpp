#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "StationHarness.h"

namespace {

class CardReadingTest : public StationTest {
 protected:
  // Opens the port, ticks the tracks, presses 读卡 and checks the command.
  void StartReading(bool track2, bool track3, const char* command) {
    OpenPort();
    TickTracks(track2, track3);
    Find<QPushButton>(*form, "BitBtn1")->click();
    ASSERT_TRUE(Received(command));
    device.ClearReceived();
  }

  bool Succeeded() const {
    return Find<QLabel>(*form, "st2")->text() == QStringLiteral("读卡成功,请刷下一张卡") &&
           Panel(2) == QStringLiteral("读卡成功,数据显示在对应磁道数据内容内");
  }
};

TEST_F(CardReadingTest, ClosedPortOnlyAsksForThePort) {
  TickTracks(true, false);
  Find<QPushButton>(*form, "BitBtn1")->click();
  EXPECT_EQ(Panel(2), QStringLiteral("请先选择端口打开......"));
  EXPECT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
  EXPECT_EQ(form->session().readTracks(), 0);
}

TEST_F(CardReadingTest, SplitReplyIsShownOnceCompleteAndTheReadRearmed) {
  StartReading(true, false, "1B5D1B6A");
  EXPECT_EQ(Find<QLabel>(*form, "st2")->text(), QStringLiteral("提示信息：请刷卡！"));
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  Tick(*form);

  Reply("1B 73 35");
  ASSERT_TRUE(Eventually([&] { return form->session().replyHex() == "1B7335"; }, "first chunk kept"));
  EXPECT_EQ(Track2(), "");
  EXPECT_EQ(form->session().elapsedSeconds(), 1) << "an incomplete chunk does not re-arm";
  EXPECT_EQ(device.ReceivedHex(), "");

  Reply("35 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Track2() == "55"; }, "track 2 shown"));
  EXPECT_TRUE(Succeeded());
  EXPECT_TRUE(Received("1B5D1B6A"));
  EXPECT_EQ(form->session().replyHex(), "");
  EXPECT_EQ(form->session().elapsedSeconds(), 0);
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  const QTextCursor caret = Find<QPlainTextEdit>(*form, "Track2Memo")->textCursor();
  EXPECT_EQ(caret.position(), 2);
  EXPECT_FALSE(caret.hasSelection());
}

// How replies are cut is the session's table; here both tracks reach their
// fields through the window and the read is armed again on the line.
TEST_F(CardReadingTest, TrackDataReachTheirFieldsAndTheReadIsRearmed) {
  StartReading(true, true, "1B425D1B6A");
  Reply("1B 73 31 32 41 33 34 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Succeeded(); }, "the read to complete"));
  EXPECT_EQ(Track2(), "12");
  EXPECT_EQ(Track3(), "34");
  EXPECT_TRUE(Received("1B425D1B6A"));
  EXPECT_EQ(form->session().replyHex(), "");
}

TEST_F(CardReadingTest, ReadErrorWinsOverCompleteDataAndRearms) {
  StartReading(true, false, "1B5D1B6A");
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("old");
  Tick(*form);
  Reply("1B 73 35 3F 1C 72 71");
  ASSERT_TRUE(Eventually(
      [&] { return Find<QLabel>(*form, "st2")->text() == QStringLiteral("读卡提示信息：读卡错误，请重新刷卡"); },
      "the read error"));
  EXPECT_EQ(Track2(), "");
  EXPECT_EQ(Panel(2), QString());
  EXPECT_TRUE(Received("1B5D1B6A"));
  EXPECT_EQ(form->session().elapsedSeconds(), 0);
  EXPECT_EQ(form->session().replyHex(), "");
}

TEST_F(CardReadingTest, EveryReplyRearmsAfterTheResetButtonStoppedTheTimer) {
  StartReading(true, true, "1B425D1B6A");
  Find<QPlainTextEdit>(*form, "Track3Memo")->setPlainText("old");
  for (const char* reply : {"72 71", "1B 73 31 41 32 3F 1C"}) {
    SCOPED_TRACE(reply);
    Find<QToolButton>(*form, "ToolButton3")->click();
    ASSERT_TRUE(Received("1B30"));
    ASSERT_FALSE(Find<QTimer>(*form, "OpenTimer")->isActive());
    device.ClearReceived();
    Reply(reply);
    ASSERT_TRUE(Received("1B425D1B6A"));
    device.ClearReceived();
    EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
    EXPECT_EQ(form->session().elapsedSeconds(), 0);
  }
  EXPECT_EQ(Track2(), "1");
  EXPECT_EQ(Track3(), "2");
}

TEST_F(CardReadingTest, ReadErrorEmptiesBothFields) {
  StartReading(true, true, "1B425D1B6A");
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("22");
  Find<QPlainTextEdit>(*form, "Track3Memo")->setPlainText("33");
  Reply("72 71");
  ASSERT_TRUE(Received("1B425D1B6A"));
  EXPECT_EQ(Find<QLabel>(*form, "st2")->text(), QStringLiteral("读卡提示信息：读卡错误，请重新刷卡"));
  EXPECT_EQ(Track2(), "");
  EXPECT_EQ(Track3(), "");
}

TEST_F(CardReadingTest, CompleteReplyWithoutStartPatternKeepsTheFields) {
  StartReading(true, false, "1B5D1B6A");
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("kept");
  Reply("35 35 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Succeeded(); }, "the success texts"));
  EXPECT_EQ(Track2(), "kept");
  EXPECT_TRUE(Received("1B5D1B6A"));
}

TEST_F(CardReadingTest, NoTickedTrackSendsNothingButStillTimesOut) {
  OpenPort();
  Find<QPushButton>(*form, "BitBtn1")->click();
  EXPECT_EQ(form->session().readTracks(), 0);
  EXPECT_TRUE(Find<QTimer>(*form, "OpenTimer")->isActive());
  for (int tick = 0; tick < 21; ++tick) Tick(*form);
  EXPECT_TRUE(Received("1B30"));
}

TEST_F(CardReadingTest, UntickingBothWhileArmedRearmsNothing) {
  StartReading(true, false, "1B5D1B6A");
  TickTracks(false, false);
  Reply("1B 73 35 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Succeeded(); }, "the success texts"));
  EXPECT_EQ(form->session().readTracks(), 1);
  EXPECT_EQ(form->session().readCommand(), "");
  Find<QToolButton>(*form, "ToolButton4")->click();
  EXPECT_TRUE(Received("1B6A")) << "no read command went out before the status query";
}

}  // namespace
