#include "serial/DcbLine.h"

#include <gtest/gtest.h>

namespace {

// Every field of the line lands in the DCB and reads back unchanged.
TEST(DcbLine, ReadBackGivesTheSameLine) {
  TSerLineSettings line;
  line.BaudRate = 57600;
  line.OutxCtsFlow = true;
  line.DtrControl = dtrHandshake;
  line.RtsControl = rtsToggle;
  line.OutX = true;
  line.XonLim = 100;
  line.XoffLim = 200;
  line.ByteSize = 7;
  line.Parity = pMark;
  line.StopBits = 2;
  line.XonChar = 0x11;
  line.XoffChar = 0x13;
  DCB dcb{};
  dcb.fAbortOnError = TRUE;
  EXPECT_FALSE(BuildDcbLine(line, dcb));
  EXPECT_FALSE(dcb.fAbortOnError);
  TSerLineSettings back;
  back.BaudRate = 0;
  ReadDcbLine(dcb, back);
  EXPECT_EQ(back, line);
}

// Equal flow characters reach the driver as stand-ins only while software flow
// is off; with it on they go through as they are.
TEST(DcbLine, EqualFlowCharactersGetStandInsOnlyWithoutSoftwareFlow) {
  TSerLineSettings line;
  line.XonChar = line.XoffChar = 0xFF;
  DCB dcb{};
  EXPECT_TRUE(BuildDcbLine(line, dcb));
  EXPECT_EQ(static_cast<uint8_t>(dcb.XonChar), 17);
  EXPECT_EQ(static_cast<uint8_t>(dcb.XoffChar), 19);
  line.InX = true;
  EXPECT_FALSE(BuildDcbLine(line, dcb));
  EXPECT_EQ(static_cast<uint8_t>(dcb.XonChar), 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(dcb.XoffChar), 0xFF);
}

}  // namespace
