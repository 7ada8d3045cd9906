// A continuous write run of 100 cards against the card device emulator with
// instant swipes, timed from the press of 写卡 to the run's final text. Every
// command holds the main thread for 200 ms after its output has drained, so
// 200 ms per command sent is the floor; the figure of merit is the ratio of
// the measured time to that floor. The run is timed without a journal, with
// the local journal file, and with the shared journal on the PostgreSQL server
// of CARDSTATION_BENCH_PG_URI (in a schema of the run's own, so that every
// number is free), where each card is reserved before it is sent; then again
// with each journal already holding a million written cards. Beside the time,
// the process's resident memory before the window is made and its peak from
// then to the end of the run.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "BenchJournal.h"
#include "FindControl.h"
#include "Protocol.h"
#include "station/MainWindow.h"

namespace {

using station::testing_support::Find;

constexpr int kCards = 100;

class SilentPrompts : public Prompts {
 public:
  void Message(const QString&) override {}
  void Info(const QString&) override {}
  void Error(const QString&) override {}
  QString OpenFileName(QWidget*) override { return {}; }
  void Beep() override {}
  bool Question(const QString&) override { return true; }
};

// Waits in the event loop, as the program's own loop does: the thread sleeps
// until an event comes (a reply of the device, a journal call done), and a
// check each millisecond sees the condition. A loop that polled with sleeps
// between would add its sleep to every card's reply.
bool WaitFor(const std::function<bool()>& pred, std::chrono::seconds limit) {
  if (pred()) return true;
  QEventLoop loop;
  QTimer check;
  check.setTimerType(Qt::PreciseTimer);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool met = false;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    met = pred();
    if (met || std::chrono::steady_clock::now() >= deadline) loop.quit();
  });
  check.start(1);
  loop.exec();
  return met;
}

// Commands the device received, counted from the emulator's byte log.
int CommandsInLog(const std::filesystem::path& log) {
  std::ifstream in(log);
  std::string line;
  std::string bytes;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string date, time, tag;
    fields >> date >> time >> tag;
    if (tag != "rx") continue;
    for (std::string hex; fields >> hex;) bytes.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
  }
  cardsim::CommandParser parser;
  return static_cast<int>(parser.Feed(bytes).size());
}

void BM_ContinuousRun100Cards(benchmark::State& state) {
  const QString server = bench::ServerUri();
  const bool onServer = state.range(0) == 2 || state.range(0) == 4;
  if (onServer && server.isEmpty()) {
    state.SkipWithError("CARDSTATION_BENCH_PG_URI is not set");
    return;
  }
  // Nothing goes beside the executable: the device log, the lists and the
  // journal live in a folder of their own.
  QTemporaryDir folder;
  const std::filesystem::path work = folder.path().toStdString();
  const std::filesystem::path log = work / "station_bench_device.log";
  QProcess emulator;
  emulator.start(QStringLiteral(CARDSIM_EXE), {QStringLiteral("--auto-swipe"), QStringLiteral("0"),
                                               QStringLiteral("--log"), QString::fromStdString(log.string())});
  if (!emulator.waitForStarted(5000) || !WaitFor([&] { return emulator.canReadLine(); }, std::chrono::seconds(10))) {
    state.SkipWithError("the card device emulator did not start");
    return;
  }
  const std::string devicePath = emulator.readLine().trimmed().toStdString();

  StationConfig config;
  config.portName = [] { return std::string("COM1"); };
  config.devicePath = [devicePath](std::uint16_t) { return devicePath; };
  config.listFolder = [work] { return work; };
  config.settingsPath = work / "VavizEvu.ini";
  config.stationName = "bench";
  // range(0): 0 without a journal, 1 with the card journal in the fresh
  // folder, 2 with the shared journal in a fresh schema on the server; 3 and 4
  // the same journals holding a million written cards of another station.
  if (state.range(0) != 0) config.journalFolder = work;
  std::optional<bench::ServerSchema> schema;
  if (state.range(0) == 2) {
    schema.emplace(server);
    config.database = schema->uri().toStdString();
  }
  if (state.range(0) == 3)
    bench::CopyFilledSqliteJournal(QString::fromStdString((work / "cards.db").string()), 1000000);
  if (state.range(0) == 4) config.database = bench::FilledServerJournal(server, 1000000).toStdString();
  // Numbers of the run's own, so that every card of the run is free.
  const long long firstNumber = bench::FreshNumbers();
  const long rssBefore = bench::StatusKiB("VmRSS");
  bench::ResetPeakRss();
  TForm1 form(config);
  form.SetPrompts(std::make_unique<SilentPrompts>());
  // The journal opens on the event loop's first turn; a large file's check
  // takes a second or more. An operator starts a run after that, and the
  // opening is start-up's cost (startup_bench), not the cards'.
  if (state.range(0) != 0 && !WaitFor([&] { return form.journal() != nullptr; }, std::chrono::seconds(120))) {
    state.SkipWithError("the journal did not open");
    return;
  }
  Find<QToolButton>(form, "ToolButton5")->click();
  if (!form.port().Open()) {
    state.SkipWithError("the port did not open");
    return;
  }
  Find<QCheckBox>(form, "TK2CheckBox")->setChecked(true);
  Find<QCheckBox>(form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(form, "TK2StepEdit")->setText(QStringLiteral("1"));
  Find<QLineEdit>(form, "WriteCountEdit")->setText(QString::number(kCards));
  const QString finalText = QStringLiteral("写卡提示信息:%1次写成功,写卡完毕！").arg(kCards);

  double seconds = 0;
  int commands = 0;
  for (auto _ : state) {
    Find<QPlainTextEdit>(form, "Track2Memo")->setPlainText(QString::number(firstNumber));
    Find<QLabel>(form, "st1")->clear();
    const int before = CommandsInLog(log);
    const auto start = std::chrono::steady_clock::now();
    Find<QPushButton>(form, "BitBtn3")->click();
    if (!WaitFor([&] { return Find<QLabel>(form, "st1")->text() == finalText; }, std::chrono::seconds(300))) {
      state.SkipWithError("the run did not finish");
      break;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    seconds += elapsed.count();
    // The emulator logs a command as it reads it, long before the station's
    // pause after that command ends, so the log is complete here.
    commands += CommandsInLog(log) - before;
  }
  Find<QToolButton>(form, "ToolButton6")->click();
  state.counters["rss_before_MiB"] = static_cast<double>(rssBefore) / 1024;
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::StatusKiB("VmHWM")) / 1024;
  emulator.write("quit\n");
  emulator.waitForFinished(5000);
  if (commands > 0) {
    state.counters["commands"] = commands;
    state.counters["ratio"] = seconds / (0.2 * commands);
    state.counters["ms_per_card"] = 1000 * seconds / kCards;
  }
}
BENCHMARK(BM_ContinuousRun100Cards)
    ->ArgName("journal")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
