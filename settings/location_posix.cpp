// Where the program and its settings are on Linux and other POSIX systems.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

namespace settings {

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path();
  return exe.parent_path();
}

std::filesystem::path SettingsPath() { return ChooseSettingsPath(CurrentSettingsPlaces()); }

SettingsPlaces CurrentSettingsPlaces() {
  SettingsPlaces places;
  places.executableDir = ExecutableDir();
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr) places.xdgConfigHome = xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    places.home = home;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    places.home = pw->pw_dir;
  } else {
    places.home = "/";
  }
  return places;
}

// A POSIX system has no drive C; the home folder is where the operator looks.
std::filesystem::path DefaultDriveCFolder() { return CurrentSettingsPlaces().home; }

}  // namespace settings
