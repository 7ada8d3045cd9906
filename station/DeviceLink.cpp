#include "station/MainWindow.h"

void TForm1::SendHex(const std::string& /*command*/) {}

void TForm1::WaitOutputDrained() {}

bool TForm1::SendCommand(const std::string& /*command*/) { return false; }

void TForm1::ComPort1Trigger(TSerCustomComPort* /*CP*/, std::uint16_t /*Msg*/, std::uint16_t /*TriggerHandle*/,
                             std::uint16_t /*Data*/) {}

void TForm1::DispatchReply(const std::string& /*chunk*/) {}
