// The emulator's control protocol: bytes from a control client, cut into
// lines and run as commands, between the station's bytes and the timers.
// Invariants: the unfinished rest a client leaves stays within
// kMaxControlLine; every line gets exactly one answer line, starting with
// "ok" or "error"; and no timer the commands set is due before the start.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "ControlLines.h"
#include "Emulator.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  auto now = cardsim::Clock::time_point() + std::chrono::hours(1);
  cardsim::Emulator emulator(cardsim::Deck(), cardsim::EmulatorConfig{}, now);
  std::string buffer;
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        buffer += input.ConsumeRandomLengthString(5000);
        for (const std::string& line : cardsim::TakeControlLines(buffer)) {
          const std::string answer = emulator.Control(line, now);
          FUZZ_CHECK(answer.starts_with("ok") || answer.starts_with("error"));
          FUZZ_CHECK(answer.find('\n') == std::string::npos);
        }
        FUZZ_CHECK(buffer.size() <= cardsim::kMaxControlLine && buffer.find('\n') == std::string::npos);
        break;
      case 1: emulator.OnInput(input.ConsumeRandomLengthString(200), now); break;
      case 2:
        now += cardsim::Millis(input.ConsumeIntegralInRange(0, 5000));
        emulator.Advance(now);
        break;
      case 3:
        if (const auto next = emulator.NextDeadline()) {
          FUZZ_CHECK(*next >= cardsim::Clock::time_point());
          now = std::max(now, *next);
          emulator.Advance(now);
        }
        break;
    }
    // As the event loop does: a hang-up closes the line, a reopen opens it.
    switch (emulator.TakeLineRequest()) {
      case cardsim::Emulator::LineRequest::kNone: break;
      case cardsim::Emulator::LineRequest::kHangUp: emulator.SetLineUp(false); break;
      case cardsim::Emulator::LineRequest::kReopen: emulator.SetLineUp(true); break;
    }
    emulator.TakeNotes();
  }
  return 0;
}
