#include <windows.h>

#include <cstdio>

#include "Platform.h"

// Every Windows session has a desktop to draw on.
bool DisplayUnusable() { return false; }

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
