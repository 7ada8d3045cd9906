// The session's judging of the device's replies, with a read or a write
// armed, the reply bytes cut into chunks, the one-second timer ticking and the
// wait for a reply's tail running out between them.
// Invariants: a card is recorded written only when the bytes that came since
// its write command hold "rp", and at most once per command sent; a card is
// recorded read only when the bytes since the read command hold '?' FS; the
// reply kept between chunks never outgrows the longest read reply.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "QuietRoles.h"
#include "core/CardSession.h"
#include "core/ReadReply.h"

namespace {

// The window's part, as far as the replies reach it: the form as the operator
// left it, a port that stays open, a journal that records every card.
class Effects : public station::testing_support::QuietPort,
                public station::testing_support::QuietTimers,
                public station::testing_support::QuietScreen,
                public station::testing_support::QuietForm,
                public station::testing_support::QuietJournal {
 public:
  std::string sinceWrite;  // reply bytes since the last write command
  std::string sinceRead;   // reply bytes since the last read command
  int recordedSinceWrite = 0;
  bool timer = false;
  bool tailWait = false;

  station::SessionRoles Roles() { return {*this, *this, *this, *this, *this}; }

  void Reply(std::string_view bytes) {
    sinceWrite += bytes;
    sinceRead += bytes;
  }

  void Send(std::string_view bytes) override {
    if (bytes.starts_with("\x1Bt")) {
      sinceWrite.clear();
      recordedSinceWrite = 0;
    } else if (bytes.ends_with("]\x1Bj")) {
      sinceRead.clear();
    }
  }
  void SetTrackText(int track, const std::string& bytes) override {
    (track == 2 ? form.track2 : form.track3).text = bytes;
  }
  void AddWrittenCard(int, const std::string&, std::int64_t) override { FUZZ_CHECK(recordedSinceWrite == 1); }
  void StartTimer() override { timer = true; }
  void StopTimer() override { timer = false; }
  void StartReplyTailWait() override { tailWait = true; }
  void StopReplyTailWait() override { tailWait = false; }
  std::int64_t RecordWrittenCard(const station::WrittenCardRecord&) override {
    FUZZ_CHECK(sinceWrite.find("rp") != std::string::npos);
    FUZZ_CHECK(++recordedSinceWrite == 1);
    return 1;
  }
  void RecordReadCard(const std::optional<std::string>&, const std::optional<std::string>&) override {
    FUZZ_CHECK(sinceRead.find("?\x1C") != std::string::npos);
  }
};

// Mostly characters a track can carry, so that most writes go out.
std::string TrackText(FuzzedDataProvider& input) {
  std::string text = input.ConsumeRandomLengthString(12);
  if (input.ConsumeBool()) {
    for (char& c : text) c = static_cast<char>('0' + static_cast<unsigned char>(c) % 16);
  }
  return text;
}

station::TrackForm Track(FuzzedDataProvider& input) {
  station::TrackForm track;
  track.ticked = input.ConsumeBool();
  track.continuous = input.ConsumeBool();
  track.step = input.ConsumeBool() ? "1" : "7";
  track.text = TrackText(input);
  return track;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Effects fx;
  fx.form.track2 = Track(input);
  fx.form.track3 = Track(input);
  fx.form.writeCount = std::to_string(input.ConsumeIntegralInRange(0, 4));
  station::CardSession session(fx.Roles());
  const bool reading = input.ConsumeBool();
  reading ? session.ReadPressed() : session.WritePressed();

  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        const std::string chunk = input.ConsumeRandomLengthString(64);
        fx.Reply(chunk);
        session.ReplyBytes(chunk);
        FUZZ_CHECK(session.replyHex().size() <= station::kLongestReadReplyHex);
        break;
      }
      case 1:
        if (fx.timer) session.TimerTick();
        break;
      case 2:
        if (fx.tailWait) {
          fx.tailWait = false;
          session.ReplyTailWaitOver();
        }
        break;
      case 3: reading ? session.StatusPressed() : session.ResetPressed(); break;
    }
  }
  session.Closing();
  return 0;
}
