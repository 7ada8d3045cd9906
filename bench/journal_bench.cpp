// The journal's cost per written card: one committed transaction on the
// embedded SQLite file (WAL, synchronous FULL), so one flush to the disk per
// card. The duplicate lookup that precedes every card is measured beside it.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

#include "journal/Journal.h"

namespace {

journal::WrittenCard Card(int number) {
  journal::WrittenCard card;
  card.station = QStringLiteral("bench");
  card.port = QStringLiteral("COM1");
  card.devicePath = QStringLiteral("/dev/ttyUSB0");
  card.kind = journal::RunKind::continuous;
  card.cardIndex = number;
  card.tracks.append(journal::WrittenTrack{2, std::to_string(10000000 + number), {}, 0});
  return card;
}

void BM_RecordWrittenCard(benchmark::State& state) {
  QTemporaryDir dir;
  auto journal = journal::Journal::OpenSqlite(dir.filePath(QStringLiteral("cards.db")));
  int number = 0;
  for (auto _ : state) journal->RecordWrittenCard(Card(++number));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordWrittenCard)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_FindWrittenAmong(benchmark::State& state) {
  QTemporaryDir dir;
  auto journal = journal::Journal::OpenSqlite(dir.filePath(QStringLiteral("cards.db")));
  const int cards = static_cast<int>(state.range(0));
  for (int i = 1; i <= cards; ++i) journal->RecordWrittenCard(Card(i));
  int number = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(journal->FindWritten(2, std::to_string(10000000 + (++number % (2 * cards)))));
  }
}
BENCHMARK(BM_FindWrittenAmong)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
