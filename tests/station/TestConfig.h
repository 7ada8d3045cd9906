#pragma once

#include <filesystem>
#include <string>

#include "station/StationConfig.h"

namespace station::testing_support {

// A station that reads no settings file: port com1 resolves to no device,
// lists and the settings file of com设定 go to folder, and there is no journal.
inline StationConfig OfflineConfig(const std::filesystem::path& folder) {
  StationConfig config;
  config.portName = [] { return std::string("com1"); };
  config.devicePath = [](std::uint16_t n) { return "/nonexistent/ttyS" + std::to_string(n); };
  config.listFolder = [folder] { return folder; };
  config.settingsPath = folder / "VavizEvu.ini";
  config.stationName = "test";
  return config;
}

}  // namespace station::testing_support
