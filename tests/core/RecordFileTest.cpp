#include "core/RecordFile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "TempDir.h"

namespace station {
namespace {

using testing_support::TempDir;

// Reads every record of file, testing the end right after each one as the
// writer does.
std::vector<std::string> AllRecords(const std::filesystem::path& file) {
  RecordFile records;
  records.Open(file);
  std::vector<std::string> out;
  while (!records.AtEnd()) out.push_back(records.ReadRecord());
  return out;
}

struct RecordCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> records;
};

const RecordCase kRecordCases[] = {
    {"LineFeeds", "001\n002\n003\n", {"001", "002", "003"}},
    {"CrLfSameAsLf", "001\r\n002\r\n003\r\n", {"001", "002", "003"}},
    {"LastLineWithoutEnd", "001\n002", {"001", "002"}},
    {"LoneCrDroppedFromLine", "00\r1\n002\r", {"001", "002"}},
    {"CtrlZEndsData",
     "001\n002\x1a"
     "003\n004\n",
     {"001", "002"}},
    {"CtrlZAtLineStart",
     "001\n\x1a"
     "002\n",
     {"001"}},
    {"BlankFirstLine", "\n001\n", {"", "001"}},
    {"BlankLinesAtEnd", "001\n\n\r\n", {"001", "", ""}},
    {"BlanksAndControlsTrimmed", "  001 \n\t002\x01\n", {"001", "002"}},
    {"InnerBlanksKept", "A 1\n", {"A 1"}},
    {"FortyCharacterRecordWhole", std::string(40, '7') + "\n", {std::string(40, '7')}},
    {"LettersUnchanged", "AB=12cd\n", {"AB=12cd"}},
    {"HighBytesUnchanged",
     "\xb4\xc5\xff\x80"
     "9\n",
     {"\xb4\xc5\xff\x80"
      "9"}},
    {"ByteOrderMarkDropped",
     "\xef\xbb\xbf"
     "001\r\n002\r\n",
     {"001", "002"}},
    {"ByteOrderMarkOnlyAtTheStart",
     "001\n\xef\xbb\xbf"
     "002\n",
     {"001",
      "\xef\xbb\xbf"
      "002"}},
    {"RecordOfSendBufferSizeWhole", "  " + std::string(301, '5') + " \n", {std::string(301, '5')}},
    {"LongTrailingBlanksAreNoRecord", "001" + std::string(100000, ' ') + "\n002", {"001", "002"}},
    {"InnerBlanksUpToTheCut", "1" + std::string(299, ' ') + "2\n", {"1" + std::string(299, ' ') + "2"}},
};

// Shown by the test runner instead of the raw bytes of the case.
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class RecordFileCaseTest : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordFileCaseTest, GivesRecordsInFileOrder) {
  TempDir dir;
  const RecordCase& c = GetParam();
  EXPECT_EQ(AllRecords(dir.Write("records.txt", c.bytes)), c.records);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordFileCaseTest, testing::ValuesIn(kRecordCases),
                         [](const testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

TEST(RecordFile, NoDataAtAllWhenEmptyOrStartingWithCtrlZ) {
  TempDir dir;
  RecordFile records;
  records.Open(dir.Write("empty.txt", ""));
  EXPECT_TRUE(records.AtEnd());
  records.Open(dir.Write("ctrlz.txt",
                         "\x1a"
                         "001\n"));
  EXPECT_TRUE(records.AtEnd());
  records.Open(dir.Write("blank.txt", "\n"));
  EXPECT_FALSE(records.AtEnd()) << "a single blank line is one empty record";
}

TEST(RecordFile, ReadingPastTheEndGivesEmptyRecords) {
  TempDir dir;
  RecordFile records;
  records.Open(dir.Write("one.txt", "001"));
  EXPECT_EQ(records.ReadRecord(), "001");
  EXPECT_TRUE(records.AtEnd());
  EXPECT_EQ(records.ReadRecord(), "");
  EXPECT_TRUE(records.AtEnd());
}

TEST(RecordFile, ManyRecordsAcrossBufferBoundaries) {
  TempDir dir;
  std::string bytes;
  std::vector<std::string> expected;
  for (int i = 0; i < 30000; ++i) {
    expected.push_back(std::to_string(1000000 + i * 7));
    bytes += "  " + expected.back() + "\r\n";
  }
  EXPECT_EQ(AllRecords(dir.Write("many.txt", bytes)), expected);
}

TEST(RecordFile, RecordLongerThanAFrameIsCutAndTheRestOfItsLineSkipped) {
  TempDir dir;
  const std::string line(1024 * 1024, '7');
  for (const std::string& record : {line, std::string(302, '7'), "1" + std::string(300, ' ') + "2"}) {
    RecordFile records;
    records.Open(dir.Write("big.txt", "001\n" + record + "\r\nnext\r\n"));
    EXPECT_EQ(records.ReadRecord(), "001");
    EXPECT_EQ(records.ReadRecord(), record.substr(0, SendBufferSize));
    EXPECT_EQ(records.ReadRecord(), "next");
  }
}

TEST(RecordFile, FileWithOnlyAByteOrderMarkHoldsNoData) {
  TempDir dir;
  RecordFile records;
  records.Open(dir.Write("bom.txt", "\xef\xbb\xbf"));
  EXPECT_TRUE(records.AtEnd());
}

TEST(RecordFile, SameFileReadIndependentlyByTwoReaders) {
  TempDir dir;
  const auto file = dir.Write("shared.txt", "001\n002\n003\n");
  RecordFile track2;
  RecordFile track3;
  track2.Open(file);
  track3.Open(file);
  EXPECT_EQ(track2.ReadRecord(), "001");
  EXPECT_EQ(track2.ReadRecord(), "002");
  EXPECT_EQ(track3.ReadRecord(), "001");
  EXPECT_EQ(track2.ReadRecord(), "003");
  EXPECT_TRUE(track2.AtEnd());
  EXPECT_FALSE(track3.AtEnd());
  EXPECT_EQ(track3.ReadRecord(), "002");
}

TEST(RecordFile, OpeningAnotherFileStartsItFromTheTop) {
  TempDir dir;
  RecordFile records;
  records.Open(dir.Write("a.txt", "a1\na2\n"));
  EXPECT_EQ(records.ReadRecord(), "a1");
  records.Open(dir.Write("b.txt", "b1\nb2\n"));
  EXPECT_EQ(records.ReadRecord(), "b1");
  EXPECT_EQ(records.Path(), dir.Path() / "b.txt");
}

TEST(RecordFile, FailuresRaiseRecordFileError) {
  TempDir dir;
  RecordFile records;
  EXPECT_THROW(records.Open(dir.Path() / "missing.txt"), RecordFileError);
  EXPECT_FALSE(records.IsOpen());
  EXPECT_THROW(records.ReadRecord(), RecordFileError) << "reading a closed file";
  EXPECT_THROW(records.Open(dir.Path()), RecordFileError) << "a folder";
  EXPECT_FALSE(records.IsOpen());
  // A FIFO with no writer would block the opening and never end.
  const auto fifo = dir.Path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(records.Open(fifo), RecordFileError) << "a FIFO";
  EXPECT_THROW(records.Open("/dev/zero"), RecordFileError) << "a device";
}

}  // namespace
}  // namespace station
