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

int WriteRecorderFile(const std::string& file, bool append, const std::string& text) {
  // What stands under the name is looked at before anything is opened: only a
  // regular file is read or replaced.
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status there = fs::symlink_status(file, ec);
  const bool exists = fs::exists(there);
  if (exists && fs::is_directory(there)) return CodeFromErrno(EISDIR);
  if (exists && !fs::is_regular_file(there)) return CodeFromErrno(EEXIST);

  std::string contents;
  if (append && exists) {
    std::FILE* old = std::fopen(file.c_str(), "rb");
    if (old == nullptr) return CodeFromErrno(errno);
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, old)) > 0;) contents.append(buffer, n);
    const bool failed = std::ferror(old) != 0;
    std::fclose(old);
    if (failed) return CodeFromErrno(EIO);
  }
  contents += text;

  // Written whole into a file beside it, then put in its place: a full disk
  // shows itself while the old file is still whole.
  const std::string temp = file + ".new";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return CodeFromErrno(errno);
  int rc = 0;
  if (!contents.empty() && std::fwrite(contents.data(), 1, contents.size(), f) != contents.size()) {
    rc = CodeFromErrno(errno);
  }
  if (rc == 0 && std::fflush(f) != 0) rc = CodeFromErrno(errno);
  if (std::fclose(f) != 0 && rc == 0) rc = CodeFromErrno(errno);
  if (rc == 0 && !::MoveFileExA(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    rc = CodeFromWin32Error(::GetLastError());
  }
  if (rc != 0) std::remove(temp.c_str());
  return rc;
}
