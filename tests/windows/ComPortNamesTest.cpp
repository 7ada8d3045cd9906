// The COM port list of the settings dialog, named from a made-up registry and
// SetupAPI, as the real ones on a Windows machine with several adapters look.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/ComPortNames.h"

namespace {

using Table = std::vector<std::pair<std::wstring, std::wstring>>;

class FakeTables : public settings::PortTables {
 public:
  FakeTables(Table serialComm, Table friendly) : serialComm_(std::move(serialComm)), friendly_(std::move(friendly)) {}
  Table SerialComm() const override { return serialComm_; }
  Table FriendlyNames() const override { return friendly_; }

 private:
  Table serialComm_;
  Table friendly_;
};

std::vector<std::string> Labels(const std::vector<settings::SerialDevice>& devices) {
  std::vector<std::string> labels;
  for (const auto& d : devices) labels.push_back(d.path + " = " + d.label);
  return labels;
}

TEST(ComPortNames, NamesEachPortAsDeviceManagerDoes) {
  const FakeTables tables({{L"\\Device\\Serial0", L"COM1"},
                           {L"\\Device\\VCP0", L"COM10"},
                           {L"\\Device\\Silabser0", L"COM3"},
                           {L"\\Device\\ProlificSerial0", L"com4"},
                           {L"\\Device\\Serial1", L"COM2"}},
                          {{L"COM3", L"USB-SERIAL CH340 (COM3)"},
                           {L"COM10", L"USB Serial Port (COM10)"},
                           {L"COM4", L"Prolific USB-to-Serial Comm Port (COM4) "},
                           {L"COM1", L"通信端口 (COM1)"},
                           {L"LPT1", L"ECP 打印机端口 (LPT1)"},
                           {L"COM2", L"\\Device\\Serial1"},
                           {L"COM7", L"蓝牙链接上的标准串行 (COM7)"}});
  const auto devices = settings::NameComPorts(tables);
  EXPECT_EQ(Labels(devices), (std::vector<std::string>{
                                 "\\\\.\\COM1 = COM1 (通信端口)",
                                 "\\\\.\\COM2 = COM2",
                                 "\\\\.\\COM3 = COM3 (USB-SERIAL CH340)",
                                 "\\\\.\\com4 = com4 (Prolific USB-to-Serial Comm Port)",
                                 "\\\\.\\COM7 = COM7 (蓝牙链接上的标准串行)",
                                 "\\\\.\\COM10 = COM10 (USB Serial Port)",
                             }));
  // The driver's device stays as the target; the label hides it.
  EXPECT_EQ(devices[2].target, "\\Device\\Silabser0");
  EXPECT_TRUE(devices[4].target.empty()) << "a port only SetupAPI knows has no driver device";
}

TEST(ComPortNames, EmptyTablesListNothingAndAnUnnamedSetupApiPortIsSkipped) {
  EXPECT_TRUE(settings::NameComPorts(FakeTables({}, {})).empty());
  EXPECT_TRUE(settings::NameComPorts(FakeTables({{L"\\Device\\Serial0", L" "}}, {{L"", L"Unnamed"}})).empty());
}

}  // namespace
