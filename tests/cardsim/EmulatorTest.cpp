#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Emulator.h"

namespace cardsim {
namespace {

using std::chrono::milliseconds;

const std::string kReadBoth =
    "\x1B"
    "B]\x1Bj";
const std::string kWrite0099 = "\x1Bt0099\x1D\x1B\\";
const std::string kStatus = "\x1Bj";

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  return all;
}

class EmulatorTest : public ::testing::Test {
 protected:
  Emulator Make(EmulatorConfig config = {}) { return Emulator(Deck(), config, t0); }

  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
};

TEST_F(EmulatorTest, SplitRepliesArriveInTimedPiecesInOrder) {
  Emulator emulator = Make();
  EXPECT_EQ(emulator.Control("split 3 50", t0), "ok chunks=3 delay=50 bad=0 drop=0 silent=off");
  emulator.OnInput(kWrite0099, t0);
  EXPECT_EQ(emulator.Control("swipe", t0), "ok written card 1");
  emulator.OnInput(kReadBoth, t0);
  EXPECT_EQ(emulator.Control("swipe 1", t0), "ok read card 1");

  // Write success (3 bytes), then the read reply (9 bytes), each in 3 pieces
  // 50 ms apart; the second reply queues behind the first.
  EXPECT_EQ(emulator.Advance(t0), (std::vector<std::string>{"\x1B"}));
  EXPECT_TRUE(emulator.Advance(t0 + milliseconds(49)).empty());
  EXPECT_EQ(emulator.NextDeadline(), t0 + milliseconds(50));
  EXPECT_EQ(emulator.Advance(t0 + milliseconds(50)), (std::vector<std::string>{"r"}));
  EXPECT_EQ(emulator.Advance(t0 + milliseconds(100)), (std::vector<std::string>{"p", "\x1Bs0"}));
  EXPECT_EQ(Joined(emulator.Advance(t0 + milliseconds(200))), "099A?\x1C");
  EXPECT_FALSE(emulator.NextDeadline());
}

TEST_F(EmulatorTest, BadSwipesCountOnlyAnsweredSwipes) {
  EmulatorConfig config;
  config.faults.badSwipes = 1;
  Emulator emulator = Make(config);
  EXPECT_EQ(emulator.Control("swipe", t0), "ok ignored card 1") << "an idle device does not use up a bad swipe";
  emulator.OnInput(kWrite0099, t0);
  EXPECT_EQ(emulator.Control("swipe", t0), "ok write-failed card 1");
  EXPECT_EQ(emulator.Advance(t0), (std::vector<std::string>{std::string(kWriteFailureReply)}));
  emulator.OnInput(
      "\x1B"
      "0" +
          kWrite0099,
      t0);
  EXPECT_EQ(emulator.Control("swipe", t0), "ok written card 1");
  EXPECT_EQ(emulator.deck().at(1), (Card{"0099", ""}));
  EXPECT_EQ(emulator.Control("deck", t0), "ok deck 1 0099|");
}

TEST_F(EmulatorTest, AnswersStayOneLineWhateverBytesATrackHolds) {
  Emulator emulator = Make();
  emulator.OnInput("\x1Bt0\n9 |\\\x1D\x1B\\", t0);
  EXPECT_EQ(emulator.Control("state", t0), "ok write 1 0\\x0A9\\x20\\x7C\\x5C|");
}

TEST_F(EmulatorTest, DroppedReplyStillChangesTheCard) {
  Emulator emulator = Make();
  emulator.Control("drop", t0);
  emulator.OnInput(kWrite0099, t0);
  EXPECT_EQ(emulator.Control("swipe", t0), "ok written card 1 reply-dropped");
  EXPECT_TRUE(emulator.Advance(t0).empty());
  emulator.OnInput(kStatus, t0);
  EXPECT_EQ(Joined(emulator.Advance(t0)), kStatusReply) << "only one reply is dropped";
}

TEST_F(EmulatorTest, SilentDeviceIgnoresCommandsAndSwipes) {
  Emulator emulator = Make();
  emulator.Control("silent on", t0);
  emulator.OnInput(kStatus + kReadBoth, t0);
  EXPECT_EQ(emulator.Control("state", t0), "ok idle");
  EXPECT_EQ(emulator.Control("swipe", t0), "ok silent");
  EXPECT_TRUE(emulator.Advance(t0).empty());
  emulator.Control("silent off", t0);
  emulator.OnInput(kStatus, t0);
  EXPECT_EQ(Joined(emulator.Advance(t0)), kStatusReply);
}

TEST_F(EmulatorTest, AutoSwipeFollowsEveryArmingAndStopsAtReset) {
  EmulatorConfig config;
  config.autoSwipe = milliseconds(1500);
  Emulator emulator = Make(config);
  emulator.OnInput(kWrite0099, t0);
  EXPECT_EQ(emulator.NextDeadline(), t0 + milliseconds(1500));
  EXPECT_TRUE(emulator.Advance(t0 + milliseconds(1499)).empty());
  EXPECT_EQ(Joined(emulator.Advance(t0 + milliseconds(1500))), kWriteSuccessReply);
  EXPECT_EQ(emulator.deck().at(1), (Card{"0099", ""}));
  ASSERT_EQ(emulator.TakeNotes(), (std::vector<std::string>{"auto-swipe: ok written card 1"}));

  const auto t1 = t0 + milliseconds(2000);
  emulator.OnInput(kReadBoth, t1);
  emulator.OnInput(
      "\x1B"
      "0",
      t1 + milliseconds(10));
  EXPECT_FALSE(emulator.NextDeadline()) << "a reset cancels the pending swipe";
}

TEST_F(EmulatorTest, HangUpAndReopen) {
  EmulatorConfig config;
  config.hangUpAfter = milliseconds(300);
  Emulator emulator = Make(config);
  EXPECT_EQ(emulator.Control("reopen", t0), "error the line is up");
  emulator.OnInput(kReadBoth, t0);
  emulator.Advance(t0 + milliseconds(300));
  EXPECT_EQ(emulator.TakeLineRequest(), Emulator::LineRequest::kHangUp);
  EXPECT_EQ(emulator.Control("state", t0), "ok hung-up");
  EXPECT_EQ(emulator.Control("swipe", t0), "error the line is hung up");
  EXPECT_EQ(emulator.Control("reopen", t0), "ok reopening");
  EXPECT_EQ(emulator.TakeLineRequest(), Emulator::LineRequest::kReopen);
  emulator.SetLineUp(true);
  EXPECT_EQ(emulator.Control("state", t0), "ok idle") << "the device comes back reset";
}

TEST_F(EmulatorTest, ControlRefusesBadCommands) {
  Emulator emulator = Make();
  EXPECT_EQ(emulator.Control("swipe 3", t0), "error no card 3 (the deck has 0)");
  EXPECT_EQ(emulator.Control("swipe x", t0), "error usage: swipe [N]");
  EXPECT_EQ(emulator.Control("split 0", t0), "error usage: split N [MS]");
  EXPECT_EQ(emulator.Control("split 2 86400001", t0), "error usage: split N [MS]") << "more than a day";
  EXPECT_EQ(emulator.Control("silent maybe", t0), "error usage: silent on|off");
  EXPECT_EQ(emulator.Control("fly", t0), "error unknown command: fly");
  EXPECT_FALSE(emulator.quitRequested());
  EXPECT_EQ(emulator.Control("quit", t0), "ok bye");
  EXPECT_TRUE(emulator.quitRequested());
}

}  // namespace
}  // namespace cardsim
