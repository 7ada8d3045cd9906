// The journal's cost per written card: one committed transaction on the
// embedded SQLite file (WAL, synchronous FULL), so one flush to the disk per
// card. The duplicate lookup that precedes every card is measured beside it.
// A card of a continuous run against the shared journal costs a look for the
// first free number, its reservation and its record; measured on the embedded
// file and on the PostgreSQL server of CARDSTATION_BENCH_PG_URI.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <string>

#include "journal/Journal.h"
#include "ServerStatement.h"
#include "journal/PostgresUri.h"

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

std::string Next(const std::string& text) { return std::to_string(std::stoll(text) + 1); }

// One card: the first free number from the last one, reserved, then recorded.
void RunCards(benchmark::State& state, journal::Journal& journal) {
  const QString station = QStringLiteral("bench");
  std::string number = "10000001";
  for (auto _ : state) {
    number = journal.FirstFree(station, 2, number, Next).text;
    if (!journal.Reserve(station, {{2, number}}).isEmpty()) state.SkipWithError("number taken");
    journal::WrittenCard card = Card(0);
    card.tracks[0].text = number;
    journal.RecordWrittenCard(card);
    number = Next(number);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ContinuousCardSqlite(benchmark::State& state) {
  QTemporaryDir dir;
  auto journal = journal::Journal::OpenSqlite(dir.filePath(QStringLiteral("cards.db")));
  RunCards(state, *journal);
}
BENCHMARK(BM_ContinuousCardSqlite)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_ContinuousCardPostgres(benchmark::State& state) {
  const QString uri = qEnvironmentVariable("CARDSTATION_BENCH_PG_URI");
  if (uri.isEmpty()) {
    state.SkipWithError("CARDSTATION_BENCH_PG_URI is not set");
    for (auto _ : state) {
    }
    return;
  }
  // A schema of the run's own, so that every run starts from an empty journal.
  const QString schema = QStringLiteral("bench_") + QUuid::createUuid().toString(QUuid::Id128);
  ServerStatement(uri, QStringLiteral("CREATE SCHEMA ") + schema);
  {
    const QString scoped = uri + (uri.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) +
                           QStringLiteral("options=-c%20search_path%3D") + schema;
    auto journal = journal::Journal::OpenPostgres(scoped);
    RunCards(state, *journal);
  }
  ServerStatement(uri, QStringLiteral("SET client_min_messages TO warning; DROP SCHEMA ") + schema + QStringLiteral(" CASCADE"));
}
BENCHMARK(BM_ContinuousCardPostgres)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
