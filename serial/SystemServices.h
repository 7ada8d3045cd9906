#pragma once
// The few services of the serial layer that differ by operating system, one
// implementation per platform (system_posix.cpp, system_win32.cpp).
// OperatingSystemDescription (Recorder.h) is implemented there too.

#include <cstdint>
#include <string>

// The operating system's own text for one of its error numbers (errno, or a Win32
// error on Windows), untidied; empty when it has none. Any thread.
std::string SystemErrorText(int systemError);

// The device path of port number n when nothing else is configured: "\\.\COMn"
// on Windows, /dev/ttyS(n-1) elsewhere.
std::string DefaultDevicePath(uint16_t portNumber);
