// Where the program and its settings are on Windows: the settings file always
// lives beside the executable, and drive C is the real one.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

namespace settings {

std::filesystem::path ExecutableDir() {
  // A path longer than MAX_PATH is cut to the buffer without an error code of
  // its own, so the buffer grows until the whole name fits.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::filesystem::current_path();
    if (n < name.size()) {
      name.resize(n);
      return std::filesystem::path(name).parent_path();
    }
    name.resize(name.size() * 2);
  }
}

// A program folder the operator cannot write makes "保存" fail with the file's
// name, which tells where the settings are looked for.
std::filesystem::path SettingsPath() { return ExecutableDir() / kSettingsFileName; }

SettingsPlaces CurrentSettingsPlaces() {
  SettingsPlaces places;
  places.executableDir = ExecutableDir();
  if (const wchar_t* profile = ::_wgetenv(L"USERPROFILE"); profile != nullptr && *profile != L'\0') {
    places.home = profile;
  } else {
    places.home = DefaultDriveCFolder();
  }
  return places;
}

std::filesystem::path DefaultDriveCFolder() { return std::filesystem::path(L"C:\\"); }

}  // namespace settings
