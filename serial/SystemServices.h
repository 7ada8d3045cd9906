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

// Writes a recorder's text into file, replacing the file or, with append and
// an existing file, adding to it; 0, or the result code of the failing step.
// On POSIX systems the text goes into a temporary file beside it that is
// renamed over it only once it is complete on disk, so a full disk leaves the
// old file as it was; a folder under the name gives EISDIR's code, and any
// other file that is not a regular one (a FIFO, a device, a link) EEXIST's,
// without being opened: a FIFO would wait for a reader. Main thread.
int WriteRecorderFile(const std::string& file, bool append, const std::string& text);
