#include <windows.h>

#include "serial/OpenFailure.h"
#include "serial/Recorder.h"
#include "serial/SystemServices.h"

std::string SystemErrorText(int systemError) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(systemError), 0, text, sizeof text - 1, nullptr);
  return std::string(text, n);
}

std::string DefaultDevicePath(uint16_t portNumber) {
  return "\\\\.\\COM" + std::to_string(portNumber);
}

std::string OperatingSystemDescription() {
  // GetVersionEx reports what the program's manifest claims; the kernel's own
  // call reports the real version.
  using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const auto get = ntdll != nullptr
                       ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                       : nullptr;
  if (get == nullptr || get(&info) != 0) return "Windows";
  return "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + " build " +
         std::to_string(info.dwBuildNumber);
}

bool FindDeviceHolder(const std::string&, int&, std::string&) {
  // Windows tells no user-mode program which process holds a COM port.
  return false;
}
