#include "station/MainWindow.h"

void TForm1::ToolButton5Click() {}

void TForm1::ToolButton6Click() {}

void TForm1::ToolButton3Click() {}

void TForm1::ToolButton4Click() {}

void TForm1::OpenPort() {}

void TForm1::OpenTimerTimer() {}
