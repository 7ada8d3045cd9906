// 导出 of a large journal through the dialog's own path (a row source paging
// the written cards out of the journal, the export writer, the file renamed
// into place): wall time and the peak resident memory of the export. The
// journal is filled once, before the clock starts.
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "BenchJournal.h"
#include "BulkCards.h"
#include "journal/Journal.h"
#include "journal/ui/Export.h"

namespace {

void BM_Export(benchmark::State& state, journal::ExportFormat format) {
  const int cards = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  const QString db = dir.filePath(QStringLiteral("cards.db"));
  auto journal = journal::Journal::OpenSqlite(db);
  AddBulkWrittenCards(db, cards);
  const QString file =
      dir.filePath(format == journal::ExportFormat::xlsx ? QStringLiteral("cards.xlsx") : QStringLiteral("cards.csv"));
  const long before = bench::StatusKiB("VmRSS");
  bench::ResetPeakRss();
  for (auto _ : state) {
    auto source = journal::WrittenCardRows(*journal, journal::CardQuery{});
    const journal::ExportResult result = journal::ExportRecords(*source, format, file);
    if (result.status != journal::ExportResult::Status::written || result.rows != cards) {
      state.SkipWithError("the export did not write every card");
      break;
    }
  }
  state.counters["rss_before_MiB"] = static_cast<double>(before) / 1024;
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::StatusKiB("VmHWM")) / 1024;
  state.counters["file_MiB"] = static_cast<double>(QFileInfo(file).size()) / (1024 * 1024);
  state.SetItemsProcessed(state.iterations() * cards);
}

BENCHMARK_CAPTURE(BM_Export, csv, journal::ExportFormat::csv)
    ->Arg(1000000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Export, xlsx, journal::ExportFormat::xlsx)
    ->Arg(1000000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
