#include "settings/SettingsLocation.h"

#include "settings/SafeWrite.h"
#include "settings/SettingsFile.h"

namespace settings {
namespace {

// Folders that the package manager owns: the program must never drop a file
// there, even when it runs as root and could.
bool IsSystemFolder(const std::filesystem::path& dir) {
  // Compared as UTF-8: a Windows folder with a Chinese name has no 8-bit form
  // in every code page.
  const std::u8string text = dir.lexically_normal().generic_u8string();
  return text == u8"/usr" || text.starts_with(u8"/usr/");
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

std::filesystem::path ChooseListFolder(const std::filesystem::path& driveRoot, const std::filesystem::path& documents) {
  if (FolderTakesNewFiles(driveRoot)) return driveRoot;
  const std::filesystem::path folder = documents / std::filesystem::path(u8"磁卡写卡记录");
  // A folder that cannot be made shows in the save's own error, which names it.
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

}  // namespace settings
