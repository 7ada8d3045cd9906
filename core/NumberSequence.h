#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace station {

// Shown when a track text has no number at its end to increase.
inline constexpr char kNoTrailingDigitMessage[] = "字符末尾没有检测到数字，请重新输入";

struct IncrementResult {
  std::string text;              // the increased text; empty when the increase failed
  bool noTrailingDigit = false;  // the caller must show kNoTrailingDigitMessage
};

// Adds step to the run of digits at the end of text, working on the digits
// themselves so that runs of any length keep their leading zeros and never
// overflow. Characters of code 32 or less are trimmed from both ends first and
// do not come back; everything in front of the digit run stays as it is. A run
// of nines grows by as many characters as the carry needs.
//
// Empty text gives an empty result without a message. Text whose trimmed form
// is empty or does not end in a digit gives an empty result and asks for the
// message: the operator typed something without a number at its end.
//
// text is a track text of single-byte characters; bytes >= 128 are kept as they
// are and count as neither blank nor digit.
IncrementResult IncrementTrailingNumber(std::string_view text, std::uint64_t step);

// Removes leading and trailing characters of code 32 or less (blanks, tabs,
// line ends and other control characters). Bytes >= 128 are not blanks.
std::string_view TrimControlAndBlank(std::string_view text);

}  // namespace station
