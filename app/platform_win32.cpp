#include <windows.h>

#include <cstdio>

#include "Platform.h"

// Every Windows session has a desktop to draw on.
DisplayCheck CheckDisplay() { return {}; }

void UseStartingConsole() {
  // Output sent to a file or a pipe already has its handle.
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  // The console prints UTF-8 as written.
  ::SetConsoleOutputCP(CP_UTF8);
  FILE* ignored = nullptr;
  ::freopen_s(&ignored, "CONOUT$", "w", stdout);
  ::freopen_s(&ignored, "CONOUT$", "w", stderr);
}

// COMn is the port itself on Windows; an entry is needed only for a port the
// settings' COM1 ... COM8 do not reach.
const char* HelpPortsExample() {
  return "  [Ports] COM1=\\\\.\\COM12                端口对应的设备（COM1 改用 COM12）\n";
}
