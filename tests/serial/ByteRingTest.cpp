#include "serial/ByteRing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Unread(const TSerRing& ring) {
  std::string s;
  for (uint32_t i = 0; i < ring.Used(); ++i) s += static_cast<char>(ring.Unread(i));
  return s;
}

void Put(TSerRing& ring, const std::string& bytes) {
  ring.Write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
}

// A ring of 8 bytes, written and consumed in steps; each row checks where the
// ends are and what the ring holds afterwards.
struct TRingCase {
  const char* Name;
  std::vector<std::string> Writes;  // written in turn, each followed by a consume
  std::vector<uint32_t> Consumes;
  uint32_t Head, Tail;
  bool Full;
  const char* Holds;
  uint32_t WritableRun, ReadableRun;
};

const TRingCase kCases[] = {
    {"Empty", {}, {}, 0, 0, false, "", 8, 0},
    {"PartFilled", {"abc"}, {0}, 3, 0, false, "abc", 5, 3},
    {"FilledExactlyIsFullNotEmpty", {"abcdefgh"}, {0}, 0, 0, true, "abcdefgh", 0, 8},
    {"DrainedIsEmptyAgain", {"abcdefgh"}, {8}, 0, 0, false, "", 8, 0},
    {"WriteSplitsAcrossTheEnd", {"abcdef", "ghij"}, {5, 0}, 2, 5, false, "fghij", 3, 3},
    {"WrappedFull", {"abcdef", "ghijk"}, {3, 0}, 3, 3, true, "defghijk", 0, 5},
    {"ConsumeWrapsTheTail", {"abcdef", "ghij", "k"}, {5, 4, 0}, 3, 1, false, "jk", 5, 2},
};

class ByteRingTable : public ::testing::TestWithParam<TRingCase> {};

TEST_P(ByteRingTable, EndsAndContents) {
  const TRingCase& c = GetParam();
  TSerRing ring;
  ring.Allocate(8);
  for (size_t i = 0; i < c.Writes.size(); ++i) {
    Put(ring, c.Writes[i]);
    ring.Consume(c.Consumes[i]);
  }
  EXPECT_EQ(ring.Head, c.Head);
  EXPECT_EQ(ring.Tail, c.Tail);
  EXPECT_EQ(ring.Full, c.Full);
  EXPECT_EQ(ring.Empty(), std::string(c.Holds).empty());
  EXPECT_EQ(Unread(ring), c.Holds);
  EXPECT_EQ(ring.Used() + ring.Free(), 8u);
  EXPECT_EQ(ring.WritableRun(), c.WritableRun);
  EXPECT_EQ(ring.ReadableRun(), c.ReadableRun);
}

INSTANTIATE_TEST_SUITE_P(Cases, ByteRingTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Straightening moves wrapped bytes into one run from index 0 and keeps their order;
// a run that does not wrap stays where it is.
TEST(ByteRing, StraightenMakesOneRun) {
  struct TCase {
    std::vector<std::string> Writes;
    std::vector<uint32_t> Consumes;
    uint32_t Head, Tail;
  } cases[] = {
      {{"abcdef", "ghij"}, {5, 0}, 5, 0},   // wrapped: fghij
      {{"abcdef", "ghijk"}, {3, 0}, 0, 0},  // wrapped and full
      {{"abcdefgh", "ab"}, {6, 0}, 4, 0},   // head at 2, tail at 6
      {{"abcdef"}, {2}, 6, 2},              // one run already
  };
  for (const TCase& c : cases) {
    TSerRing ring;
    ring.Allocate(8);
    for (size_t i = 0; i < c.Writes.size(); ++i) {
      Put(ring, c.Writes[i]);
      ring.Consume(c.Consumes[i]);
    }
    const std::string before = Unread(ring);
    std::vector<uint8_t> scratch(8);
    ring.Straighten(scratch.data());
    EXPECT_EQ(Unread(ring), before);
    EXPECT_EQ(ring.ReadableRun(), ring.Used()) << before;
    EXPECT_EQ(ring.Head, c.Head) << before;
    EXPECT_EQ(ring.Tail, c.Tail) << before;
  }
}

// Positions kept as running totals of bytes map onto the ring by wrapping.
TEST(ByteRing, WrapMapsRunningTotals) {
  TSerRing ring;
  ring.Allocate(8);
  EXPECT_EQ(ring.Wrap(0), 0u);
  EXPECT_EQ(ring.Wrap(7), 7u);
  EXPECT_EQ(ring.Wrap(8), 0u);
  EXPECT_EQ(ring.Wrap(0x1'0000'0003ull), 3u);
}

}  // namespace
