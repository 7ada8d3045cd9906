#include "station/WrittenCardList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "GbkLabels.h"
#include "TempDir.h"

namespace station {
namespace {

using testing_support::kTrack2LabelGbk;
using testing_support::kTrack3LabelGbk;
using testing_support::ReadBytes;
using testing_support::TempDir;

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

TEST(SaveCardList, EmptyListGivesZeroByteFileForThisUserAlone) {
  TempDir dir;
  const mode_t oldMask = ::umask(0);  // what the program asks for is what it gets
  const auto file = SaveCardList(dir.Path(), {2026, 12, 31, 23, 59, 59}, {});
  ::umask(oldMask);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
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
  // Permission bits do not bind the superuser; /proc refuses new files to everyone.
  TempDir dir;
  std::filesystem::path folder = "/proc";
  std::string reason;
  if (::geteuid() != 0) {
    folder = dir.Path();
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    reason = "Permission denied";
  }
  try {
    SaveCardList(folder, {2026, 12, 6, 8, 5, 3}, {"x"});
    FAIL() << "save into a read-only folder succeeded";
  } catch (const CardListSaveError& e) {
    const std::string prefix = "Cannot create file \"" + (folder / "2026126853.txt").string() + "\". ";
    const std::string text = e.what();
    ASSERT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_FALSE(text.substr(prefix.size()).empty()) << "the system's reason is missing";
    if (!reason.empty()) {
      EXPECT_EQ(text.substr(prefix.size()), reason);
    }
  }
}

// Whatever another user may have planted under the next name in a shared
// folder is refused at once and left as it was.
TEST(AppendCardListFile, PlantedTargetsAreRefusedAndLeftAlone) {
  TempDir dir;
  const auto file = dir.Path() / "2026126853.txt";
  const auto victim = dir.Write("victim.txt", "keep");
  const auto refusal = [](const std::filesystem::path& target) {
    return "Cannot create file \"" + target.string() + "\". 同名的不是普通文件，列表未保存。";
  };
  // A FIFO would block the open for good; SIGALRM ends the test instead.
  ::alarm(10);
  struct Row {
    const char* name;
    std::function<void()> plant;
  };
  const Row rows[] = {
      {"symbolic link", [&] { std::filesystem::create_symlink(victim, file); }},
      {"FIFO without a reader", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0666), 0); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(file);
    row.plant();
    try {
      AppendCardListFile(file, {"0001"});
      ADD_FAILURE() << "saved into a planted " << row.name;
    } catch (const CardListSaveError& e) {
      EXPECT_EQ(e.what(), refusal(file));
    }
  }
  // A FIFO someone reads from opens without blocking; it is refused all the same.
  const int reader = ::open(file.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_THROW(AppendCardListFile(file, {"0001"}), CardListSaveError);
  char byte = 0;
  EXPECT_LE(::read(reader, &byte, 1), 0) << "the FIFO received the list";
  ::close(reader);
  ::alarm(0);
  try {
    AppendCardListFile("/dev/full", {"0001"});
    ADD_FAILURE() << "saved into a device";
  } catch (const CardListSaveError& e) {
    EXPECT_EQ(e.what(), refusal("/dev/full"));
  }
  EXPECT_EQ(ReadBytes(victim), "keep");
}

TEST(AppendCardListFile, AnotherUsersFileIsNeverAppendedTo) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can plant a file of another owner";
  TempDir dir;
  const auto file = dir.Write("2026126853.txt", "theirs\r\n");
  ASSERT_EQ(::chown(file.c_str(), 1234, 1234), 0);
  std::filesystem::permissions(file, std::filesystem::perms::all & ~std::filesystem::perms::owner_exec &
                                         ~std::filesystem::perms::group_exec & ~std::filesystem::perms::others_exec);
  try {
    AppendCardListFile(file, {"0001"});
    ADD_FAILURE() << "appended to another user's file";
  } catch (const CardListSaveError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + file.string() + "\". 同名文件属于其他用户，列表未保存。");
  }
  EXPECT_EQ(ReadBytes(file), "theirs\r\n");
}

// A save cut off by a full disk leaves the file as it was, for the new file
// and for one that already held lines, so the retry writes each line once.
TEST(AppendCardListFile, SaveFailingPartWayLeavesNoPartialLines) {
  TempDir dir;
  const auto existing = dir.Write("existing.txt", "old\r\n");
  const auto fresh = dir.Path() / "fresh.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The file size limit cuts the write short, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{20, 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int failures = 0;
    for (const auto& file : {existing, fresh}) {
      try {
        AppendCardListFile(file, {"0000000001", "0000000002", "0000000003"});
      } catch (const CardListSaveError& e) {
        if (std::string(e.what()) == "Stream write error") ++failures;
      }
    }
    ::_exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2) << "both saves should fail as a write error";
  EXPECT_EQ(ReadBytes(existing), "old\r\n");
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

}  // namespace
}  // namespace station
