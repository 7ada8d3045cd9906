#include "core/HexText.h"

#include <stdexcept>

namespace station {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string TextToHex(std::string_view text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(text.size() * 2);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 0x0F]);
  }
  return hex;
}

std::string HexToText(std::string_view hex) {
  std::string text;
  text.reserve(hex.size() / 2);
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    const int high = HexDigitValue(hex[k]);
    const int low = HexDigitValue(hex[k + 1]);
    if (high < 0 || low < 0) {
      throw std::invalid_argument("'" + std::string(hex.substr(k, 2)) + "' is not a valid hex pair");
    }
    text.push_back(static_cast<char>(high * 16 + low));
  }
  std::size_t first = 0;
  while (first < text.size() && IsBlankOrControl(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool FillSendBuffer(std::string_view command, SendBuffer& out) {
  out.length = 0;
  std::size_t digitCount = 0;
  for (char c : command) {
    if (HexDigitValue(c) >= 0) ++digitCount;
  }
  if (digitCount / 2 > SendBufferSize) return false;

  int pending = -1;
  for (char c : command) {
    const int value = HexDigitValue(c);
    if (value < 0) continue;
    if (pending < 0) {
      pending = value;
    } else {
      out.bytes[out.length++] = static_cast<std::uint8_t>(pending * 16 + value);
      pending = -1;
    }
  }
  return true;
}

}  // namespace station
