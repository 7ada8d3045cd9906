#include "settings/SettingsLocation.h"

#include "settings/SafeWrite.h"
#include "settings/SettingsFile.h"

namespace settings {
namespace {

// Folders that the package manager owns: the program must never drop a file
// there, even when it runs as root and could.
bool IsSystemFolder(const std::filesystem::path& dir) {
  const std::string text = dir.lexically_normal().string();
  return text == "/usr" || text.rfind("/usr/", 0) == 0;
}

bool MayCreateIn(const std::filesystem::path& dir) { return !IsSystemFolder(dir) && FolderTakesNewFiles(dir); }

std::filesystem::path ConfigHome(const SettingsPlaces& places) {
  const std::filesystem::path xdg(places.xdgConfigHome);
  if (xdg.is_absolute()) return xdg;
  return places.home / ".config";
}

}  // namespace

std::filesystem::path ChooseSettingsPath(const SettingsPlaces& places) {
  const std::filesystem::path beside = places.executableDir / kSettingsFileName;
  std::error_code ec;
  const auto status = std::filesystem::status(beside, ec);
  if (std::filesystem::is_regular_file(status)) return beside;
  if (!std::filesystem::exists(status) && MayCreateIn(places.executableDir)) return beside;
  return ConfigHome(places) / "cardstation" / kSettingsFileName;
}

}  // namespace settings
