// The Windows implementations of the station's file, text and settings calls:
// wide paths (Chinese folder and file names), the GBK code page, and the
// places Windows gives the settings file, drive C and the COM ports.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/RecordFile.h"
#include "settings/DeviceList.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"
#include "station/WrittenCardList.h"
#include "ui/PathText.h"

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const QString& name) { return ui::PathFromQString(name); }

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

// A temporary folder whose own name is Chinese, so every path below it needs
// the wide calls.
class ChineseFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    ASSERT_TRUE(QDir(tmp_.path()).mkdir(QStringLiteral("写卡记录")));
    dir_ = PathOf(tmp_.path() + QStringLiteral("/写卡记录"));
  }
  QTemporaryDir tmp_;
  fs::path dir_;
};

TEST(ToGbk, ConvertsThroughTheChineseCodePage) {
  struct Row {
    const char* name;
    std::string utf8;
    std::string gbk;  // empty: no GBK form
  };
  const std::vector<Row> rows = {
      {"track 2 label", "磁道1卡号:",
       "\xb4\xc5\xb5\xc0"
       "1"
       "\xbf\xa8\xba\xc5"
       ":"},
      {"ASCII as it is", "A-0099", "A-0099"},
      {"empty", "", ""},
      {"outside GBK", "卡\xF0\x9F\x98\x80", ""},
      {"not UTF-8", "\xff\xfe", ""},
  };
  for (const Row& row : rows) {
    if (row.gbk.empty() && !row.utf8.empty()) {
      EXPECT_THROW(station::ToGbk(row.utf8), std::runtime_error) << row.name;
    } else {
      EXPECT_EQ(station::ToGbk(row.utf8), row.gbk) << row.name;
    }
  }
}

TEST_F(ChineseFolder, SavedListsAppendInCrLfAndNameAMissingFolder) {
  const station::LocalDateTime when{2026, 12, 7, 9, 5, 1};
  const fs::path file = station::SaveCardList(dir_, when, {station::CardListLineBytes(2, "0099")});
  station::SaveCardList(dir_, when, {"second"});
  EXPECT_EQ(ReadBytes(file), station::CardListLineBytes(2, "0099") + "\r\nsecond\r\n");

  const fs::path missing = dir_ / L"无此目录";
  try {
    station::SaveCardList(missing, when, {"x"});
    FAIL() << "a save into a missing folder succeeded";
  } catch (const station::CardListSaveError& e) {
    const std::string prefix = "Cannot create file \"" + ui::PathToUtf8(missing / "2026127951.txt") + "\". ";
    EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
    EXPECT_GT(std::string(e.what()).size(), prefix.size()) << "the reason follows";
  }
}

TEST_F(ChineseFolder, RecordFileReadsEveryByteOfAChineseNamedFile) {
  // Created through Qt, opened through the path the browse button builds.
  const QString name = tmp_.path() + QStringLiteral("/写卡记录/卡号.txt");
  QFile qfile(name);
  ASSERT_TRUE(qfile.open(QIODevice::WriteOnly));
  qfile.write(
      "\xEF\xBB\xBF"
      "0001\r\n 0002\r\r\n0003\x1A"
      "0004\n");
  qfile.close();

  station::RecordFile records;
  records.Open(PathOf(name));
  std::vector<std::string> read;
  while (!records.AtEnd()) read.push_back(records.ReadRecord());
  EXPECT_EQ(read, (std::vector<std::string>{"0001", "0002", "0003"}));
}

TEST_F(ChineseFolder, SettingsWritesReplaceTheFileAndKeepOtherLines) {
  const fs::path path = dir_ / L"VavizEvu.ini";
  WriteBytes(path, "; 注释\r\n[Other]\r\nkey=1\r\n");
  settings::SettingsFile file(path);
  file.WriteString("Settings", "comname", "COM3");
  file.WriteString("settings", "COMNAME", "COM5");
  EXPECT_EQ(ReadBytes(path), "; 注释\r\n[Other]\r\nkey=1\r\n[Settings]\r\ncomname=COM5\r\n");
  EXPECT_EQ(file.ReadString("SETTINGS", "comname", "com1"), "COM5");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"VavizEvu.ini"}) << "no temporary file stays behind";
}

TEST(WindowsPlaces, SettingsBesideTheProgramRealPortsAndDriveC) {
  const fs::path exeDir = PathOf(QCoreApplication::applicationDirPath());
  EXPECT_EQ(settings::ExecutableDir(), exeDir.lexically_normal());
  EXPECT_EQ(settings::SettingsPath(), exeDir.lexically_normal() / "VavizEvu.ini");

  QTemporaryDir tmp;
  const settings::SettingsFile empty(PathOf(tmp.path()) / "VavizEvu.ini");
  EXPECT_EQ(settings::DevicePathForPort(3, empty), "\\\\.\\COM3");
  EXPECT_EQ(settings::DevicePathForPort(0, empty), "");
  EXPECT_EQ(settings::DefaultDriveCFolder(), fs::path("C:\\"));
}

TEST_F(ChineseFolder, SettingsGoToTheUsersFolderWhenTheProgramsTakesNoFile) {
  settings::SettingsPlaces places;
  places.xdgConfigHome = dir_ / L"应用数据";
  places.home = dir_;
  places.executableDir = dir_ / L"程序";  // missing: it takes no new file
  EXPECT_EQ(settings::ChooseSettingsPath(places), dir_ / L"应用数据" / L"cardstation" / L"VavizEvu.ini");
  // A copy unpacked into a folder of its own keeps its settings with it.
  places.executableDir = dir_;
  EXPECT_EQ(settings::ChooseSettingsPath(places), dir_ / L"VavizEvu.ini");
}

TEST_F(ChineseFolder, ListsGoToDocumentsWhenTheDriveRootTakesNoFile) {
  EXPECT_EQ(settings::ChooseListFolder(dir_, dir_ / L"文档"), dir_);
  const fs::path documents = dir_ / L"文档";
  const fs::path folder = settings::ChooseListFolder(dir_ / L"无此驱动器", documents);
  EXPECT_EQ(folder, documents / L"磁卡写卡记录");
  EXPECT_TRUE(fs::is_directory(folder)) << "made for the first save";

  // The window names the drive as before, or the folder that takes its place.
  EXPECT_TRUE(ui::ListFolderIsDriveRoot(fs::path(L"C:\\")));
  EXPECT_EQ(ui::ListFolderCaption(fs::path(L"C:\\"), {}), QStringLiteral("c:\\"));
  EXPECT_FALSE(ui::ListFolderIsDriveRoot(folder));
  EXPECT_EQ(ui::ListFolderCaption(fs::path(L"C:\\Users\\操作员\\Documents\\磁卡写卡记录"), {}),
            QStringLiteral("C:\\Users\\操作员\\Documents\\磁卡写卡记录\\"));
}

TEST(WindowsPlaces, ComPortsListedAsDevicePathsInNumberOrder) {
  const std::regex portPath(R"(\\\\\.\\COM([0-9]+))");
  int previous = 0;
  for (const auto& port : settings::ListSerialPorts()) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(port.path, match, portPath)) << port.path;
    EXPECT_EQ(port.label.find("\\Device\\"), std::string::npos) << "a driver's path shown: " << port.label;
    const int number = std::stoi(match[1]);
    EXPECT_GT(number, previous) << port.path;
    previous = number;
  }
}

}  // namespace
