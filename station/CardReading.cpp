#include "station/MainWindow.h"

void TForm1::BitBtn1Click() {}

void TForm1::BuildReadCommand() {}

void TForm1::HandleReadReply(const std::string& /*chunk*/, std::int32_t /*tracks*/) {}
