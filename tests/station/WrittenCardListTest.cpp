#include "station/WrittenCardList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "TempDir.h"

namespace station {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;

// "磁道1卡号:" and "磁道2卡号:" in GBK.
const std::string kTrack2LabelGbk = "\xb4\xc5\xb5\xc0" "1" "\xbf\xa8\xba\xc5" ":";
const std::string kTrack3LabelGbk = "\xb4\xc5\xb5\xc0" "2" "\xbf\xa8\xba\xc5" ":";

TEST(CardListFileName, DigitsWithoutLeadingZerosOrSeparators) {
  EXPECT_EQ(CardListFileName({2026, 12, 6, 8, 5, 3}), "2026126853.txt");
  EXPECT_EQ(CardListFileName({2026, 12, 31, 23, 59, 59}), "20261231235959.txt");
  EXPECT_EQ(CardListFileName({2026, 1, 1, 0, 0, 0}), "202611000.txt");
  // Two different times share a name; saving appends rather than replaces.
  EXPECT_EQ(CardListFileName({2026, 1, 11, 1, 1, 1}), CardListFileName({2026, 11, 1, 1, 1, 1}));
}

TEST(CardListLineBytes, GbkLabelFollowedByTrackBytesUnchanged) {
  EXPECT_EQ(CardListLineBytes(2, "0001"), kTrack2LabelGbk + "0001");
  EXPECT_EQ(CardListLineBytes(3, "12=\xe9\xff"), kTrack3LabelGbk + "12=\xe9\xff");
}

TEST(SaveCardList, LinesEndInCrLfByteForByte) {
  TempDir dir;
  const std::vector<std::string> lines = {CardListLineBytes(2, "0001"), CardListLineBytes(3, "A99")};
  const auto file = SaveCardList(dir.Path(), {2026, 12, 6, 8, 5, 3}, lines);
  EXPECT_EQ(file, dir.Path() / "2026126853.txt");
  EXPECT_EQ(ReadBytes(file), kTrack2LabelGbk + "0001\r\n" + kTrack3LabelGbk + "A99\r\n");
}

TEST(SaveCardList, EmptyListGivesZeroByteFile) {
  TempDir dir;
  const auto file = SaveCardList(dir.Path(), {2026, 12, 31, 23, 59, 59}, {});
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST(SaveCardList, NameClashAppendsInsteadOfReplacing) {
  TempDir dir;
  SaveCardList(dir.Path(), {2026, 1, 11, 1, 1, 1}, {"first"});
  const auto file = SaveCardList(dir.Path(), {2026, 11, 1, 1, 1, 1}, {"second", "third"});
  EXPECT_EQ(ReadBytes(file), "first\r\nsecond\r\nthird\r\n");
  SaveCardList(dir.Path(), {2026, 11, 1, 1, 1, 1}, {});
  EXPECT_EQ(ReadBytes(file), "first\r\nsecond\r\nthird\r\n") << "an empty save keeps the file";
}

TEST(SaveCardList, MissingFolderNamesFullPathAndReason) {
  TempDir dir;
  const auto folder = dir.Path() / "no-such-folder";
  try {
    SaveCardList(folder, {2026, 12, 6, 8, 5, 3}, {"x"});
    FAIL() << "save into a missing folder succeeded";
  } catch (const CardListSaveError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + (folder / "2026126853.txt").string() + "\". No such file or directory");
  }
}

TEST(SaveCardList, ReadOnlyFolderNamesFullPathAndReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  try {
    SaveCardList(dir.Path(), {2026, 12, 6, 8, 5, 3}, {"x"});
    FAIL() << "save into a read-only folder succeeded";
  } catch (const CardListSaveError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + (dir.Path() / "2026126853.txt").string() + "\". Permission denied");
  }
}

TEST(AppendCardListFile, FullDiskIsStreamWriteError) {
  try {
    AppendCardListFile("/dev/full", {"0001"});
    FAIL() << "write to a full device succeeded";
  } catch (const CardListSaveError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
}

}  // namespace
}  // namespace station
