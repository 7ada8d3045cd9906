// The judging and cutting of a read reply, over the chunks the device sends.
// Invariants: after every chunk the judgement of the kept tail is the one of
// the whole reply; the kept tail never outgrows kLongestReadReplyHex; a reply
// is complete only when its bytes hold '?' FS, and a track text is cut only
// from a complete reply, never longer than the reply.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "core/HexText.h"
#include "core/ReadReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int tracks = input.ConsumeIntegralInRange(1, 3);
  std::string whole;  // raw bytes since the last judgement that was not incomplete
  std::string kept;   // hex text, as the session keeps it
  while (input.remaining_bytes() > 0) {
    const std::string chunk = input.ConsumeRandomLengthString(600);
    whole += chunk;
    kept += station::TextToHex(chunk);
    const station::ReadReplyKind kind = station::JudgeReadReply(kept);
    FUZZ_CHECK(kind == station::JudgeReadReply(station::TextToHex(whole)));
    if (kind == station::ReadReplyKind::incomplete) {
      station::KeepReadReplyTail(kept);
      FUZZ_CHECK(kept.size() <= station::kLongestReadReplyHex && kept.size() % 2 == 0);
      continue;
    }
    if (kind == station::ReadReplyKind::complete) {
      FUZZ_CHECK(whole.find("?\x1C") != std::string::npos);
      const station::ReadTrackTexts texts = station::CutReadReply(kept, tracks);
      if (texts.track2) FUZZ_CHECK(texts.track2->size() * 2 <= kept.size());
      if (texts.track3) FUZZ_CHECK(texts.track3->size() * 2 <= kept.size());
      FUZZ_CHECK(!texts.track2 || tracks != station::kTrack3Only);
      FUZZ_CHECK(!texts.track3 || tracks != station::kTrack2Only);
    }
    whole.clear();
    kept.clear();
  }
  return 0;
}
