#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Hex command texts: every device command is held as pairs of hex digits and
// turned into bytes only when it is sent. Texts here are byte strings.
namespace station {

// The value of a hex digit of either case; -1 for any other character.
int HexDigitValue(char c);

// Each byte becomes two uppercase hex digits ("0" -> "30").
std::string TextToHex(std::string_view text);

// Each pair of hex digits becomes one byte; a last unpaired digit is ignored.
// The result loses leading and trailing bytes of code 32 or below, so a
// decoded reply drops its leading ESC and trailing FS.
// Throws std::invalid_argument for a pair that is not hex.
std::string HexToText(std::string_view hex);

inline constexpr std::size_t SendBufferSize = 301;

struct SendBuffer {
  std::array<std::uint8_t, SendBufferSize> bytes{};
  std::size_t length = 0;
};

// Keeps only the hex digits of the command (before pairing, so a dropped
// character shifts every later pair), drops a last unpaired digit and puts the
// bytes into out. A command of more than SendBufferSize bytes is refused whole:
// returns false with out.length 0, so nothing is ever written past the buffer.
bool FillSendBuffer(std::string_view command, SendBuffer& out);

}  // namespace station
