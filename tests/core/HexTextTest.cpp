#include "core/HexText.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using station::FillSendBuffer;
using station::HexToText;
using station::SendBuffer;
using station::SendBufferSize;
using station::TextToHex;

std::vector<int> BytesOf(const SendBuffer& buffer) {
  return {buffer.bytes.begin(), buffer.bytes.begin() + static_cast<std::ptrdiff_t>(buffer.length)};
}

TEST(TextToHex, TwoUppercaseDigitsPerByteIncludingHighBytes) {
  EXPECT_EQ(TextToHex(""), "");
  EXPECT_EQ(TextToHex("0099"), "30303939");
  EXPECT_EQ(TextToHex(std::string("\x0A\x3F\xD5", 3)), "0A3FD5");
  EXPECT_EQ(TextToHex(std::string(1, '\0')), "00");
}

TEST(HexToText, DecodesPairsAndTrimsBlanksAndControls) {
  struct Row {
    const char* name;
    std::string hex;
    std::string text;
  };
  const std::vector<Row> rows = {
      {"read reply loses ESC and FS", "1B7335353F1C", "s55?"},
      {"lowercase digits", "7270", "rp"},
      {"odd last digit ignored", "72703", "rp"},
      {"blank and controls both ends", "20091B72710D0A20", "rq"},
      {"inner blank kept", "3120093F", "1 \t?"},
      {"only controls", "1B1C1D", ""},
      {"empty", "", ""},
      {"byte above 127 is kept", "D5", "\xD5"},
  };
  for (const auto& row : rows) EXPECT_EQ(HexToText(row.hex), row.text) << row.name;
}

TEST(HexToText, RejectsPairThatIsNotHex) { EXPECT_THROW(HexToText("1G"), std::invalid_argument); }

TEST(FillSendBuffer, FiltersBeforePairing) {
  struct Row {
    const char* name;
    const char* command;
    std::vector<int> bytes;
  };
  const std::vector<Row> rows = {
      {"lowercase", "1b30", {0x1B, 0x30}},
      {"uppercase", "1B30", {0x1B, 0x30}},
      {"blank dropped", "1B 30", {0x1B, 0x30}},
      {"unpaired last digit dropped", "1B3", {0x1B}},
      {"G shifts the pairing", "1G30", {0x13}},
      {"empty", "", {}},
      {"no digits", "xyz, -", {}},
      {"commas and mixed case", "1d,1B,5c", {0x1D, 0x1B, 0x5C}},
  };
  for (const auto& row : rows) {
    SendBuffer buffer;
    ASSERT_TRUE(FillSendBuffer(row.command, buffer)) << row.name;
    EXPECT_EQ(BytesOf(buffer), row.bytes) << row.name;
  }
}

TEST(FillSendBuffer, AcceptsFullBufferAndRefusesOneByteMoreWhole) {
  SendBuffer buffer;
  const std::string full(SendBufferSize * 2, 'A');
  ASSERT_TRUE(FillSendBuffer(full, buffer));
  EXPECT_EQ(buffer.length, SendBufferSize);

  // The odd digit after a full buffer is dropped, not counted as a byte.
  ASSERT_TRUE(FillSendBuffer(full + "7", buffer));
  EXPECT_EQ(buffer.length, SendBufferSize);

  buffer.bytes.fill(0x55);
  EXPECT_FALSE(FillSendBuffer(full + "77", buffer));
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_EQ(buffer.bytes[0], 0x55) << "a refused command must not touch the buffer";
}

}  // namespace
