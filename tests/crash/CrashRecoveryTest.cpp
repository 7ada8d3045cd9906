// A station killed with SIGKILL in the middle of a continuous run loses no
// card, also when its journal's WAL went away before: after the next start
// every card the device wrote is in the journal and in the written-card list,
// and none is there twice.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>

#include "FindControl.h"
#include "journal/Journal.h"
#include "station/MainWindow.h"

namespace {

using station::testing_support::Find;

constexpr int kCards = 200;

bool WaitFor(const std::function<bool()>& pred, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(20);
  }
  return true;
}

// Track 2 of every written card in the emulator's deck file.
std::vector<std::string> DeckNumbers(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> numbers;
  for (std::string line; std::getline(in, line);) {
    const std::string track2 = line.substr(0, line.find('\t'));
    if (!track2.empty()) numbers.push_back(track2);
  }
  return numbers;
}

// The card device emulator and a crash station running a continuous run on it.
class CrashRun {
 public:
  void Start(const char* first) {
    ASSERT_TRUE(work_.isValid());
    deck_ = work_.filePath(QStringLiteral("deck.txt")).toStdString();
    emulator_.start(QStringLiteral(CARDSIM_EXE), {QStringLiteral("--auto-swipe"), QStringLiteral("0"),
                                                  QStringLiteral("--deck"), QString::fromStdString(deck_)});
    ASSERT_TRUE(emulator_.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return emulator_.canReadLine(); }, std::chrono::seconds(10)));
    const QString device = QString::fromUtf8(emulator_.readLine()).trimmed();
    QDir().mkpath(JournalFolder());
    QDir().mkpath(ListFolder());
    station_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    station_.start(QStringLiteral(CRASH_STATION_EXE),
                   {device, JournalFolder(), ListFolder(), QString::number(kCards), QString::fromLatin1(first)});
    ASSERT_TRUE(station_.waitForStarted(5000));
  }
  void Kill() {
    ::kill(static_cast<pid_t>(station_.processId()), SIGKILL);
    ASSERT_TRUE(station_.waitForFinished(5000));
    emulator_.write("quit\n");
    emulator_.waitForFinished(5000);
  }
  std::vector<std::string> Written() const { return DeckNumbers(deck_); }
  QString JournalFolder() const { return work_.filePath(QStringLiteral("journal")); }
  QString ListFolder() const { return work_.filePath(QStringLiteral("lists")); }

  // After the next start every card the device wrote is in the journal and
  // in the written-card list once.
  void ExpectEveryCardOnceAfterRestart() const {
    const std::vector<std::string> written = Written();
    ASSERT_LT(written.size(), static_cast<std::size_t>(kCards)) << "the run ended before the kill";
    StationConfig config;
    config.portName = [] { return std::string("com1"); };
    config.devicePath = [](std::uint16_t) { return std::string("/nonexistent"); };
    const std::string lists = ListFolder().toStdString();
    config.listFolder = [lists] { return std::filesystem::path(lists); };
    config.journalFolder = JournalFolder().toStdString();
    config.stationName = "crash";
    TForm1 restarted(config);
    ASSERT_NE(restarted.journal(), nullptr);

    std::map<std::string, int> journaled;
    for (const journal::CardRow& row : restarted.journal()->Cards({})) {
      if (row.track2) ++journaled[row.track2->text];
    }
    std::map<std::string, int> listed;
    for (const QString& line :
         Find<QPlainTextEdit>(restarted, "Memo1")->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      ++listed[line.section(QLatin1Char(':'), 1).toStdString()];
    }
    // The device may have written one card whose reply the killed station
    // never took: it can only be the last one in the deck.
    std::size_t inFlight = 0;
    for (std::size_t i = 0; i < written.size(); ++i) {
      const std::string& number = written[i];
      if (journaled.count(number) == 0 && i + 1 == written.size()) {
        ++inFlight;
        continue;
      }
      EXPECT_EQ(journaled[number], 1) << number;
      EXPECT_EQ(listed[number], 1) << number;
    }
    EXPECT_EQ(journaled.size(), written.size() - inFlight) << "nothing journaled that the device did not write";
    EXPECT_EQ(listed.size(), written.size() - inFlight);
  }

 private:
  QTemporaryDir work_;
  std::string deck_;
  QProcess emulator_;
  QProcess station_;
};

TEST(CrashRecovery, KilledMidRunLosesNoCardAndCountsNoneTwice) {
  CrashRun run;
  ASSERT_NO_FATAL_FAILURE(run.Start("1000001"));
  // Killed somewhere in the middle of the run.
  ASSERT_TRUE(WaitFor([&] { return run.Written().size() >= kCards / 3; }, std::chrono::seconds(60)));
  ASSERT_NO_FATAL_FAILURE(run.Kill());
  run.ExpectEveryCardOnceAfterRestart();
}

// The WAL deleted under the running station, which then is killed: the cards
// committed only into the lost WAL were kept beside the journal when the loss
// was found, and come back.
TEST(CrashRecovery, WalDeletedMidRunThenKilledLosesNoCard) {
  CrashRun run;
  ASSERT_NO_FATAL_FAILURE(run.Start("2000001"));
  ASSERT_TRUE(WaitFor([&] { return run.Written().size() >= 5; }, std::chrono::seconds(60)));
  const QString journalFile = QDir(run.JournalFolder()).filePath(QStringLiteral("cards.db"));
  ASSERT_TRUE(QFile::remove(journalFile + QStringLiteral("-wal")));
  // The loss is found at the next card, and the first card kept.
  QFile outbox(journalFile + QStringLiteral(".outbox"));
  ASSERT_TRUE(WaitFor(
      [&] {
        if (!outbox.open(QIODevice::ReadOnly)) return false;
        const bool kept = outbox.readAll().contains("2000001");
        outbox.close();
        return kept;
      },
      std::chrono::seconds(30)));
  ASSERT_NO_FATAL_FAILURE(run.Kill());
  run.ExpectEveryCardOnceAfterRestart();
}

}  // namespace
