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
#include "station/CardSession.h"
#include "station/ReadReply.h"

namespace {

using station::TextSlot;

// The window's part, as far as the replies reach it: the form as the operator
// left it, a port that stays open, a journal that records every card.
class Effects : public station::SessionEffects {
 public:
  station::StationForm form;
  std::string sinceWrite;  // reply bytes since the last write command
  std::string sinceRead;   // reply bytes since the last read command
  int recordedSinceWrite = 0;
  bool timer = false;
  bool tailWait = false;

  void Reply(std::string_view bytes) {
    sinceWrite += bytes;
    sinceRead += bytes;
  }

  bool PortOpen() override { return true; }
  bool OpenPort(std::optional<std::uint16_t>) override { return true; }
  void TryOpenPort() override {}
  void ClosePort() override {}
  std::uint16_t PortNumber() override { return 1; }
  void Send(std::string_view bytes) override {
    if (bytes.starts_with("\x1Bt")) {
      sinceWrite.clear();
      recordedSinceWrite = 0;
    } else if (bytes.ends_with("]\x1Bj")) {
      sinceRead.clear();
    }
  }
  void AwaitMoreReply() override {}
  void ShowText(TextSlot, const std::string&) override {}
  void SetTrackText(int track, const std::string& bytes) override {
    (track == 2 ? form.track2 : form.track3).text = bytes;
  }
  void AddWrittenCard(int, const std::string&, std::int64_t) override { FUZZ_CHECK(recordedSinceWrite == 1); }
  void Message(const std::string&) override {}
  void Warning(const std::string&) override {}
  void Beep() override {}
  void Focus(station::FocusTarget) override {}
  void ShowWriteMode(const station::WriteModeLook&) override {}
  void EnableTrackBoxes(bool) override {}
  void StartTimer() override { timer = true; }
  void StopTimer() override { timer = false; }
  station::StationForm Form() override { return form; }
  void KeepCardListInBounds() override {}
  bool RecordsLeft(int) override { return false; }
  void LoadNextRecord(int) override {}
  void EndFileTrack(int) override {}
  std::int64_t RecordWrittenCard(const station::WrittenCardRecord&) override {
    FUZZ_CHECK(sinceWrite.find("rp") != std::string::npos);
    FUZZ_CHECK(++recordedSinceWrite == 1);
    return 1;
  }
  void RecordReadCard(const std::optional<std::string>&, const std::optional<std::string>&) override {
    FUZZ_CHECK(sinceRead.find("?\x1C") != std::string::npos);
  }
  bool Ask(const std::string&) override { return false; }
  void StartReplyTailWait() override { tailWait = true; }
  void StopReplyTailWait() override { tailWait = false; }
  bool ReopenPort() override { return true; }
  void StartReconnectTimer() override {}
  void StopReconnectTimer() override {}
  std::string OpenFailureDetail() override { return {}; }
  std::vector<station::TakenNumber> ReserveNumbers(const station::WrittenCardRecord&, bool) override { return {}; }
  std::string FirstFreeNumber(int, const std::string& start, std::uint64_t) override { return start; }
  void CancelReservation(const station::WrittenCardRecord&) override {}
  void MarkUnconfirmed(const station::WrittenCardRecord&, station::Undecided) override {}
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
  station::CardSession session(fx);
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
      case 3:
        reading ? session.StatusPressed() : session.ResetPressed();
        break;
    }
  }
  session.Closing();
  return 0;
}
