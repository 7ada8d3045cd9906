#include "serial/TermiosLine.h"

#include <cerrno>

#include "serial/SerialCommon.h"

namespace {

struct TBaudEntry {
  uint32_t Baud;
  speed_t Code;
};
constexpr TBaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

bool BaudToCode(uint32_t baud, speed_t& code) {
  for (const auto& e : kBauds)
    if (e.Baud == baud) {
      code = e.Code;
      return true;
    }
  return false;
}

uint32_t CodeToBaud(speed_t code) {
  for (const auto& e : kBauds)
    if (e.Code == code) return e.Baud;
  return 0;
}

int BuildTermiosLine(const TSerLineSettings& line, bool pty, termios& tio) {
  speed_t code;
  if (!BaudToCode(line.BaudRate, code)) return EINVAL;
  // Equal characters are harmless while software flow is off (the card station
  // stores 0xFF for both); with it on they would stall the line.
  if ((line.OutX || line.InX) && line.XonChar == line.XoffChar) return EINVAL;
  ::cfsetispeed(&tio, code);
  ::cfsetospeed(&tio, code);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  // A pseudo-terminal has no wire: its driver forces 8 data bits and no parity
  // (the C library then reports the dropped setting as an invalid argument).
  switch (pty ? 8 : line.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  switch (pty ? static_cast<uint8_t>(pNone) : line.Parity) {
    case pOdd: tio.c_cflag |= PARENB | PARODD; break;
    case pEven: tio.c_cflag |= PARENB; break;
    case pMark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case pSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // termios knows no one and a half stop bits; two is the nearest.
  if (line.StopBits != 0) tio.c_cflag |= CSTOPB;
  // CRTSCTS covers both directions: CTS gates our output, RTS signals our input.
  if (line.OutxCtsFlow || line.RtsControl == rtsHandshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (line.OutX) tio.c_iflag |= IXON;
  if (line.InX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = line.XonChar;
  tio.c_cc[VSTOP] = line.XoffChar;
  return 0;
}

void ReadTermiosLine(const termios& tio, TSerLineSettings& line) {
  const uint32_t baud = CodeToBaud(::cfgetospeed(&tio));
  if (baud != 0) line.BaudRate = baud;
  switch (tio.c_cflag & CSIZE) {
    case CS5: line.ByteSize = 5; break;
    case CS6: line.ByteSize = 6; break;
    case CS7: line.ByteSize = 7; break;
    default: line.ByteSize = 8; break;
  }
  if (!(tio.c_cflag & PARENB)) line.Parity = pNone;
  else if (tio.c_cflag & CMSPAR) line.Parity = (tio.c_cflag & PARODD) ? pMark : pSpace;
  else line.Parity = (tio.c_cflag & PARODD) ? pOdd : pEven;
  if (!(tio.c_cflag & CSTOPB)) line.StopBits = 0;
  else if (line.StopBits == 0) line.StopBits = 2;
  line.OutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  line.OutX = (tio.c_iflag & IXON) != 0;
  line.InX = (tio.c_iflag & IXOFF) != 0;
  line.XonChar = tio.c_cc[VSTART];
  line.XoffChar = tio.c_cc[VSTOP];
}
