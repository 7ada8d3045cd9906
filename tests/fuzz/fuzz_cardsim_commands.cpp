// The emulator's parser of the station's command bytes, and the device behind it.
// Invariants: the commands found do not depend on how the bytes are cut into
// pieces (nor do the skipped and dropped counts); a write command never
// carries more than a frame holds; the device answers every command with one
// of its replies (or nothing), and a swipe writes a card only with a command
// the card can take.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Device.h"
#include "FuzzCheck.h"
#include "Protocol.h"

namespace {

bool KnownReply(const std::string& reply) {
  return reply.empty() || reply == cardsim::kStatusReply || reply == cardsim::kReadErrorReply ||
         reply == cardsim::kWriteSuccessReply || reply == cardsim::kWriteFailureReply ||
         (reply.starts_with("\x1Bs") && reply.ends_with("?\x1C"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto cuts = input.ConsumeIntegral<std::uint32_t>();
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  cardsim::CommandParser whole;
  const std::vector<cardsim::Command> expected = whole.Feed(bytes);

  // The same bytes in pieces whose lengths the seed picks, one to eight bytes.
  cardsim::CommandParser pieces;
  std::vector<cardsim::Command> found;
  std::uint32_t seed = cuts;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = 1 + seed % 8;
    seed = seed * 1103515245u + 12345u;
    for (cardsim::Command& c : pieces.Feed(std::string_view(bytes).substr(at, length))) found.push_back(std::move(c));
    at += length;
  }
  FUZZ_CHECK(found == expected);
  FUZZ_CHECK(pieces.skippedBytes() == whole.skippedBytes());
  FUZZ_CHECK(pieces.droppedFrames() == whole.droppedFrames());

  cardsim::Device device;
  cardsim::Card card{"1234", "5678"};
  for (const cardsim::Command& command : expected) {
    if (command.kind == cardsim::CommandKind::kWrite) {
      // The frame held the tracks and GS (and 'A' when track 3 came).
      FUZZ_CHECK(command.track2.size() + command.track3.size() + 1 <= cardsim::kMaxFrameBytes);
    }
    FUZZ_CHECK(KnownReply(device.OnCommand(command)));
    const bool writable = device.mode() == cardsim::Mode::kWrite && cardsim::Writable(device.armedWrite());
    const cardsim::Card before = card;
    const cardsim::Device::Swipe swipe = device.SwipeCard(card, false);
    FUZZ_CHECK(KnownReply(swipe.reply));
    FUZZ_CHECK(writable == (swipe.result == cardsim::SwipeResult::kWritten));
    if (swipe.result != cardsim::SwipeResult::kWritten) FUZZ_CHECK(card == before);
  }
  return 0;
}
