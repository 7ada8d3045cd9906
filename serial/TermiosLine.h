#pragma once
// Line settings to termios flags, without touching a device. Only the POSIX
// device layer and its tests include this header (it brings <termios.h>).

#include <termios.h>

#include <cstdint>

#include "serial/Dispatcher.h"

// The speed code of a baud rate; false for a rate termios has no code for.
bool BaudToCode(uint32_t baud, speed_t& code);
// The baud rate of a speed code, 0 for an unknown code.
uint32_t CodeToBaud(speed_t code);

// Writes the line's speed, frame and flow control into tio and leaves the
// other flags as they were. On a pseudo-terminal the frame stays 8 data bits
// without parity: its driver refuses anything else. Returns 0, or EINVAL for
// a rate without a code or for equal XON and XOFF characters while software
// flow is on (which would stall the line).
int BuildTermiosLine(const TSerLineSettings& line, bool pty, termios& tio);

// Reads the line's speed, frame and flow control back from tio into line and
// leaves its other fields as they were. A speed without a known rate keeps the
// line's rate; two stop bits keep one and a half when the line had that.
void ReadTermiosLine(const termios& tio, TSerLineSettings& line);
