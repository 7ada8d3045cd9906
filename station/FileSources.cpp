#include "station/MainWindow.h"

void TForm1::tk2SbClick() {}

void TForm1::tk3SbClick() {}
