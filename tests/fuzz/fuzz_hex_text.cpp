// Hex command texts and the send buffer.
// Invariants: the hex text of any bytes decodes back to them less their blank
// and control ends; any text either decodes to at most half its length or is
// refused with std::invalid_argument; the send buffer never holds more than
// SendBufferSize bytes, refuses a command only when its hex digits make more,
// and otherwise holds exactly the bytes its hex digits spell, in pairs.
#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzCheck.h"
#include "core/HexText.h"
#include "core/NumberSequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::Bytes(data, size);

  const std::string hex = station::TextToHex(bytes);
  FUZZ_CHECK(hex.size() == 2 * size);
  FUZZ_CHECK(station::HexToText(hex) == station::TrimControlAndBlank(bytes));

  try {
    FUZZ_CHECK(station::HexToText(bytes).size() <= size / 2);
  } catch (const std::invalid_argument&) {
  }

  // The digit values against the C++ library's own reading of hex.
  std::string digits;
  for (const char& c : bytes) {
    int value = -1;
    std::from_chars(&c, &c + 1, value, 16);
    FUZZ_CHECK(station::HexDigitValue(c) == value);
    if (value >= 0) digits.push_back(c);
  }
  station::SendBuffer buffer;
  const bool taken = station::FillSendBuffer(bytes, buffer);
  FUZZ_CHECK(buffer.length <= station::SendBufferSize);
  FUZZ_CHECK(taken == (digits.size() / 2 <= station::SendBufferSize));
  if (!taken) {
    FUZZ_CHECK(buffer.length == 0);
    return 0;
  }
  FUZZ_CHECK(buffer.length == digits.size() / 2);
  for (std::size_t k = 0; k < buffer.length; ++k) {
    FUZZ_CHECK(buffer.bytes[k] ==
               station::HexDigitValue(digits[2 * k]) * 16 + station::HexDigitValue(digits[2 * k + 1]));
  }
  return 0;
}
