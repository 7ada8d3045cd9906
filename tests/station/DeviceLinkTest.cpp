#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <chrono>
#include <string>

#include "StationHarness.h"
#include "serial/SerialCommon.h"

namespace {

using DeviceLinkTest = StationTest;

TEST_F(DeviceLinkTest, HexTextsReachTheDeviceAsFilteredBytes) {
  OpenPort();
  struct Row {
    const char* command;
    const char* bytes;
  };
  const Row rows[] = {
      {"1b30", "1B30"}, {"1B30", "1B30"}, {"1B 30", "1B30"}, {"1B3", "1B"}, {"1G30", "13"}, {"", ""},
  };
  for (const Row& row : rows) {
    device.ClearReceived();
    ASSERT_TRUE(form->SendCommand(row.command)) << row.command;
    // A marker behind every command shows that nothing more went out before it.
    ASSERT_TRUE(form->SendCommand("7E7E"));
    EXPECT_TRUE(Received(std::string(row.bytes) + "7E7E")) << "command '" << row.command << "'";
  }
  EXPECT_TRUE(prompts->messages.empty());
}

using DeviceTimingTest = RealTimingsTest;

TEST_F(DeviceTimingTest, EveryCommandHoldsTheCallerForThePause) {
  OpenPort();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(form->SendCommand(""));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(DeviceLinkTest, CommandLongerThanTheSendBufferIsRefusedWhole) {
  OpenPort();
  const std::string longest(301 * 2, '3');
  ASSERT_TRUE(form->SendCommand(longest));
  ASSERT_TRUE(Received(longest));

  device.ClearReceived();
  EXPECT_FALSE(form->SendCommand(longest + "31"));
  ASSERT_EQ(prompts->messages.size(), 1u);
  EXPECT_EQ(prompts->messages[0], QStringLiteral("数据超长，未发送。"));
  ASSERT_TRUE(form->SendCommand("7E"));
  EXPECT_TRUE(Received("7E"));
}

TEST_F(DeviceLinkTest, SendWithPortClosedSendsNothingButTriesToOpen) {
  OpenPort();
  Find<QToolButton>(*form, "ToolButton6")->click();
  ASSERT_FALSE(form->port().Open());

  EXPECT_FALSE(form->SendCommand("1B30"));
  ASSERT_EQ(prompts->messages.size(), 1u);
  EXPECT_EQ(prompts->messages[0], QStringLiteral("串口未打开。"));
  EXPECT_TRUE(form->port().Open()) << "the send asks the port to open";
  ASSERT_TRUE(form->SendCommand("7E"));
  EXPECT_TRUE(Received("7E"));

  // An open attempt that fails changes nothing for the caller: same message, no error.
  Find<QToolButton>(*form, "ToolButton6")->click();
  WriteSettings("COM3", 3, "/nonexistent/tty-for-test");
  EXPECT_FALSE(form->SendCommand("1B30"));
  ASSERT_EQ(prompts->messages.size(), 2u);
  EXPECT_EQ(prompts->messages[1], QStringLiteral("串口未打开。"));
  EXPECT_TRUE(prompts->errors.empty());
  EXPECT_FALSE(form->port().Open());
}

TEST_F(DeviceLinkTest, TriggerTakesAnnouncedBytesAndPassesEmptyChunksOn) {
  OpenPort();
  TickTracks(true, false);
  Find<QPlainTextEdit>(*form, "Track2Memo")->setPlainText("5");
  Find<QPushButton>(*form, "BitBtn3")->click();
  ASSERT_TRUE(Received("1B74351D1B5C"));
  device.ClearReceived();

  // Other notifications are not replies.
  form->deviceLink().Trigger(PortClosingMsg, 0);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示：请在写卡灯亮后刷卡"));

  // An empty chunk is judged like any other: no "rp", so the card failed.
  form->deviceLink().Trigger(TriggerAvailMsg, 0);
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("写卡提示信息：写卡错误，请重新刷卡"));
  EXPECT_TRUE(Received("1B30 1B74351D1B5C"));
}

TEST_F(DeviceLinkTest, ChunksOfOneReplyAreJoinedInOrder) {
  OpenPort();
  TickTracks(false, true);
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Received("1B545D1B6A"));
  Reply("1B 73 41");
  ASSERT_TRUE(Eventually([&] { return form->session().replyHex() == "1B7341"; }, "first chunk"));
  Reply("39 39 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Track3() == "99"; }, "track 3 shown"));
  EXPECT_EQ(form->session().replyHex(), "");
}

TEST_F(DeviceLinkTest, ReadRepliesReachOnlyTheReadHandler) {
  OpenPort();
  TickTracks(true, true);
  Find<QCheckBox>(*form, "tk2filename")->setChecked(true);  // a ticked file box routes nothing by itself
  Find<QPushButton>(*form, "BitBtn1")->click();
  ASSERT_TRUE(Received("1B425D1B6A"));
  device.ClearReceived();
  Reply("1B 73 31 32 41 33 34 3F 1C");
  ASSERT_TRUE(Eventually([&] { return Track3() == "34"; }, "read reply shown"));
  EXPECT_TRUE(Received("1B425D1B6A")) << "only the read is re-armed, no reset of a failed write";
  EXPECT_EQ(Find<QLabel>(*form, "st1")->text(), QStringLiteral("★提示信息★:"));
  EXPECT_EQ(form->session().writeTracks(), 0);
}

}  // namespace
