#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

// Folder of the running executable, asked of the system (not taken from the
// command line) so that the settings file is the same whatever the current
// working folder is.
std::filesystem::path ExecutableDir();

// The settings file of this process; see ChooseSettingsPath for the rules on
// Linux. On Windows it is VavizEvu.ini beside the executable.
// Decided afresh at every call, so a file created meanwhile is found.
std::filesystem::path SettingsPath();

// The text of a failed save, naming the file by its full path.
std::string WriteFailureText(const std::filesystem::path& path);

// One key to set: section, key and the new value.
struct SettingsChange {
  std::string section;
  std::string key;
  std::string value;
};

// Reads and writes keys of an initialisation file ("[Section]" lines followed
// by "key=value" lines). Section and key names match without regard to ASCII
// case. A write rewrites only the one line it changes (or adds the lines it
// needs); every other byte of the file stays as it was, line endings and a
// leading byte-order mark included. The file is read afresh by every call, so
// two accessors on one file see each other's writes. Anything at the path that
// is not a regular file reads as no file.
class SettingsFile {
 public:
  // Longest value ReadString returns; longer values are cut to this length.
  static constexpr std::size_t kMaxValueLength = 2047;

  explicit SettingsFile(std::filesystem::path path);

  // The value of key in section, with blanks around it removed and one pair of
  // matching quotes stripped; def when the file, the section or the key is
  // missing or unreadable.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;

  // Sets key in section to value, creating the file, the section or the key as
  // needed, its folder included (readable by this user alone). The new contents
  // go into a new file that is renamed over the old one, keeping its owner
  // and mode; when the folder takes no new file, or a rename would lose a
  // hard link or the owner, the file is rewritten in place (RewriteInPlace). Throws
  // std::runtime_error(WriteFailureText(path)) when the file cannot be read or
  // written, leaving it as it was, and std::invalid_argument for names or values
  // that cannot be stored on one line.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Sets several keys in one save: one new file and one rename (or one
  // rewrite in place), so the file holds all the changes or none of them.
  // A save that changes nothing leaves the file untouched. Throws as
  // WriteString does.
  void Write(const std::vector<SettingsChange>& changes);

  const std::filesystem::path& Path() const;

 private:
  std::filesystem::path path_;
};

// Device path for port number n (COMn): the value of key "COMn" in section
// "Ports" of SettingsPath() (or of file), else the system's own name for COMn
// (/dev/ttyS(n-1); on Windows the port itself, \\.\COMn). Empty for n < 1.
std::string DevicePathForPort(int portNumber);
std::string DevicePathForPort(int portNumber, const SettingsFile& file);

// "COMn", the key of port n in section "Ports".
std::string PortKey(int portNumber);

// The field-diagnosis switches of section "Diagnostics": Trace=1 and Log=1 turn
// on the serial trace and log recorders, whose files go to folder, the settings
// file's own folder.
struct Diagnostics {
  bool trace = false;
  bool log = false;
  std::filesystem::path folder;
};
Diagnostics ReadDiagnostics(const std::filesystem::path& settingsPath);

// The folder that stands for the root of drive C: key "C" in section "Drives"
// of SettingsPath() (or of file), else DefaultDriveCFolder().
std::filesystem::path DriveCFolder();
std::filesystem::path DriveCFolder(const SettingsFile& file);

}  // namespace settings
