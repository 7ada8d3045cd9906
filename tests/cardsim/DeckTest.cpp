#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Deck.h"

namespace cardsim {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "cardsim-deck-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Deck, WrittenCardsSurviveARestart) {
  TempDir dir;
  const fs::path file = dir.path() / "deck.txt";
  {
    Deck deck(file);
    EXPECT_EQ(deck.size(), 0u) << "a missing file is an empty deck";
    deck.at(deck.NextBlank()) = Card{"0099", "123"};
    deck.at(deck.NextBlank()) = Card{"", "77"};
    deck.at(deck.NextBlank()) = Card{"0101", ""};
    deck.Save();
  }
  EXPECT_EQ(Slurp(file), "0099\t123\n\t77\n0101\t\n");
  EXPECT_FALSE(fs::exists(dir.path() / "deck.txt.new"));

  Deck again(file);
  EXPECT_EQ(again.cards(), (std::vector<Card>{{"0099", "123"}, {"", "77"}, {"0101", ""}}));
}

TEST(Deck, ParsesHandWrittenFiles) {
  // CRLF lines, a line without a tab (track 2 only), an empty line (a blank card).
  EXPECT_EQ(Deck::Parse("12\r\n\n\t34\n56\t78"), (std::vector<Card>{{"12", ""}, {"", ""}, {"", "34"}, {"56", "78"}}));
}

TEST(Deck, NextBlankTakesTheFirstBlankCardOrAddsOne) {
  TempDir dir;
  const fs::path file = dir.path() / "deck.txt";
  std::ofstream(file) << "11\t22\n\t\n33\t44\n";
  Deck deck(file);
  EXPECT_EQ(deck.NextBlank(), 2u);
  deck.at(2).track2 = "5";
  EXPECT_EQ(deck.NextBlank(), 4u);
  EXPECT_EQ(deck.size(), 4u);
}

TEST(Deck, SaveFailureKeepsTheOldDeck) {
  TempDir dir;
  const fs::path file = dir.path() / "deck.txt";
  std::ofstream(file) << "11\t22\n";
  Deck deck(file);
  deck.at(1).track2 = "99";
  // A directory where the new file should go makes the write fail.
  fs::create_directory(dir.path() / "deck.txt.new");
  EXPECT_THROW(deck.Save(), std::runtime_error);
  EXPECT_EQ(Slurp(file), "11\t22\n");
}

TEST(Deck, SaveNeverWritesThroughAPlantedLink) {
  TempDir dir;
  const fs::path file = dir.path() / "deck.txt";
  const fs::path victim = dir.path() / "victim";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, dir.path() / "deck.txt.new");
  Deck deck(file);
  deck.at(deck.NextBlank()) = Card{"1", "2"};
  deck.Save();
  EXPECT_EQ(Slurp(victim), "keep");
  EXPECT_EQ(Slurp(file), "1\t2\n");
}

// A deck that is not a regular file would never end (/dev/zero) or never
// start (a FIFO without a writer): it is refused at once, as is a huge one.
TEST(Deck, ANonRegularOrHugeDeckIsRefused) {
  TempDir dir;
  const fs::path fifo = dir.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path huge = dir.path() / "huge.txt";
  std::ofstream(huge).close();
  fs::resize_file(huge, kMaxDeckBytes + 1);  // sparse: no time or disk to make
  ::alarm(10);                               // a read without end fails the test instead of hanging it
  for (const fs::path& file : {fs::path("/dev/zero"), fs::path("/dev/full"), fifo, dir.path(), huge}) {
    EXPECT_THROW(Deck{file}, std::runtime_error) << file;
  }
  ::alarm(0);
}

}  // namespace
}  // namespace cardsim
