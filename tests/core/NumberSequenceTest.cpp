#include "core/NumberSequence.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace station {
namespace {

struct IncrementCase {
  const char* name;
  std::string input;
  std::uint64_t step;
  std::string expected;
  bool message;
};

std::string Nines(std::size_t n) { return std::string(n, '9'); }

const IncrementCase kIncrementCases[] = {
    {"PrefixAndLeadingZeros", "A0099", 1, "A0100", false},
    {"PlainNumber", "12", 1, "13", false},
    {"SingleNineAfterLetterGrows", "A9", 1, "A10", false},
    {"RunOfNinesGrows", "999", 1, "1000", false},
    {"ZerosKeepTheirWidth", "0000", 5, "0005", false},
    {"LeadingZerosSurviveCarry", "0009", 1, "0010", false},
    {"SingleDigitCarry", "7", 3, "10", false},
    {"StepAboveNineCarriesTwice", "95", 15, "110", false},
    {"StepAboveNineWithLeadingZero", "09", 15, "24", false},
    {"NineDigitStep", "0", 999999999, "999999999", false},
    {"NineDigitStepIntoLongRun", "0000000000001", 999999999, "0001000000000", false},
    {"LargestStepDoesNotWrap", "9", UINT64_MAX, "18446744073709551624", false},
    {"CarryStopsAtThousands", "1999", 1, "2000", false},
    {"CarryStopsAtHundreds", "1099", 1, "1100", false},
    {"OnlyTrailingRunOfTrack2Text", "1234=5678", 1, "1234=5679", false},
    {"EarlierDigitsUntouched", "AB12CD34", 1, "AB12CD35", false},
    {"BlanksTrimmed", " 0042 ", 1, "0043", false},
    {"ControlCharsTrimmed", "\t\r\n0042\x01\x1f", 1, "0043", false},
    {"InnerBlanksKept", "A 9", 1, "A 10", false},
    {"HighBytesInPrefixKept",
     "\xb4\xc5\xb5\xc0"
     "5",
     1,
     "\xb4\xc5\xb5\xc0"
     "6",
     false},
    {"ThirtySevenNines", Nines(37), 1, "1" + std::string(37, '0'), false},
    {"HundredFourDigitRun", std::string(103, '0') + "9", 1, std::string(102, '0') + "10", false},
    {"HundredFourNinesGrowTo105", Nines(104), 1, "1" + std::string(104, '0'), false},
    {"LongRunCarryStopsMidway", "1" + std::string(50, '0') + Nines(53), 1,
     "1" + std::string(49, '0') + "1" + std::string(53, '0'), false},
    {"EndsInSeparator", "12=", 1, "", true},
    {"EndsInQuestionMark", "1234?", 1, "", true},
    {"EndsInLetter", "0012A", 1, "", true},
    {"EndsInHighByte", "12\xb9", 1, "", true},
    {"OnlyBlanks", "   ", 1, "", true},
    {"OnlyControlChars", "\t\r\n", 1, "", true},
    {"EmptyTextNoMessage", "", 1, "", false},
};

// Shown by the test runner instead of the raw bytes of the case.
void PrintTo(const IncrementCase& c, std::ostream* os) { *os << c.name; }

class IncrementTrailingNumberTest : public testing::TestWithParam<IncrementCase> {};

TEST_P(IncrementTrailingNumberTest, GivesExpectedTextAndMessage) {
  const IncrementCase& c = GetParam();
  const IncrementResult result = IncrementTrailingNumber(c.input, c.step);
  EXPECT_EQ(result.text, c.expected);
  EXPECT_EQ(result.noTrailingDigit, c.message);
}

INSTANTIATE_TEST_SUITE_P(Table, IncrementTrailingNumberTest, testing::ValuesIn(kIncrementCases),
                         [](const testing::TestParamInfo<IncrementCase>& info) { return info.param.name; });

TEST(IncrementTrailingNumber, RepeatedStepsCountThroughARollover) {
  std::string text = "NO-0097";
  for (int i = 0; i < 4; ++i) text = IncrementTrailingNumber(text, 1).text;
  EXPECT_EQ(text, "NO-0101");
}

}  // namespace
}  // namespace station
