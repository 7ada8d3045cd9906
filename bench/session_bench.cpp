// The card session judging line noise while a read or a write is armed: CPU
// time per MiB of noise arriving in 8 KiB chunks, as the port hands it over
// when the line is full. No port and no pauses: the session alone.

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "QuietRoles.h"
#include "core/CardSession.h"

namespace {

// Every role quiet: the port is open and track 2 is ticked.
struct QuietStation {
  station::testing_support::QuietPort port;
  station::testing_support::QuietTimers timers;
  station::testing_support::QuietScreen screen;
  station::testing_support::QuietForm form;
  station::testing_support::QuietJournal journal;
  QuietStation() {
    form.form.track2.ticked = true;
    form.form.track2.text = "0042";
  }
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
  station::CardSession session({fx.port, fx.timers, fx.screen, fx.form, fx.journal});
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
