#include "core/NumberSequence.h"

namespace station {
namespace {

bool IsBlankOrControl(char c) {
  // Through unsigned char: a plain char >= 128 would be negative and count as blank.
  return static_cast<unsigned char>(c) <= 32;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string_view TrimControlAndBlank(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

IncrementResult IncrementTrailingNumber(std::string_view text, std::uint64_t step) {
  if (text.empty()) return {};
  const std::string_view trimmed = TrimControlAndBlank(text);
  if (trimmed.empty() || !IsDigit(trimmed.back())) return {{}, true};

  std::size_t runStart = trimmed.size();
  while (runStart > 0 && IsDigit(trimmed[runStart - 1])) --runStart;

  std::string result(trimmed);
  // Only the carry's last digit is added to a digit, so no sum can overflow,
  // whatever the step: a digit plus the whole of a step near the top of 64
  // bits would wrap round and give a smaller number.
  std::uint64_t carry = step;
  for (std::size_t i = result.size(); i > runStart && carry != 0; --i) {
    const std::uint64_t sum = static_cast<std::uint64_t>(result[i - 1] - '0') + carry % 10;
    result[i - 1] = static_cast<char>('0' + sum % 10);
    carry = carry / 10 + sum / 10;
  }
  if (carry != 0) result.insert(runStart, std::to_string(carry));
  return {std::move(result), false};
}

}  // namespace station
