#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Protocol.h"

namespace cardsim {
namespace {

using namespace std::string_literals;

Command Reset() { return MakeCommand(CommandKind::kReset); }
Command Status() { return MakeCommand(CommandKind::kStatus); }
Command Read(Tracks tracks) { return MakeCommand(CommandKind::kRead, tracks); }
Command Write(Tracks tracks, std::string track2, std::string track3) {
  Command command = MakeCommand(CommandKind::kWrite, tracks);
  command.track2 = std::move(track2);
  command.track3 = std::move(track3);
  return command;
}

const std::string kEscS(1, kEsc);
std::string Frame(const std::string& body) { return "\x1Bt" + body + "\x1D\x1B\\"; }

struct ParseCase {
  const char* name;
  std::string input;
  std::vector<Command> expected;
};

void PrintTo(const ParseCase& row, std::ostream* os) { *os << row.name; }

class ParserTable : public ::testing::TestWithParam<ParseCase> {};

// Every row is fed whole and then one byte per read: the device must not
// care how the station's bytes are cut.
TEST_P(ParserTable, WholeAndByteByByte) {
  const ParseCase& row = GetParam();
  CommandParser whole;
  EXPECT_EQ(whole.Feed(row.input), row.expected);

  CommandParser bytewise;
  std::vector<Command> got;
  for (char byte : row.input) {
    for (Command& command : bytewise.Feed(std::string(1, byte))) got.push_back(command);
  }
  EXPECT_EQ(got, row.expected);
}

const std::string kLongest = std::string(kTrack2Capacity, '1') + "A" + std::string(kTrack3Capacity, '2');

INSTANTIATE_TEST_SUITE_P(
    Commands, ParserTable,
    ::testing::Values(ParseCase{"Reset",
                                "\x1B"
                                "0",
                                {Reset()}},
                      ParseCase{"Status", "\x1Bj", {Status()}},
                      ParseCase{"ReadTrack2", "\x1B]\x1Bj", {Read(Tracks::kTrack2)}},
                      ParseCase{"ReadTrack3", "\x1BT]\x1Bj", {Read(Tracks::kTrack3)}},
                      ParseCase{"ReadBoth",
                                "\x1B"
                                "B]\x1Bj",
                                {Read(Tracks::kBoth)}},
                      ParseCase{"WriteTrack2", Frame("0099"), {Write(Tracks::kTrack2, "0099", "")}},
                      ParseCase{"WriteTrack3", Frame("A123"), {Write(Tracks::kTrack3, "", "123")}},
                      ParseCase{"WriteBoth", Frame("12A34"), {Write(Tracks::kBoth, "12", "34")}},
                      ParseCase{
                          "WriteLongestPair",
                          Frame(kLongest),
                          {Write(Tracks::kBoth, std::string(kTrack2Capacity, '1'), std::string(kTrack3Capacity, '2'))}},
                      ParseCase{"MergedCommands",
                                "\x1B"
                                "0" +
                                    Frame("5") + "\x1Bj\x1BT]\x1Bj",
                                {Reset(), Write(Tracks::kTrack2, "5", ""), Status(), Read(Tracks::kTrack3)}},
                      ParseCase{"GarbageBetweenCommands",
                                "xx\r\n\x1B"
                                "0\xFF\x00zz\x1Bj?\x1C"s,
                                {Reset(), Status()}},
                      ParseCase{"UnknownCommandSkipped",
                                "\x1BQ\x1B"
                                "0",
                                {Reset()}},
                      ParseCase{"DoubledEsc", "\x1B\x1Bj", {Status()}},
                      ParseCase{"BrokenReadThenReset",
                                "\x1B]\x1B"
                                "0",
                                {Reset()}},
                      ParseCase{"BrokenTrack3ReadThenStatus", "\x1BTx\x1Bj", {Status()}},
                      ParseCase{"ResetInMidFrame",
                                "\x1Bt12\x1B"
                                "0\x1Bj",
                                {Reset(), Status()}},
                      ParseCase{"NewFrameInMidFrame", "\x1Bt12" + Frame("34"), {Write(Tracks::kTrack2, "34", "")}},
                      ParseCase{"FrameWithoutGsDropped", "\x1Bt12\x1B\\\x1Bj", {Status()}},
                      // Past the bound the frame is gone: its terminator must not arm a
                      // write with the data of an overlong frame, and the next command works.
                      ParseCase{"OverlongFrameDropped", Frame(std::string(kMaxFrameBytes, '1')) + "\x1Bj", {Status()}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Parser, CountsWhatItSkips) {
  CommandParser parser;
  parser.Feed(
      "ab\x1Bt12\x1B"
      "0");
  EXPECT_EQ(parser.droppedFrames(), 1u);
  EXPECT_EQ(parser.skippedBytes(), 2u + 4u);
}

TEST(Replies, ReadFormsAreExact) {
  EXPECT_EQ(ReadReply(Tracks::kTrack2, "55", "99"), "\x1Bs55?\x1C");
  EXPECT_EQ(ReadReply(Tracks::kTrack3, "55", "99"), "\x1BsA99?\x1C");
  EXPECT_EQ(ReadReply(Tracks::kBoth, "12", "34"), "\x1Bs12A34?\x1C");
  EXPECT_EQ(ReadReply(Tracks::kBoth, "", "34"), "\x1BsA34?\x1C");
}

TEST(Replies, FixedRepliesCarryOnlyTheirOwnPattern) {
  const auto has = [](std::string_view text, std::string_view pattern) {
    return text.find(pattern) != std::string_view::npos;
  };
  const std::string_view readEnd = "?\x1C";
  for (std::string_view pattern :
       {std::string_view("rp"), std::string_view("rq"), readEnd, std::string_view("A"), std::string_view("\x1Bs")}) {
    EXPECT_FALSE(has(kStatusReply, pattern)) << pattern;
  }
  EXPECT_TRUE(has(kReadErrorReply, "rq"));
  EXPECT_FALSE(has(kReadErrorReply, readEnd));
  EXPECT_TRUE(has(kWriteSuccessReply, "rp"));
  EXPECT_FALSE(has(kWriteFailureReply, "rp"));
}

TEST(Replies, SplitKeepsOrderAndSize) {
  EXPECT_EQ(SplitReply("abcdefg", 3), (std::vector<std::string>{"abc", "de", "fg"}));
  EXPECT_EQ(SplitReply("abc", 5), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitReply("abc", 1), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(SplitReply("abc", 0), (std::vector<std::string>{"abc"}));
  EXPECT_TRUE(SplitReply("", 3).empty());
}

}  // namespace
}  // namespace cardsim
