#include "core/WriteCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

using station::BuildFileWrite;
using station::BuildTypedWrite;
using station::FocusTarget;
using station::WriteArming;
using station::WriteBuild;
using station::WriteRefusal;
using station::WriteTrackInput;

WriteTrackInput Track(std::string text, bool continuous = false, bool stepEmpty = false) {
  WriteTrackInput t;
  t.ticked = true;
  t.continuous = continuous;
  t.stepEmpty = stepEmpty;
  t.text = std::move(text);
  return t;
}

WriteTrackInput FileTrack(std::string text, bool chosen = true) {
  WriteTrackInput t = Track(std::move(text));
  t.fileBox = true;
  t.fileChosen = chosen;
  return t;
}

const WriteTrackInput kOff{};

std::string Describe(const WriteBuild& build) {
  if (const auto* arming = std::get_if<WriteArming>(&build)) {
    return "arm " + std::to_string(arming->tracks) + " " + arming->command;
  }
  if (const auto* refusal = std::get_if<WriteRefusal>(&build)) {
    return std::string("refuse ") + refusal->message + " focus " + std::to_string(static_cast<int>(refusal->focus));
  }
  return "nothing";
}

std::string Refuse(const char* message, FocusTarget focus) {
  return std::string("refuse ") + message + " focus " + std::to_string(static_cast<int>(focus));
}

TEST(BuildTypedWrite, CommandsAndChecksInOrder) {
  struct Row {
    const char* name;
    WriteTrackInput track2, track3;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"track 2 text 5", Track("5"), kOff, "arm 1 1B74351D1B5C"},
      {"track 3 text 123", kOff, Track("123"), "arm 2 1B74413132331D1B5C"},
      {"both 12 and 34", Track("12"), Track("34"), "arm 3 1B7431324133341D1B5C"},
      {"nothing ticked", kOff, kOff, "nothing"},
      {"continuous 2 without step", Track("1", true, true), kOff, Refuse(station::kMsgNeedStep, FocusTarget::tk2Step)},
      {"step checked before text", Track("", true, true), kOff, Refuse(station::kMsgNeedStep, FocusTarget::tk2Step)},
      {"empty step ignored when not continuous", Track("1", false, true), kOff, "arm 1 1B74311D1B5C"},
      {"track 2 empty", Track(""), kOff, Refuse(station::kMsgNeedData, FocusTarget::track2)},
      {"track 3 empty", kOff, Track(""), Refuse(station::kMsgNeedData, FocusTarget::track3)},
      {"continuous 3 without step", kOff, Track("1", true, true), Refuse(station::kMsgNeedStep, FocusTarget::tk3Step)},
      {"both: track 2 step first", Track("1", true, true), Track("2", true, true),
       Refuse(station::kMsgNeedStep, FocusTarget::tk2Step)},
      {"both: track 3 step", Track("1"), Track("2", true, true), Refuse(station::kMsgNeedStep, FocusTarget::tk3Step)},
      {"both: track 2 empty", Track(""), Track("2"), Refuse(station::kMsgNeedData, FocusTarget::track2)},
      {"both: both empty ends in track 3", Track(""), Track(""), Refuse(station::kMsgNeedData, FocusTarget::track3)},
      {"texts taken untrimmed", Track(" 1"), kOff, "arm 1 1B7420311D1B5C"},
  };
  for (const auto& row : rows) EXPECT_EQ(Describe(BuildTypedWrite(row.track2, row.track3)), row.expected) << row.name;
}

TEST(BuildFileWrite, FileChecksThenCommands) {
  struct Row {
    const char* name;
    WriteTrackInput track2, track3;
    std::string expected;
  };
  const std::string noFile = Refuse(station::kMsgNoFileChosen, FocusTarget::none);
  const std::string emptyRecord = Refuse(station::kMsgFileRecordEmpty, FocusTarget::none);
  const std::vector<Row> rows = {
      {"track 2 record", FileTrack("001"), kOff, "arm 1 1B743030311D1B5C"},
      {"track 3 record", kOff, FileTrack("9"), "arm 2 1B7441391D1B5C"},
      {"file 3 with continuous 2", Track("7", true), FileTrack("9"), "arm 3 1B743741391D1B5C"},
      {"no file chosen for 2", FileTrack("1", false), kOff, noFile},
      {"no file chosen for 3 wins over empty 2", FileTrack(""), FileTrack("1", false), noFile},
      {"empty record", FileTrack(""), kOff, emptyRecord},
      {"both, one empty", FileTrack("1"), FileTrack(""), emptyRecord},
      {"nothing ticked", kOff, kOff, "nothing"},
  };
  for (const auto& row : rows) EXPECT_EQ(Describe(BuildFileWrite(row.track2, row.track3)), row.expected) << row.name;
}

}  // namespace
