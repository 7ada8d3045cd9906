// Saved lists read back: their lines, their names, and only the recent ones.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "station/SavedLists.h"
#include "station/WrittenCardList.h"

namespace station {
namespace {

namespace fs = std::filesystem;

TEST(SavedLists, LinesAreTheLabelledOnesWithTheirTrack) {
  const std::string t2 = CardListLineBytes(2, "");
  const std::string t3 = CardListLineBytes(3, "");
  struct Row {
    const char* name;
    std::string bytes;
    std::vector<SavedListLine> lines;
  } rows[] = {
      {"empty file", "", {}},
      {"CR LF lines, both tracks in order", t2 + "0001\r\n" + t3 + "A9\r\n", {{2, "0001"}, {3, "A9"}}},
      {"a last line without its end", t2 + "0001\r\n" + t2 + "0002", {{2, "0001"}, {2, "0002"}}},
      {"bare LF", t3 + "7\n", {{3, "7"}}},
      {"foreign and empty lines passed over", "hello\r\n" + t2 + "\r\n\r\n" + t2 + "5\r\n", {{2, "5"}}},
      {"text kept byte for byte", t2 + " =;\x80\r\n", {{2, " =;\x80"}}},
  };
  for (const Row& row : rows) EXPECT_EQ(ParseSavedList(row.bytes), row.lines) << row.name;

  for (const char* name : {"2026126853.txt", "20261231235959.txt", "202611000.txt"}) {
    EXPECT_TRUE(IsSavedListName(name)) << name;
  }
  for (const char* name : {"20261268.txt", "202612312359590.txt", "2026126853.TXT", "2026x26853.txt", ".txt"}) {
    EXPECT_FALSE(IsSavedListName(name)) << name;
  }
}

TEST(SavedLists, OnlyTheNewestListsAfterTheLastSaveAreRead) {
  const testing_support::TempDir dir;
  const fs::path& folder = dir.Path();
  const auto base = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (int i = 0; i < 5; ++i) {
    const fs::path file = folder / ("20261206" + std::to_string(10 + i) + "00.txt");
    std::ofstream(file, std::ios::binary) << CardListLineBytes(2, std::to_string(i));
    fs::last_write_time(file, base + std::chrono::minutes(i));
  }
  std::ofstream(folder / "notes.txt") << CardListLineBytes(2, "99");

  const auto numbers = [](const std::vector<SavedListFile>& files) {
    std::vector<std::string> texts;
    for (const SavedListFile& file : files) texts.push_back(file.lines.at(0).text);
    return texts;
  };
  EXPECT_EQ(numbers(RecentSavedLists(folder, std::nullopt, 3)), (std::vector<std::string>{"4", "3", "2"}));
  const auto after = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      fs::file_time_type::clock::to_sys(base + std::chrono::minutes(2)));
  EXPECT_EQ(numbers(RecentSavedLists(folder, after, 10)), (std::vector<std::string>{"4", "3"}));
  EXPECT_TRUE(RecentSavedLists(folder / "missing", std::nullopt, 10).empty());
}

}  // namespace
}  // namespace station
