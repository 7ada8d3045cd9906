// What the operator reads when the card journal cannot be used.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "station/JournalMessages.h"

namespace {

using journal::JournalError;
using journal::JournalFault;

const station::JournalPlace kFile{"/home/op/.config/cardstation/cards.db", "/home/op/.config/cardstation/VavizEvu.ini",
                                  false};
const station::JournalPlace kServer{"/home/op/.config/cardstation/cards.db",
                                    "/home/op/.config/cardstation/VavizEvu.ini", true};

// Whatever is left once the names the operator needs to act on (paths,
// section and key names, products and packages) are taken out must hold no
// English word.
bool HoldsEnglish(std::string text, const station::JournalPlace& place) {
  for (const std::string& name :
       {place.file.string(), place.settingsFile.string(), std::string("[Journal]"), std::string("Database"),
        std::string("postgresql://"), std::string("PostgreSQL"), std::string("SQLite"), std::string("Qt"),
        std::string("libqt6sql6-psql"), std::string("libqt6sql6-sqlite")}) {
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name)) text.erase(at, name.size());
  }
  return std::regex_search(text, std::regex("[A-Za-z]{2,}"));
}

TEST(JournalMessages, EachCauseNamesItsPlaceAndWhatToDoInChinese) {
  struct Row {
    const char* name;
    JournalError error;
    const station::JournalPlace* place;
    const char* expected;  // a part of the text that only this cause gives
  };
  const Row rows[] = {
      {"newer schema",
       JournalError("The journal was written by a newer program (schema version 99)", JournalFault::newerSchema, "99"),
       &kFile, "写卡记录 /home/op/.config/cardstation/cards.db 由更新版本的程序写入（格式版本 99）"},
      {"bad port in the address",
       JournalError("Not a usable PostgreSQL URI (bad port)", JournalFault::badAddress, "bad port"), &kServer,
       "设置文件 /home/op/.config/cardstation/VavizEvu.ini 中 [Journal] 的 Database 不是可用的 PostgreSQL "
       "地址（端口号无效）"},
      {"no scheme", JournalError("Not a PostgreSQL URI", JournalFault::badAddress, "no postgresql:// scheme"), &kServer,
       "（应以 postgresql:// 开头）"},
      {"server driver missing", JournalError("driver", JournalFault::noDriver, "QPSQL"), &kServer,
       "请安装软件包 libqt6sql6-psql"},
      {"file driver missing", JournalError("driver", JournalFault::noDriver, "QSQLITE"), &kFile,
       "请安装软件包 libqt6sql6-sqlite"},
      {"not a database", JournalError("file is not a database", JournalFault::damaged), &kFile,
       "：文件已损坏或不是写卡记录。写卡已停用"},
      {"statement failed", JournalError("SELECT x FROM y: no such table: y", JournalFault::failed), &kFile,
       "：数据库出错。写卡已停用"},
      {"disk full", JournalError("database or disk is full", JournalFault::diskFull), &kFile, "磁盘已满"},
  };
  for (const Row& row : rows) {
    const std::string text = station::JournalOpenFailureText(row.error, *row.place);
    EXPECT_NE(text.find(row.expected), std::string::npos) << row.name << ": " << text;
    EXPECT_NE(text.find("写卡已停用"), std::string::npos) << row.name << ": " << text;
    EXPECT_FALSE(HoldsEnglish(text, *row.place)) << row.name << ": " << text;
    EXPECT_EQ(text.find("无法连接"), std::string::npos) << row.name << ": a file is no connection";
  }
}

TEST(JournalMessages, FileThatCannotBeOpenedSaysWhyFromTheFileSystem) {
  const station::JournalPlace missing{"/nonexistent-folder/cards.db", "/nonexistent-folder/VavizEvu.ini", false};
  EXPECT_EQ(
      station::JournalOpenFailureText(JournalError("unable to open database file", JournalFault::cannotOpen), missing),
      "无法打开写卡记录 /nonexistent-folder/cards.db：文件夹 /nonexistent-folder 不存在，也无法创建。"
      "写卡已停用，请检查该文件夹的权限。");
  EXPECT_EQ(station::JournalFileCause("/"), "这是一个文件夹，不是文件");
  EXPECT_EQ(station::JournalFileCause("/dev/null"), "这不是普通文件");
}

TEST(JournalMessages, FailuresInUseNameTheFileAndHoldNoStatement) {
  const std::string text = station::JournalUseFailureText(
      JournalError("SELECT MAX(id) FROM written_card: no such table: written_card", JournalFault::damaged), kFile);
  EXPECT_EQ(text,
            "写卡记录 /home/op/.config/cardstation/cards.db 已损坏。请退出程序，将该文件改名保存后重新启动程序。");
  EXPECT_FALSE(HoldsEnglish(station::JournalUseFailureText(JournalError("x", JournalFault::failed), kServer), kServer));
}

}  // namespace
