// The journal's cost per written card on the embedded SQLite file (WAL,
// synchronous FULL: one flush to the disk per committed card) and on the
// PostgreSQL server of CARDSTATION_BENCH_PG_URI, each on an empty journal
// (/cards:0) and on one already holding a million written cards and their
// number rows (/cards:1000000):
//   Reserve        a card's number reserved before it is sent (one commit)
//   FindWritten    the duplicate lookup before a card, half of them hits
//   Record         the card's record when the device reports success (one commit)
//   ContinuousCard a card of a continuous run: the look for the first free
//                  number, its reservation and its record
//   FirstPage      写卡记录's first page: the newest id, then the newest 5,000 cards
//   SearchNumber   写卡记录's search for one card number
//   StationStart   the lookups of a start, with and without their indexes
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <string>

#include "BenchJournal.h"
#include "journal/Journal.h"

namespace {

constexpr int kFullJournal = 1000000;

journal::WrittenCard Card(const std::string& number, const QString& station = QStringLiteral("bench")) {
  journal::WrittenCard card;
  card.station = station;
  card.port = QStringLiteral("COM1");
  card.devicePath = QStringLiteral("/dev/ttyUSB0");
  card.kind = journal::RunKind::continuous;
  card.tracks.append(journal::WrittenTrack{2, number, {}, 0});
  return card;
}

std::string Next(const std::string& text) { return std::to_string(std::stoll(text) + 1); }

// A journal of the wanted size on the wanted store, for one benchmark.
class BenchJournal {
 public:
  BenchJournal(benchmark::State& state, bool server) {
    const int cards = static_cast<int>(state.range(0));
    if (server) {
      if (bench::ServerUri().isEmpty()) {
        state.SkipWithError("CARDSTATION_BENCH_PG_URI is not set");
        return;
      }
      if (cards > 0) {
        location_ = bench::FilledServerJournal(bench::ServerUri(), cards);
      } else {
        schema_.emplace(bench::ServerUri());
        location_ = schema_->uri();
      }
      journal_ = journal::Journal::OpenPostgres(location_);
      journal_->CheckConnection();
    } else {
      location_ = dir_.filePath(QStringLiteral("cards.db"));
      if (cards > 0) bench::CopyFilledSqliteJournal(location_, cards);
      journal_ = journal::Journal::OpenSqlite(location_);
    }
  }
  journal::Journal* get() { return journal_.get(); }
  // The file or the server URI.
  const QString& location() const { return location_; }
  // The first number of this benchmark's own cards.
  long long fresh() const { return fresh_; }

 private:
  QTemporaryDir dir_;
  QString location_;
  std::optional<bench::ServerSchema> schema_;
  std::unique_ptr<journal::Journal> journal_;
  long long fresh_ = bench::FreshNumbers();
};

void BM_Reserve(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  long long number = journal.fresh();
  for (auto _ : state) {
    if (!journal.get()->Reserve(QStringLiteral("bench"), {{2, std::to_string(number++)}}).isEmpty())
      state.SkipWithError("number taken");
  }
}

void BM_FindWritten(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  // On the empty journal the hits are a thousand cards recorded first.
  if (state.range(0) == 0) {
    for (int i = 0; i < 1000; ++i) journal.get()->RecordWrittenCard(Card(std::to_string(bench::kFirstBulkNumber + i)));
  }
  const long long span = state.range(0) > 0 ? state.range(0) : 1000;
  long long i = 0;
  for (auto _ : state) {
    // Alternately a number in the middle of the written ones and one never written.
    const long long n = (i++ * 7919) % span;
    const long long number = (i % 2 == 0) ? bench::kFirstBulkNumber + n : journal.fresh() + n;
    benchmark::DoNotOptimize(journal.get()->FindWritten(2, std::to_string(number)));
  }
}

void BM_Record(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  long long number = journal.fresh();
  for (auto _ : state) journal.get()->RecordWrittenCard(Card(std::to_string(number++)));
}

void BM_ContinuousCard(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  const QString station = QStringLiteral("bench");
  std::string number = std::to_string(journal.fresh());
  for (auto _ : state) {
    const journal::Reservation reserved = journal.get()->ReserveOrStep(
        station, {{2, number}}, false, [](int, const std::string& text) { return Next(text); });
    if (!reserved.taken.isEmpty()) state.SkipWithError("number taken");
    if (!reserved.stepped.isEmpty()) number = reserved.stepped[0].text;
    journal.get()->RecordWrittenCard(Card(number));
    number = Next(number);
  }
}

void BM_FirstPage(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  for (int i = 0; i < 100; ++i) journal.get()->RecordWrittenCard(Card(std::to_string(journal.fresh() + i)));
  for (auto _ : state) {
    journal::CardQuery query;
    query.upToId = journal.get()->LastCardId();
    benchmark::DoNotOptimize(journal.get()->Cards(query));
  }
}

void BM_SearchNumber(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  for (int i = 0; i < 100; ++i) journal.get()->RecordWrittenCard(Card(std::to_string(journal.fresh() + i)));
  for (auto _ : state) {
    journal::CardQuery query;
    query.text = QString::number(journal.fresh() + 50);
    query.upToId = journal.get()->LastCardId();
    if (journal.get()->Cards(query).size() != 1) state.SkipWithError("the search did not find the card");
  }
}

// What a start of the station asks of the journal before the operator can
// work: its leftover reservations become unconfirmed and its unsaved lines come
// back; /indexes:0 drops the indexes that serve the two (on the server until
// the next opening of the journal puts them back).
void BM_StationStart(benchmark::State& state, bool server) {
  BenchJournal journal(state, server);
  if (!journal.get()) return;
  if (state.range(1) == 0) {
    bench::RunOnJournal(journal.location(), {QStringLiteral("DROP INDEX written_card_station"),
                                             QStringLiteral("DROP INDEX card_number_reserved")});
  }
  // A station of its own: the full journal on the server is shared by the runs.
  const QString station = QStringLiteral("start-%1").arg(journal.fresh());
  for (int i = 0; i < 10; ++i) journal.get()->RecordWrittenCard(Card(std::to_string(journal.fresh() + i), station));
  for (auto _ : state) {
    journal.get()->UnconfirmLeftoverReservations(station);
    if (journal.get()->UnsavedLines(station).size() != 10) state.SkipWithError("unsaved lines missing");
  }
}
BENCHMARK_CAPTURE(BM_StationStart, sqlite, false)
    ->ArgNames({"cards", "indexes"})
    ->ArgsProduct({{0, kFullJournal}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StationStart, postgres, true)
    ->ArgNames({"cards", "indexes"})
    ->ArgsProduct({{0, kFullJournal}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A few repetitions each: the machine is shared, and a full journal takes a
// while to prepare.
#define JOURNAL_BENCH(name, unit)                                                                                 \
  BENCHMARK_CAPTURE(name, sqlite, false)->ArgName("cards")->Arg(0)->Arg(kFullJournal)->Unit(unit)->UseRealTime(); \
  BENCHMARK_CAPTURE(name, postgres, true)->ArgName("cards")->Arg(0)->Arg(kFullJournal)->Unit(unit)->UseRealTime()

JOURNAL_BENCH(BM_Reserve, benchmark::kMillisecond);
JOURNAL_BENCH(BM_FindWritten, benchmark::kMicrosecond);
JOURNAL_BENCH(BM_Record, benchmark::kMillisecond);
JOURNAL_BENCH(BM_ContinuousCard, benchmark::kMillisecond);
JOURNAL_BENCH(BM_FirstPage, benchmark::kMillisecond);
JOURNAL_BENCH(BM_SearchNumber, benchmark::kMillisecond);

}  // namespace
