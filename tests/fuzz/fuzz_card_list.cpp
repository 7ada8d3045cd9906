// The saved list of written cards (GBK), read back.
// Invariants: a saved file holds exactly the lines of every save under its
// name, each followed by CR LF, in order (a second save appends, never
// replaces); every line is the track's label in GBK followed by the track
// text's bytes unchanged; the file is named inside the chosen folder whatever
// the time; and any UTF-8 text either has no GBK form (std::runtime_error) or
// its GBK form reads back as the same text.
#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "ScratchFile.h"
#include "station/WrittenCardList.h"

namespace {

std::string FromGbk(const std::string& gbk) {
  const iconv_t cd = ::iconv_open("UTF-8", "GBK");
  FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
  const std::unique_ptr<void, int (*)(iconv_t)> guard(cd, ::iconv_close);
  std::string in = gbk;
  std::string out(in.size() * 2 + 4, '\0');
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  FUZZ_CHECK(::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1));
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder folder;
  FuzzedDataProvider input(data, size);

  const std::string text = input.ConsumeRandomLengthString(64);
  try {
    FUZZ_CHECK(FromGbk(station::ToGbk(text)) == text);
  } catch (const std::runtime_error&) {
  }

  station::LocalDateTime when;
  when.year = input.ConsumeIntegral<int>();
  when.month = input.ConsumeIntegral<int>();
  when.day = input.ConsumeIntegral<int>();
  when.hour = input.ConsumeIntegral<int>();
  when.minute = input.ConsumeIntegral<int>();
  when.second = input.ConsumeIntegral<int>();
  const std::string name = station::CardListFileName(when);
  FUZZ_CHECK(name.find('/') == std::string::npos && name != ".." && name.ends_with(".txt"));

  const auto path = folder.Path() / name;
  std::string expected;
  const int saves = input.ConsumeIntegralInRange(1, 3);
  for (int save = 0; save < saves; ++save) {
    std::vector<std::string> lines;
    const int count = input.ConsumeIntegralInRange(0, 8);
    for (int k = 0; k < count; ++k) {
      const int track = input.ConsumeBool() ? 2 : 3;
      const std::string trackText = input.ConsumeRandomLengthString(120);
      const std::string line = station::CardListLineBytes(track, trackText);
      const std::string label = station::ToGbk(track == 2 ? station::kTrack2CardLabel : station::kTrack3CardLabel);
      FUZZ_CHECK(line == label + trackText);
      lines.push_back(line);
      expected += line + "\r\n";
    }
    FUZZ_CHECK(station::SaveCardList(folder.Path(), when, lines) == std::filesystem::absolute(path));
  }
  FUZZ_CHECK(fuzz::ReadFile(path) == expected);
  std::filesystem::remove(path);
  return 0;
}
