#pragma once
// The start-up steps that differ by system, one file per platform
// (platform_xcb.cpp, platform_win32.cpp).

// True when the program would get no window on screen and should say so in
// one line instead of starting.
bool DisplayUnusable();

// Makes --help and --version print where the operator typed them: a Windows
// program without a console of its own writes to the console it was started
// from. Nothing to do elsewhere.
void UseStartingConsole();

// The --help line that shows how a port is tied to a device on this system.
const char* HelpPortsExample();
