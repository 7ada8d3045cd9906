#include "serial/DcbLine.h"

// The fields the line and the DCB share, as (DCB field, line field): one list
// serves both directions.
// clang-format off
#define SER_DCB_LINE_FIELDS(X)                                                                         \
  X(BaudRate, BaudRate) X(fBinary, Binary) X(fParity, ParityCheck) X(fOutxCtsFlow, OutxCtsFlow)        \
  X(fOutxDsrFlow, OutxDsrFlow) X(fDtrControl, DtrControl) X(fDsrSensitivity, DsrSensitivity)           \
  X(fTXContinueOnXoff, TxContinueOnXoff) X(fOutX, OutX) X(fInX, InX) X(fNull, NullStrip)               \
  X(fRtsControl, RtsControl) X(XonLim, XonLim) X(XoffLim, XoffLim) X(ByteSize, ByteSize)               \
  X(Parity, Parity) X(StopBits, StopBits)
// clang-format on

bool BuildDcbLine(const TSerLineSettings& line, DCB& dcb) {
#define SER_TO_DCB(dcbField, lineField) dcb.dcbField = line.lineField;
  SER_DCB_LINE_FIELDS(SER_TO_DCB)
#undef SER_TO_DCB
  dcb.fAbortOnError = FALSE;
  const bool standIn = line.XonChar == line.XoffChar && !line.OutX && !line.InX;
  dcb.XonChar = static_cast<char>(standIn ? 17 : line.XonChar);
  dcb.XoffChar = static_cast<char>(standIn ? 19 : line.XoffChar);
  return standIn;
}

void ReadDcbLine(const DCB& dcb, TSerLineSettings& line) {
#define SER_FROM_DCB(dcbField, lineField) line.lineField = static_cast<decltype(line.lineField)>(dcb.dcbField);
  SER_DCB_LINE_FIELDS(SER_FROM_DCB)
#undef SER_FROM_DCB
  line.XonChar = static_cast<uint8_t>(dcb.XonChar);
  line.XoffChar = static_cast<uint8_t>(dcb.XoffChar);
}
