#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "settings/SettingsFile.h"
#include "station/DeviceLink.h"

// What the station takes from outside, asked at each use so that a change to
// the stored settings takes effect at the next open or save.
struct StationConfig {
  std::function<std::string()> portName;                 // e.g. "com1"
  std::function<std::string(std::uint16_t)> devicePath;  // port number -> device
  std::function<std::filesystem::path()> listFolder;     // where saved lists go
  // The field-diagnosis switches, read before each open; unset: recorders off.
  std::function<settings::Diagnostics()> diagnostics;
  // The settings file that com设定 edits.
  std::filesystem::path settingsPath;
  // The card journal's folder, read once at start; empty: no journal.
  std::filesystem::path journalFolder;
  std::string stationName;     // as the journal names this station
  bool duplicateCheck = true;  // ask before writing a number written before
  // The journal's server as a PostgreSQL URI; empty: the file in journalFolder.
  std::string database;
  StationTimings timings;
  // All from the settings file in use; the journal lies beside it.
  static StationConfig FromSettingsFile();
};
