#include "core/TrackCharacters.h"

#include <gtest/gtest.h>

#include <string>

namespace station {
namespace {

struct TrackCase {
  const char* name;
  int track;
  std::string text;
  bool writable;
};

const TrackCase kTrackCases[] = {
    {"Track2AllItsCharacters", 2, "0123456789:;<=>?", true},
    {"Track2LetterAIsTheTrackSeparator", 2, "12A34", false},
    {"Track2EscWouldEndTheFrame", 2,
     "12\x1b\\\x1b"
     "034",
     false},
    {"Track2SlashJustBelowDigits", 2, "12/3", false},
    {"Track2AtJustAboveQuestionMark", 2, "12@3", false},
    {"Track2HighByte", 2, "12\xb4", false},
    {"Track2Length37", 2, std::string(37, '1'), true},
    {"Track2Length38", 2, std::string(38, '1'), false},
    {"Track3Length104", 3, std::string(104, '9'), true},
    {"Track3Length105", 3, std::string(105, '9'), false},
    {"Track3Blank", 3, "12 34", false},
};

TEST(TrackTextWritable, Table) {
  for (const TrackCase& c : kTrackCases) {
    EXPECT_EQ(TrackTextWritable(c.track, c.text), c.writable) << c.name;
  }
}

TEST(UnwritableTrackMessage, NamesTheTrackAsItsBoxAndShowsEachByteAsOneCharacter) {
  EXPECT_EQ(UnwritableTrackMessage(2, "12A"), "磁道2数据含有不能写入的字符或超长：12A");
  EXPECT_EQ(UnwritableTrackMessage(3, "9\xe9"), "磁道3数据含有不能写入的字符或超长：9é");
}

}  // namespace
}  // namespace station
