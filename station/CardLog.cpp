#include "station/MainWindow.h"

void TForm1::SpeedButton1Click() {}
