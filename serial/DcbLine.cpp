#include "serial/DcbLine.h"

bool BuildDcbLine(const TSerLineSettings& line, DCB& dcb) {
  dcb.BaudRate = line.BaudRate;
  dcb.fBinary = line.Binary;
  dcb.fParity = line.ParityCheck;
  dcb.fOutxCtsFlow = line.OutxCtsFlow;
  dcb.fOutxDsrFlow = line.OutxDsrFlow;
  dcb.fDtrControl = line.DtrControl;
  dcb.fDsrSensitivity = line.DsrSensitivity;
  dcb.fTXContinueOnXoff = line.TxContinueOnXoff;
  dcb.fOutX = line.OutX;
  dcb.fInX = line.InX;
  dcb.fNull = line.NullStrip;
  dcb.fRtsControl = line.RtsControl;
  dcb.fAbortOnError = FALSE;
  dcb.XonLim = line.XonLim;
  dcb.XoffLim = line.XoffLim;
  dcb.ByteSize = line.ByteSize;
  dcb.Parity = line.Parity;
  dcb.StopBits = line.StopBits;
  const bool standIn = line.XonChar == line.XoffChar && !line.OutX && !line.InX;
  dcb.XonChar = static_cast<char>(standIn ? 17 : line.XonChar);
  dcb.XoffChar = static_cast<char>(standIn ? 19 : line.XoffChar);
  return standIn;
}

void ReadDcbLine(const DCB& dcb, TSerLineSettings& line) {
  line.BaudRate = dcb.BaudRate;
  line.Binary = dcb.fBinary;
  line.ParityCheck = dcb.fParity;
  line.OutxCtsFlow = dcb.fOutxCtsFlow;
  line.OutxDsrFlow = dcb.fOutxDsrFlow;
  line.DtrControl = static_cast<TDtrControl>(dcb.fDtrControl);
  line.DsrSensitivity = dcb.fDsrSensitivity;
  line.TxContinueOnXoff = dcb.fTXContinueOnXoff;
  line.OutX = dcb.fOutX;
  line.InX = dcb.fInX;
  line.NullStrip = dcb.fNull;
  line.RtsControl = static_cast<TRtsControl>(dcb.fRtsControl);
  line.XonLim = dcb.XonLim;
  line.XoffLim = dcb.XoffLim;
  line.ByteSize = dcb.ByteSize;
  line.Parity = dcb.Parity;
  line.StopBits = dcb.StopBits;
  line.XonChar = static_cast<uint8_t>(dcb.XonChar);
  line.XoffChar = static_cast<uint8_t>(dcb.XoffChar);
}
