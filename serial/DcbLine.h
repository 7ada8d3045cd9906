#pragma once
// Line settings to and from the Win32 driver's DCB, without touching a device.
// Only the Win32 device layer and its tests include this header (it brings
// <windows.h>).

#include <windows.h>

#include "serial/Dispatcher.h"

// Writes line's speed, frame, flow control and flow characters into dcb and
// leaves its other fields as they were; errors never abort the driver's I/O.
// Returns true when dcb got the stand-in characters XON 17 and XOFF 19 instead
// of line's: the driver refuses equal characters even while software flow is
// off, where they have no effect.
bool BuildDcbLine(const TSerLineSettings& line, DCB& dcb);

// Reads the line back from dcb into line.
void ReadDcbLine(const DCB& dcb, TSerLineSettings& line);
