#include "ui/KeyFilters.h"

#include <QString>

#include <gtest/gtest.h>

#include <string>

#include "ui/UpDown.h"

namespace {

struct FilterCase {
  const char* name;
  bool (*admits)(unsigned char);
  std::string admitted;  // every admitted printable byte
  bool refusesLineBreaks;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

class KeyFilterTest : public ::testing::TestWithParam<FilterCase> {};

// Every byte from 0 to 255 against the filter's list: no printable byte outside
// it gets through, the bytes of Chinese characters (128 and up) included, while
// the editing keys (control codes and Delete) all pass, Enter only where a line
// break does no harm.
TEST_P(KeyFilterTest, AdmitsItsListAndTheEditingKeys) {
  const FilterCase& c = GetParam();
  for (int byte = 0; byte < 256; ++byte) {
    const auto ch = static_cast<unsigned char>(byte);
    const bool lineBreak = ch == station::kEnter || ch == station::kLineFeed;
    const bool editing = byte < 32 || byte == 127;
    const bool expected = (editing && !(lineBreak && c.refusesLineBreaks)) ||
                          (!editing && c.admitted.find(static_cast<char>(ch)) != std::string::npos);
    EXPECT_EQ(c.admits(ch), expected) << "byte " << byte;
  }
}

INSTANTIATE_TEST_SUITE_P(Filters, KeyFilterTest,
                         ::testing::Values(FilterCase{"TrackData", station::AdmitsTrackData, "0123456789:;<=>?", true},
                                           FilterCase{"NonZeroDigit", station::AdmitsNonZeroDigit, "123456789", false},
                                           FilterCase{"Digit", station::AdmitsDigit, "0123456789", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StepCase {
  const char* name;
  const char* text;
  int last;
  int delta;
  int expected;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class UpDownStepTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(UpDownStepTest, StepsWithinRangeWithoutWrapping) {
  const StepCase& c = GetParam();
  EXPECT_EQ(station::SteppedPosition(QString::fromLatin1(c.text), c.last, c.delta, 1, 32767), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpDownStepTest,
    ::testing::Values(StepCase{"UpFromField", "999", 1, 1, 1000}, StepCase{"DownFromField", "5", 1, -1, 4},
                      StepCase{"StopsAtTop", "32767", 32767, 1, 32767}, StepCase{"StopsAtBottom", "1", 1, -1, 1},
                      StepCase{"FieldAboveRangeUsesLast", "99999", 7, 1, 8},
                      StepCase{"FieldZeroUsesLast", "0", 1, 1, 2}, StepCase{"FieldNotANumberUsesLast", "", 12, -1, 11},
                      StepCase{"HugeStepClamps", "5", 5, 1 << 30, 32767}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
