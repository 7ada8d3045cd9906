#include "settings/SettingsFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "TestFiles.h"

namespace {

using settings::SettingsFile;
using testfiles::Slurp;
using testfiles::Spit;

class SettingsFileTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return std::filesystem::path(dir_.path().toStdString()) / "VavizEvu.ini"; }
  QTemporaryDir dir_;
};

struct ReadCase {
  const char* name;
  const char* content;  // nullptr: no file at all
  const char* section;
  const char* key;
  std::string expected;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class SettingsReadTest : public SettingsFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsReadTest, ReadsValueOrDefault) {
  const ReadCase& c = GetParam();
  if (c.content != nullptr) Spit(File(), c.content);
  EXPECT_EQ(SettingsFile(File()).ReadString(c.section, c.key, "com1"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsReadTest,
    ::testing::Values(
        ReadCase{"NoFile", nullptr, "Settings", "comname", "com1"},
        ReadCase{"NoSection", "[Other]\ncomname=COM4\n", "Settings", "comname", "com1"},
        ReadCase{"NoKey", "[Settings]\nport=COM4\n", "Settings", "comname", "com1"},
        ReadCase{"Plain", "[Settings]\r\ncomname=COM5\r\n", "Settings", "comname", "COM5"},
        ReadCase{"NamesIgnoreCase", "[SETTINGS]\nComName=COM6\n", "settings", "COMNAME", "COM6"},
        ReadCase{"BlanksAroundNamesAndValue", "  [ Settings ]  \n  comname =  COM7  \n", "Settings", "comname", "COM7"},
        ReadCase{"QuotesStripped", "[Settings]\ncomname=\"COM2\"\n", "Settings", "comname", "COM2"},
        ReadCase{"EmptyValueIsNotDefault", "[Settings]\ncomname=\n", "Settings", "comname", ""},
        ReadCase{"KeyOfLaterSectionIgnored", "[Settings]\n[Ports]\ncomname=COM3\n", "Settings", "comname", "com1"},
        ReadCase{"CommentIsNoKey", "[Settings]\n;comname=COM3\n", "Settings", "comname", "com1"},
        ReadCase{"LastLineWithoutEnd", "[Settings]\ncomname=COM8", "Settings", "comname", "COM8"},
        ReadCase{"ByteOrderMarkBeforeFirstSection", "\xEF\xBB\xBF[Settings]\ncomname=COM5\n", "Settings", "comname",
                 "COM5"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, ValuesAreCutTo2047Characters) {
  Spit(File(), "[Settings]\nlong=" + std::string(3000, 'x') + "\nshort=" + std::string(2047, 'y') + "\n");
  const SettingsFile ini(File());
  EXPECT_EQ(ini.ReadString("Settings", "long", ""), std::string(2047, 'x'));
  EXPECT_EQ(ini.ReadString("Settings", "short", ""), std::string(2047, 'y'));
}

struct WriteCase {
  const char* name;
  const char* before;  // nullptr: no file yet
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class SettingsWriteTest : public SettingsFileTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(SettingsWriteTest, ChangesOnlyWhatItMust) {
  const WriteCase& c = GetParam();
  if (c.before != nullptr) Spit(File(), c.before);
  SettingsFile ini(File());
  ini.WriteString(c.section, c.key, c.value);
  EXPECT_EQ(Slurp(File()), c.after);
  EXPECT_EQ(ini.ReadString(c.section, c.key, "?"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsWriteTest,
    ::testing::Values(
        WriteCase{"CreatesFile", nullptr, "Settings", "comname", "COM1", "[Settings]\ncomname=COM1\n"},
        WriteCase{"ReplacesValueKeepingEverythingElse",
                  "; port of the card device\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[Settings]\r\ncomname=COM1\r\n"
                  "extra = kept  \r\n[Drives]\r\nC=/srv/cards\r\n",
                  "Settings", "comname", "COM5",
                  "; port of the card device\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[Settings]\r\ncomname=COM5\r\n"
                  "extra = kept  \r\n[Drives]\r\nC=/srv/cards\r\n"},
        WriteCase{"MatchesExistingKeyWithoutCase", "[SETTINGS]\nComName = com3\n", "Settings", "comname", "COM2",
                  "[SETTINGS]\nComName = COM2\n"},
        WriteCase{"AddsKeyAfterSectionsLastLine", "[Settings]\r\nother=1\r\n\r\n[Ports]\r\nCOM1=/dev/x\r\n", "Settings",
                  "comname", "COM4", "[Settings]\r\nother=1\r\ncomname=COM4\r\n\r\n[Ports]\r\nCOM1=/dev/x\r\n"},
        WriteCase{"AddsKeyToLastSectionWithoutLineEnd", "[Settings]\nother=1", "Settings", "comname", "COM4",
                  "[Settings]\nother=1\ncomname=COM4"},
        WriteCase{"AddsKeyAfterLastLineEndingInLoneCr", "[Settings]\nother=1\r", "Settings", "comname", "COM4",
                  "[Settings]\nother=1\r\ncomname=COM4"},
        WriteCase{"AppendsSectionInFilesLineEnding", "[Ports]\r\nCOM1=/dev/x", "Settings", "comname", "COM6",
                  "[Ports]\r\nCOM1=/dev/x\r\n[Settings]\r\ncomname=COM6\r\n"},
        WriteCase{"KeepsByteOrderMark", "\xEF\xBB\xBF[Settings]\r\ncomname=COM1\r\n", "Settings", "comname", "COM2",
                  "\xEF\xBB\xBF[Settings]\r\ncomname=COM2\r\n"},
        WriteCase{"KeepsBytesBeyondAscii", "[Other]\nname=\xc4\xe3\xba\xc3\n[Settings]\ncomname=COM1\n", "Settings",
                  "comname", "COM8", "[Other]\nname=\xc4\xe3\xba\xc3\n[Settings]\ncomname=COM8\n"},
        WriteCase{"QuotesValueWithBlankEnds", "[Drives]\nC=/x\n", "Drives", "C", " /srv/cards ",
                  "[Drives]\nC=\" /srv/cards \"\n"},
        WriteCase{"QuotesValueInQuotes", nullptr, "Settings", "comname", "'COM1'", "[Settings]\ncomname=\"'COM1'\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, FailedWriteNamesTheFullPathAndKeepsTheFile) {
  const testfiles::ReadOnlyFolder folder;
  SettingsFile ini(folder.Path() / "VavizEvu.ini");
  try {
    ini.WriteString("Settings", "comname", "COM2");
    FAIL() << "the write should have failed";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "无法写入设置文件 " + (folder.Path() / "VavizEvu.ini").string() + "。");
  }

  // A relative path is reported as the full path it stands for.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  SettingsFile relative("VavizEvu.ini");
  try {
    relative.WriteString("Settings", "comname", "COM2");
    ADD_FAILURE() << "the write should have failed";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "无法写入设置文件 " + (folder.Path() / "VavizEvu.ini").string() + "。");
  }
  std::filesystem::current_path(previous);
}

TEST_F(SettingsFileTest, RefusesTextThatWouldBreakTheFile) {
  Spit(File(), "[Settings]\ncomname=COM1\n");
  SettingsFile ini(File());
  EXPECT_THROW(ini.WriteString("Settings", "comname", "COM2\n[Evil]"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("Settings", "a=b", "x"), std::invalid_argument);
  EXPECT_THROW(ini.WriteString("Set]tings", "comname", "x"), std::invalid_argument);
  EXPECT_EQ(Slurp(File()), "[Settings]\ncomname=COM1\n");
}

using PlatformLookupTest = SettingsFileTest;

TEST_F(PlatformLookupTest, PortsMapToConfiguredDeviceOrSerialDevice) {
  const SettingsFile ini(File());
  EXPECT_EQ(settings::DevicePathForPort(1, ini), "/dev/ttyS0");
  EXPECT_EQ(settings::DevicePathForPort(8, ini), "/dev/ttyS7");
  EXPECT_EQ(settings::DevicePathForPort(0, ini), "");

  Spit(File(), "[ports]\r\ncom3=/dev/ttyUSB0\r\nCOM4=\r\n");
  EXPECT_EQ(settings::DevicePathForPort(3, ini), "/dev/ttyUSB0");
  EXPECT_EQ(settings::DevicePathForPort(4, ini), "/dev/ttyS3");  // an empty entry maps nothing
  EXPECT_EQ(settings::DevicePathForPort(2, ini), "/dev/ttyS1");
}

TEST_F(PlatformLookupTest, DriveCIsConfiguredFolderOrHome) {
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  const SettingsFile ini(File());
  EXPECT_EQ(settings::DriveCFolder(ini), std::filesystem::path(home));
  Spit(File(), "[Drives]\nc=/srv/cards\n");
  EXPECT_EQ(settings::DriveCFolder(ini), std::filesystem::path("/srv/cards"));
}

// Started from another working folder, the program still finds the file
// beside the executable.
TEST(SettingsPathTest, LiesBesideTheExecutableFromAnyWorkingFolder) {
  const auto exe = std::filesystem::read_symlink("/proc/self/exe");
  QTemporaryDir elsewhere;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path().toStdString());
  const auto dir = settings::ExecutableDir();
  const auto path = settings::SettingsPath();
  std::filesystem::current_path(previous);
  EXPECT_EQ(dir, exe.parent_path());
  EXPECT_EQ(path, exe.parent_path() / "VavizEvu.ini");
}

}  // namespace
