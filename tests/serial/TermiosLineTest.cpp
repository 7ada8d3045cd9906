#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "serial/SerialCommon.h"
#include "serial/TermiosLine.h"

namespace {

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kSoftFlowBits = IXON | IXOFF | IXANY;

struct FlagRow {
  std::string name;
  void (*adjust)(TSerLineSettings&);
  bool pty;
  tcflag_t cflag;  // the frame bits expected, within kFrameBits
  tcflag_t iflag;  // the software flow bits expected, within kSoftFlowBits
};

class TermiosFlags : public testing::TestWithParam<FlagRow> {};

TEST_P(TermiosFlags, SetExactlyTheFrameAndFlowBitsOfTheLine) {
  const FlagRow& row = GetParam();
  TSerLineSettings line;
  row.adjust(line);
  // Leftovers of an earlier setting must go; unrelated flags must stay.
  termios tio{};
  tio.c_cflag = CLOCAL | CREAD | CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  tio.c_iflag = IGNBRK | IXON | IXOFF | IXANY;
  ASSERT_EQ(BuildTermiosLine(line, row.pty, tio), 0);
  EXPECT_EQ(tio.c_cflag & kFrameBits, row.cflag);
  EXPECT_EQ(tio.c_iflag & kSoftFlowBits, row.iflag);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & IGNBRK, tcflag_t(IGNBRK));
}

const FlagRow kFlagRows[] = {
    {"PlainLine", [](TSerLineSettings&) {}, false, CS8, 0},
    {"OddParity", [](TSerLineSettings& l) { l.Parity = pOdd; }, false, CS8 | PARENB | PARODD, 0},
    {"EvenParity", [](TSerLineSettings& l) { l.Parity = pEven; }, false, CS8 | PARENB, 0},
    {"MarkParity", [](TSerLineSettings& l) { l.Parity = pMark; }, false, CS8 | PARENB | CMSPAR | PARODD, 0},
    {"SpaceParity", [](TSerLineSettings& l) { l.Parity = pSpace; }, false, CS8 | PARENB | CMSPAR, 0},
    {"SevenDataBits", [](TSerLineSettings& l) { l.ByteSize = 7; }, false, CS7, 0},
    {"SixDataBits", [](TSerLineSettings& l) { l.ByteSize = 6; }, false, CS6, 0},
    {"FiveDataBits", [](TSerLineSettings& l) { l.ByteSize = 5; }, false, CS5, 0},
    {"TwoStopBits", [](TSerLineSettings& l) { l.StopBits = 2; }, false, CS8 | CSTOPB, 0},
    {"OneAndAHalfStopBitsBecomeTwo", [](TSerLineSettings& l) { l.StopBits = 1; }, false, CS8 | CSTOPB, 0},
    {"XonXoffOnOutputOnly", [](TSerLineSettings& l) { l.OutX = true; }, false, CS8, IXON},
    {"XonXoffOnInputOnly", [](TSerLineSettings& l) { l.InX = true; }, false, CS8, IXOFF},
    {"XonXoffBothWays", [](TSerLineSettings& l) { l.OutX = l.InX = true; }, false, CS8, IXON | IXOFF},
    {"CtsGatesOutput", [](TSerLineSettings& l) { l.OutxCtsFlow = true; }, false, CS8 | CRTSCTS, 0},
    {"RtsHandshake", [](TSerLineSettings& l) { l.RtsControl = rtsHandshake; }, false, CS8 | CRTSCTS, 0},
    {"RtsMerelyOnIsNoFlowControl", [](TSerLineSettings& l) { l.RtsControl = rtsEnable; }, false, CS8, 0},
    {"PseudoTerminalKeepsEightBitsWithoutParity",
     [](TSerLineSettings& l) {
       l.ByteSize = 7;
       l.Parity = pEven;
       l.StopBits = 2;
       l.InX = true;
     },
     true, CS8 | CSTOPB, IXOFF},
};

INSTANTIATE_TEST_SUITE_P(Rows, TermiosFlags, testing::ValuesIn(kFlagRows),
                         [](const testing::TestParamInfo<FlagRow>& info) { return info.param.name; });

// What a line wrote into termios reads back as the same line.
TEST_P(TermiosFlags, ReadBackGivesTheSameLine) {
  const FlagRow& row = GetParam();
  if (row.pty) GTEST_SKIP() << "a pseudo-terminal's frame is kept beside termios";
  TSerLineSettings line;
  row.adjust(line);
  termios tio{};
  ASSERT_EQ(BuildTermiosLine(line, false, tio), 0);
  TSerLineSettings back;
  back.BaudRate = 0;
  back.ByteSize = 0;
  back.Parity = 0xFF;
  back.XonChar = back.XoffChar = 0;
  // Two stop bits read as two, unless the line asked for one and a half.
  back.StopBits = line.StopBits == 1 ? 1 : 0;
  ReadTermiosLine(tio, back);
  EXPECT_EQ(back.BaudRate, line.BaudRate);
  EXPECT_EQ(back.ByteSize, line.ByteSize);
  EXPECT_EQ(back.Parity, line.Parity);
  EXPECT_EQ(back.StopBits, line.StopBits);
  EXPECT_EQ(back.OutX, line.OutX);
  EXPECT_EQ(back.InX, line.InX);
  EXPECT_EQ(back.OutxCtsFlow, (row.cflag & CRTSCTS) != 0);
  EXPECT_EQ(back.XonChar, line.XonChar);
  EXPECT_EQ(back.XoffChar, line.XoffChar);
}

TEST(TermiosLine, SpeedAndFlowCharactersAreTheLines) {
  TSerLineSettings line;
  line.BaudRate = 19200;
  line.XonChar = 0x11;
  line.XoffChar = 0x13;
  termios tio{};
  ASSERT_EQ(BuildTermiosLine(line, false, tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), speed_t(B19200));
  EXPECT_EQ(::cfgetispeed(&tio), speed_t(B19200));
  EXPECT_EQ(CodeToBaud(::cfgetospeed(&tio)), 19200u);
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
}

TEST(TermiosLine, RefusesWhatTheLineCannotRunAndLeavesTheSettingsAlone) {
  struct Row {
    const char* name;
    void (*adjust)(TSerLineSettings&);
    int result;
  } rows[] = {
      {"rate without a code", [](TSerLineSettings& l) { l.BaudRate = 12345; }, EINVAL},
      {"equal flow characters with XON/XOFF out",
       [](TSerLineSettings& l) {
         l.OutX = true;
         l.XonChar = l.XoffChar = 0xFF;
       },
       EINVAL},
      {"equal flow characters with XON/XOFF in",
       [](TSerLineSettings& l) {
         l.InX = true;
         l.XonChar = l.XoffChar = 0xFF;
       },
       EINVAL},
      {"equal flow characters without software flow", [](TSerLineSettings& l) { l.XonChar = l.XoffChar = 0xFF; }, 0},
  };
  for (const Row& row : rows) {
    TSerLineSettings line;
    row.adjust(line);
    termios tio{};
    tio.c_cflag = CS7 | PARENB;
    EXPECT_EQ(BuildTermiosLine(line, false, tio), row.result) << row.name;
    if (row.result != 0) {
      EXPECT_EQ(tio.c_cflag, tcflag_t(CS7 | PARENB)) << row.name;
    }
  }
}

}  // namespace
