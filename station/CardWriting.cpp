#include "station/MainWindow.h"

void TForm1::BitBtn3Click() {}

void TForm1::BuildWriteCommand() {}

void TForm1::BuildFileWriteCommand() {}

void TForm1::HandleWriteReply(const std::string& /*chunk*/) {}

void TForm1::HandleFileWriteReply(const std::string& /*chunk*/) {}
