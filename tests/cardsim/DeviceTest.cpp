#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "Device.h"

namespace cardsim {
namespace {

Command Arm(CommandKind kind, Tracks tracks, std::string track2 = "", std::string track3 = "") {
  Command command = MakeCommand(kind, tracks);
  command.track2 = std::move(track2);
  command.track3 = std::move(track3);
  return command;
}

TEST(Device, AnswersStatusOnlyWhenIdle) {
  Device device;
  EXPECT_EQ(device.OnCommand(MakeCommand(CommandKind::kStatus)), kStatusReply);
  EXPECT_EQ(device.OnCommand(Arm(CommandKind::kRead, Tracks::kBoth)), "");
  EXPECT_EQ(device.OnCommand(MakeCommand(CommandKind::kStatus)), "") << "a read is armed";
  EXPECT_EQ(device.OnCommand(Arm(CommandKind::kWrite, Tracks::kTrack2, "1")), "");
  EXPECT_EQ(device.OnCommand(MakeCommand(CommandKind::kStatus)), "") << "a write is armed";
  EXPECT_EQ(device.OnCommand(MakeCommand(CommandKind::kReset)), "");
  EXPECT_EQ(device.mode(), Mode::kIdle);
  EXPECT_EQ(device.OnCommand(MakeCommand(CommandKind::kStatus)), kStatusReply);
}

TEST(Device, ResetDisarmsSoASwipePassesUnanswered) {
  Device device;
  device.OnCommand(Arm(CommandKind::kWrite, Tracks::kTrack2, "77"));
  device.OnCommand(MakeCommand(CommandKind::kReset));
  Card card{"11", "22"};
  const Device::Swipe swipe = device.SwipeCard(card, false);
  EXPECT_EQ(swipe.result, SwipeResult::kIgnored);
  EXPECT_EQ(swipe.reply, "");
  EXPECT_EQ(card, (Card{"11", "22"}));
}

struct SwipeCase {
  const char* name;
  std::optional<Command> armed;  // nothing: idle
  bool bad;
  SwipeResult result;
  std::string reply;
  Card after;  // the card before the swipe is always {"55", "99"}
};

void PrintTo(const SwipeCase& row, std::ostream* os) { *os << row.name; }

class SwipeTable : public ::testing::TestWithParam<SwipeCase> {};

TEST_P(SwipeTable, ReplyAndCard) {
  const SwipeCase& row = GetParam();
  Device device;
  if (row.armed) device.OnCommand(*row.armed);
  Card card{"55", "99"};
  const Device::Swipe swipe = device.SwipeCard(card, row.bad);
  EXPECT_EQ(swipe.result, row.result);
  EXPECT_EQ(swipe.reply, row.reply);
  EXPECT_EQ(card, row.after);
  EXPECT_EQ(device.mode(), Mode::kIdle) << "every swipe ends the armed operation";
}

const std::string kLetters = "12B4";
const std::string kTooLong(kTrack2Capacity + 1, '1');

INSTANTIATE_TEST_SUITE_P(
    Swipes, SwipeTable,
    ::testing::Values(SwipeCase{"Idle", std::nullopt, false, SwipeResult::kIgnored, "", {"55", "99"}},
                      SwipeCase{"ReadTrack2",
                                Arm(CommandKind::kRead, Tracks::kTrack2),
                                false,
                                SwipeResult::kRead,
                                "\x1Bs55?\x1C",
                                {"55", "99"}},
                      SwipeCase{"ReadTrack3",
                                Arm(CommandKind::kRead, Tracks::kTrack3),
                                false,
                                SwipeResult::kRead,
                                "\x1BsA99?\x1C",
                                {"55", "99"}},
                      SwipeCase{"ReadBoth",
                                Arm(CommandKind::kRead, Tracks::kBoth),
                                false,
                                SwipeResult::kRead,
                                "\x1Bs55A99?\x1C",
                                {"55", "99"}},
                      SwipeCase{"ReadBad",
                                Arm(CommandKind::kRead, Tracks::kBoth),
                                true,
                                SwipeResult::kReadError,
                                std::string(kReadErrorReply),
                                {"55", "99"}},
                      SwipeCase{"WriteTrack2KeepsTrack3",
                                Arm(CommandKind::kWrite, Tracks::kTrack2, "0099"),
                                false,
                                SwipeResult::kWritten,
                                std::string(kWriteSuccessReply),
                                {"0099", "99"}},
                      SwipeCase{"WriteTrack3KeepsTrack2",
                                Arm(CommandKind::kWrite, Tracks::kTrack3, "", "123"),
                                false,
                                SwipeResult::kWritten,
                                std::string(kWriteSuccessReply),
                                {"55", "123"}},
                      SwipeCase{"WriteBoth",
                                Arm(CommandKind::kWrite, Tracks::kBoth, "12", "34"),
                                false,
                                SwipeResult::kWritten,
                                std::string(kWriteSuccessReply),
                                {"12", "34"}},
                      SwipeCase{"WriteBad",
                                Arm(CommandKind::kWrite, Tracks::kBoth, "12", "34"),
                                true,
                                SwipeResult::kWriteFailed,
                                std::string(kWriteFailureReply),
                                {"55", "99"}},
                      SwipeCase{"WriteNonTrackCharacters",
                                Arm(CommandKind::kWrite, Tracks::kTrack2, kLetters),
                                false,
                                SwipeResult::kWriteFailed,
                                std::string(kWriteFailureReply),
                                {"55", "99"}},
                      SwipeCase{"WriteOverCapacity",
                                Arm(CommandKind::kWrite, Tracks::kTrack2, kTooLong),
                                false,
                                SwipeResult::kWriteFailed,
                                std::string(kWriteFailureReply),
                                {"55", "99"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cardsim
