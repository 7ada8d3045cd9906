#pragma once

#include <filesystem>
#include <string>

namespace settings {

inline constexpr char kSettingsFileName[] = "VavizEvu.ini";

// Where the settings file lives on Linux (on Windows it is always beside the
// executable: SettingsPath). The file beside the executable wins when it is
// a regular file, or when there is none yet and the program may create one
// there: a copy unpacked into a folder of its own keeps its settings with it.
// An installed program (under /usr) or one in a folder this user cannot write
// uses <config home>/cardstation/VavizEvu.ini instead, created on the first
// save. The config home is $XDG_CONFIG_HOME when it is an absolute path, else
// <home>/.config.
struct SettingsPlaces {
  std::filesystem::path executableDir;
  std::filesystem::path xdgConfigHome;  // the variable's value, empty when unset (Windows: %APPDATA%)
  std::filesystem::path home;
};

std::filesystem::path ChooseSettingsPath(const SettingsPlaces& places);

// The places of this process: the executable's folder, $XDG_CONFIG_HOME, and
// $HOME (or the password entry's home folder; on Windows the user's profile).
SettingsPlaces CurrentSettingsPlaces();

// The folder saved lists go to when no folder stands for drive C: the user's
// home folder, or on Windows the real C:\.
std::filesystem::path DefaultDriveCFolder();

// The folder saved lists go to when no setting names one: driveRoot when it
// takes a new file, else <documents>/磁卡写卡记录 (created here), where a user
// who may not write to the root of drive C can still keep lists.
std::filesystem::path ChooseListFolder(const std::filesystem::path& driveRoot, const std::filesystem::path& documents);

}  // namespace settings
