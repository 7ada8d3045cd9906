// The increase of a track text's trailing number.
// Invariants: empty text gives an empty result and no message; otherwise the
// text is trimmed, and without a digit at its end the result is empty with the
// message; with one, everything before the digit run stays byte for byte and
// the run becomes its decimal sum with the step (done here by schoolbook
// addition on the digit strings), keeping its length or growing by the carry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "core/NumberSequence.h"

namespace {

std::string AddDecimal(const std::string& a, const std::string& b) {
  std::string sum;
  int carry = 0;
  for (std::size_t i = 0; i < a.size() || i < b.size() || carry != 0; ++i) {
    int digit = carry;
    if (i < a.size()) digit += a[a.size() - 1 - i] - '0';
    if (i < b.size()) digit += b[b.size() - 1 - i] - '0';
    sum.insert(sum.begin(), static_cast<char>('0' + digit % 10));
    carry = digit / 10;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto step = input.ConsumeIntegral<std::uint64_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();

  const station::IncrementResult result = station::IncrementTrailingNumber(text, step);
  if (text.empty()) {
    FUZZ_CHECK(result.text.empty() && !result.noTrailingDigit);
    return 0;
  }
  const std::string_view trimmed = station::TrimControlAndBlank(text);
  if (trimmed.empty() || trimmed.back() < '0' || trimmed.back() > '9') {
    FUZZ_CHECK(result.text.empty() && result.noTrailingDigit);
    return 0;
  }
  FUZZ_CHECK(!result.noTrailingDigit);
  std::size_t runStart = trimmed.size();
  while (runStart > 0 && trimmed[runStart - 1] >= '0' && trimmed[runStart - 1] <= '9') --runStart;
  const std::string run(trimmed.substr(runStart));
  const std::string expected = AddDecimal(run, std::to_string(step));
  FUZZ_CHECK(result.text == std::string(trimmed.substr(0, runStart)) + expected);
  return 0;
}
