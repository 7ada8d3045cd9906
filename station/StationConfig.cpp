#include "station/StationConfig.h"

#include "journal/Journal.h"

StationConfig StationConfig::FromSettingsFile() {
  StationConfig config;
  config.portName = [] {
    return settings::SettingsFile(settings::SettingsPath()).ReadString("Settings", "comname", "com1");
  };
  config.devicePath = [](std::uint16_t portNumber) { return settings::DevicePathForPort(portNumber); };
  config.listFolder = [] { return settings::DriveCFolder(); };
  const std::filesystem::path settingsPath = settings::SettingsPath();
  const settings::SettingsFile file(settingsPath);
  config.journalFolder = settingsPath.parent_path().empty() ? std::filesystem::path(".") : settingsPath.parent_path();
  config.stationName = file.ReadString("Journal", "Station", "");
  if (config.stationName.empty()) config.stationName = journal::DefaultStationName().toStdString();
  config.duplicateCheck = file.ReadString("Journal", "DuplicateCheck", "1") != "0";
  config.database = file.ReadString("Journal", "Database", "");
  config.diagnostics = [] { return settings::ReadDiagnostics(settings::SettingsPath()); };
  config.settingsPath = settingsPath;
  return config;
}
