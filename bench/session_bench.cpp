// The card session judging line noise while a read or a write is armed: CPU
// time per MiB of noise arriving in 8 KiB chunks, as the port hands it over
// when the line is full. No port and no pauses: the session alone.

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "station/CardSession.h"

namespace {

// Effects that do nothing: the port is open and track 2 is ticked.
class QuietStation : public station::SessionEffects {
 public:
  bool PortOpen() override { return true; }
  bool OpenPort(std::optional<std::uint16_t>) override { return true; }
  void TryOpenPort() override {}
  void ClosePort() override {}
  std::uint16_t PortNumber() override { return 1; }
  void Send(std::string_view) override {}
  void AwaitMoreReply() override {}
  void ShowText(station::TextSlot, const std::string&) override {}
  void SetTrackText(int, const std::string&) override {}
  void AddWrittenCard(int, const std::string&, std::int64_t) override {}
  void Message(const std::string&) override {}
  void Warning(const std::string&) override {}
  void Beep() override {}
  void Focus(station::FocusTarget) override {}
  void ShowWriteMode(const station::WriteModeLook&) override {}
  void EnableTrackBoxes(bool) override {}
  void StartTimer() override {}
  void StopTimer() override {}
  station::StationForm Form() override {
    station::StationForm form;
    form.track2.ticked = true;
    form.track2.text = "0042";
    return form;
  }
  void KeepCardListInBounds() override {}
  bool RecordsLeft(int) override { return false; }
  void LoadNextRecord(int) override {}
  void EndFileTrack(int) override {}
  std::int64_t RecordWrittenCard(const station::WrittenCardRecord&) override { return 1; }
  void RecordReadCard(const std::optional<std::string>&, const std::optional<std::string>&) override {}
  bool Ask(const std::string&) override { return true; }
  void StartReplyTailWait() override {}
  void StopReplyTailWait() override {}
  bool ReopenPort() override { return true; }
  void StartReconnectTimer() override {}
  void StopReconnectTimer() override {}
  std::string OpenFailureDetail() override { return {}; }
  std::vector<station::TakenNumber> ReserveNumbers(const station::WrittenCardRecord&, bool) override { return {}; }
  std::string FirstFreeNumber(int, const std::string& start, std::uint64_t) override { return start; }
  void CancelReservation(const station::WrittenCardRecord&) override {}
  void MarkUnconfirmed(const station::WrittenCardRecord&, station::Undecided) override {}
};

constexpr std::size_t kChunk = 8192;
constexpr std::size_t kMiB = 1024 * 1024;

// Random bytes that hold no reply pattern, so every chunk stays unanswered.
std::string Noise(bool endInEsc) {
  const std::string patternBytes("r?\x1C\x1B\xF1\xB7", 6);
  std::mt19937 random(7);
  std::string noise;
  while (noise.size() < kChunk - (endInEsc ? 1 : 0)) {
    const char c = static_cast<char>(random() & 0xFF);
    if (patternBytes.find(c) == std::string::npos) noise.push_back(c);
  }
  if (endInEsc) noise.push_back('\x1B');
  return noise;
}

// One iteration is one MiB of noise; state.range(0) 0 arms a read, 1 a write
// whose every chunk ends like the start of the success reply.
void BM_NoiseWhileArmed(benchmark::State& state) {
  const bool write = state.range(0) == 1;
  QuietStation fx;
  station::CardSession session(fx);
  write ? session.WritePressed() : session.ReadPressed();
  const std::string chunk = Noise(write);
  for (auto _ : state) {
    for (std::size_t sent = 0; sent < kMiB; sent += chunk.size()) session.ReplyBytes(chunk);
    benchmark::DoNotOptimize(session.replyHex().size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMiB));
  state.SetLabel(write ? "write armed" : "read armed");
}
BENCHMARK(BM_NoiseWhileArmed)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
