#include "settings/DeviceList.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

// A /dev and /sys tree as the kernel and udev lay them out, in a folder.
TEST(DeviceListTest, ListsStableNamesAdaptersAndRealUarts) {
  QTemporaryDir tmp;
  const fs::path dev = fs::path(tmp.path().toStdString()) / "dev";
  const fs::path sys = fs::path(tmp.path().toStdString()) / "sys";
  fs::create_directories(dev / "serial" / "by-id");
  for (const char* node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS10", "tty0", "console"}) {
    testfiles::Spit(dev / node, "");
  }
  fs::create_symlink("../../ttyUSB2", dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1-if00-port0");
  for (const auto& [uart, type] : {std::pair{"ttyS0", "4\n"}, {"ttyS1", "0\n"}, {"ttyS10", "4\n"}}) {
    fs::create_directories(sys / "class" / "tty" / uart);
    testfiles::Spit(sys / "class" / "tty" / uart / "type", type);
  }

  std::vector<std::pair<std::string, std::string>> listed;
  for (const auto& d : settings::ListSerialDevices(dev, sys)) listed.emplace_back(d.path, d.target);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {(dev / "serial/by-id/usb-FTDI_FT232R_A1-if00-port0").string(), (dev / "ttyUSB2").string()},
      {(dev / "ttyUSB2").string(), ""},
      {(dev / "ttyUSB10").string(), ""},
      {(dev / "ttyACM0").string(), ""},
      {(dev / "ttyS0").string(), ""},  // ttyS1 has no UART behind it
      {(dev / "ttyS10").string(), ""},
  };
  EXPECT_EQ(listed, expected);
}

TEST(DeviceListTest, MissingFoldersGiveNoEntries) {
  EXPECT_TRUE(settings::ListSerialDevices("/nonexistent/dev", "/nonexistent/sys").empty());
}

}  // namespace
