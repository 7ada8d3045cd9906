// Where the program and its settings are on Windows. A copy unpacked into a
// folder of its own keeps its settings beside the executable; an installed one
// (Program Files, which a normal user cannot write) keeps them in
// %APPDATA%\cardstation. Saved lists go to the real C:\, or to the user's
// Documents folder when the root of drive C takes no new file.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "settings/SafeWrite.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

namespace settings {
namespace {

std::filesystem::path KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR text = nullptr;
  std::filesystem::path folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &text)) && text != nullptr) folder = text;
  // Freed whether or not the call succeeded.
  ::CoTaskMemFree(text);
  return folder;
}

std::filesystem::path Environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

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

std::filesystem::path SettingsPath() {
  const std::filesystem::path path = ChooseSettingsPath(CurrentSettingsPlaces());
  // The journal and the serial recorders keep their files beside the settings
  // from the first start on, before any save has created the folder.
  if (path.parent_path() != ExecutableDir()) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
  }
  return path;
}

SettingsPlaces CurrentSettingsPlaces() {
  SettingsPlaces places;
  places.executableDir = ExecutableDir();
  // The roaming application data folder (%APPDATA%) plays the part of the
  // config home: the settings' own folder is <it>\cardstation.
  std::filesystem::path appData = KnownFolder(FOLDERID_RoamingAppData);
  if (appData.empty()) appData = Environment(L"APPDATA");
  if (appData.is_absolute()) places.xdgConfigHome = appData;
  places.home = Environment(L"USERPROFILE");
  if (places.home.empty()) places.home = std::filesystem::path(L"C:\\");
  if (places.xdgConfigHome.empty()) places.xdgConfigHome = places.home / L"AppData" / L"Roaming";
  return places;
}

std::filesystem::path DefaultDriveCFolder() {
  std::filesystem::path documents = KnownFolder(FOLDERID_Documents);
  if (documents.empty()) documents = CurrentSettingsPlaces().home / L"Documents";
  return ChooseListFolder(std::filesystem::path(L"C:\\"), documents);
}

}  // namespace settings
