#include "core/ReadReply.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using station::CutReadReply;
using station::JudgeReadReply;
using station::ReadCommandFor;
using station::ReadReplyKind;

TEST(ReadCommandFor, TableOfTrackSelections) {
  EXPECT_EQ(ReadCommandFor(true, false)->command, "1B5D1B6A");
  EXPECT_EQ(ReadCommandFor(true, false)->tracks, 1);
  EXPECT_EQ(ReadCommandFor(false, true)->command, "1B545D1B6A");
  EXPECT_EQ(ReadCommandFor(false, true)->tracks, 2);
  EXPECT_EQ(ReadCommandFor(true, true)->command, "1B425D1B6A");
  EXPECT_EQ(ReadCommandFor(true, true)->tracks, 3);
  EXPECT_FALSE(ReadCommandFor(false, false).has_value());
}

TEST(JudgeReadReply, ErrorWinsOverCompleteDataAndEndPatternCompletes) {
  EXPECT_EQ(JudgeReadReply("1B7335"), ReadReplyKind::incomplete);
  EXPECT_EQ(JudgeReadReply(""), ReadReplyKind::incomplete);
  EXPECT_EQ(JudgeReadReply("1B7335353F1C"), ReadReplyKind::complete);
  // '?' alone may be a data byte; only '?' followed by FS ends the reply.
  EXPECT_EQ(JudgeReadReply("1B7335353F"), ReadReplyKind::incomplete);
  EXPECT_EQ(JudgeReadReply("1B7335353F1C7271"), ReadReplyKind::error);
  EXPECT_EQ(JudgeReadReply("1B7271"), ReadReplyKind::error);
  // Noise 13 F1 C0 holds the digits 3F1C, but not the bytes '?' FS.
  EXPECT_EQ(JudgeReadReply("13F1C0"), ReadReplyKind::incomplete);
  EXPECT_EQ(JudgeReadReply("13F1C03F1C"), ReadReplyKind::complete);
}

TEST(CutReadReply, PiecesByPatterns) {
  struct Row {
    const char* name;
    const char* replyHex;
    int tracks;
    std::optional<std::string> track2;
    std::optional<std::string> track3;
  };
  const std::vector<Row> rows = {
      {"track 2", "1B7335353F1C", 1, "55", std::nullopt},
      {"both tracks", "1B7331324133343F1C", 3, "12", "34"},
      {"start and end only at byte boundaries", "01B73013F1C0 1B7335353F1C", 1, "55", std::nullopt},
      {"separator only at a byte boundary", "1B733414 41 35 3F1C", 3, "4", "5"},
      {"both, no track 2 data", "1B73413334 3F1C", 3, "", "34"},
      {"track 3 alone", "1B7341393 93F1C", 2, std::nullopt, "99"},
      {"bytes after the end are not shown", "1B7335353F1C1B7336", 1, "55", std::nullopt},
      {"track 2 without start pattern", "35353F1C", 1, std::nullopt, std::nullopt},
      {"track 3 without its start pattern", "1B73393F1C", 2, std::nullopt, std::nullopt},
      {"both without separator", "1B7331323F1C", 3, std::nullopt, std::nullopt},
      {"end before start gives empty piece", "3F1C1B7335", 1, "", std::nullopt},
      {"unknown track code leaves fields", "1B7335353F1C", 0, std::nullopt, std::nullopt},
      {"incomplete leaves fields", "1B733535", 1, std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    std::string hex = row.replyHex;
    std::erase(hex, ' ');
    const auto texts = CutReadReply(hex, row.tracks);
    EXPECT_EQ(texts.track2, row.track2) << row.name;
    EXPECT_EQ(texts.track3, row.track3) << row.name;
  }
}

}  // namespace
