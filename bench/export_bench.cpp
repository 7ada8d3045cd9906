// 导出 of a large journal through the dialog's own path (a row source paging
// the written cards out of the journal, the export writer, the file renamed
// into place): wall time and the peak resident memory of the export. The
// journal is filled once, before the clock starts.
#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "BulkCards.h"
#include "journal/Journal.h"
#include "journal/ui/Export.h"

namespace {

// The process's resident set in KiB: "VmRSS" now, "VmHWM" its peak.
long StatusKiB(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// Starts the peak over from the present resident set (Linux 4.0 and later).
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_Export(benchmark::State& state, journal::ExportFormat format) {
  const int cards = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  const QString db = dir.filePath(QStringLiteral("cards.db"));
  auto journal = journal::Journal::OpenSqlite(db);
  AddBulkWrittenCards(db, cards);
  const QString file = dir.filePath(format == journal::ExportFormat::xlsx ? QStringLiteral("cards.xlsx")
                                                                           : QStringLiteral("cards.csv"));
  const long before = StatusKiB("VmRSS");
  ResetPeak();
  for (auto _ : state) {
    auto source = journal::WrittenCardRows(*journal, journal::CardQuery{});
    const journal::ExportResult result = journal::ExportRecords(*source, format, file);
    if (result.status != journal::ExportResult::Status::written || result.rows != cards) {
      state.SkipWithError("the export did not write every card");
      break;
    }
  }
  state.counters["rss_before_MiB"] = static_cast<double>(before) / 1024;
  state.counters["peak_rss_MiB"] = static_cast<double>(StatusKiB("VmHWM")) / 1024;
  state.counters["file_MiB"] = static_cast<double>(QFileInfo(file).size()) / (1024 * 1024);
  state.SetItemsProcessed(state.iterations() * cards);
}

BENCHMARK_CAPTURE(BM_Export, csv, journal::ExportFormat::csv)
    ->Arg(1000000)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Export, xlsx, journal::ExportFormat::xlsx)
    ->Arg(1000000)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
