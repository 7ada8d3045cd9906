#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "serial/OpenFailure.h"
#include "serial/Recorder.h"
#include "serial/SerialErrors.h"
#include "serial/SystemServices.h"

std::string SystemErrorText(int systemError) {
  // Asked for in UTF-16 and handed on in UTF-8, as every text of the program
  // is: the 8-bit form would be in the ANSI code page (GBK on a Chinese
  // Windows) and show as garbage.
  wchar_t text[512] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(systemError), 0, text, sizeof text / sizeof text[0] - 1, nullptr);
  if (n == 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::string DefaultDevicePath(uint16_t portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

std::string OperatingSystemDescription() {
  // GetVersionEx reports what the program's manifest claims; the kernel's own
  // call reports the real version.
  using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const auto get =
      ntdll != nullptr
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

// Written in place: the file system has no FIFOs to wait on here.
int WriteRecorderFile(const std::string& file, bool append, const std::string& text) {
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  std::FILE* f = std::fopen(file.c_str(), append && exists ? "ab" : "wb");
  if (f == nullptr) return CodeFromErrno(errno);
  int rc = 0;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    rc = CodeFromErrno(errno);
  }
  if (std::fclose(f) != 0 && rc == 0) rc = CodeFromErrno(errno);
  return rc;
}
