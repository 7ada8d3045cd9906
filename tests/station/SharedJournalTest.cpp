// Stations sharing one journal on a PostgreSQL server, each with its own card
// emulator process: one number range, never a number on two cards.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "../journal/JournalStores.h"
#include "CardEmulator.h"
#include "LongestStall.h"
#include "StationHarness.h"
#include "core/Texts.h"

namespace {

namespace fs = std::filesystem;
using journal::NumberState;
using journal::PrivateServer;
using station::testing_support::CardEmulator;

// One counter of the office: a station window on its own emulator.
struct Counter {
  Counter(const std::string& name, const QString& database, bool autoSwipe) : emulator(autoSwipe) {
    StationConfig config;
    const std::string device = emulator.Path();
    config.portName = [] { return std::string("com1"); };
    config.devicePath = [device](std::uint16_t) { return device; };
    config.listFolder = [this] { return fs::path(lists.path().toStdString()); };
    config.journalFolder = folder.path().toStdString();
    config.database = database.toStdString();
    config.stationName = name;
    // The emulator takes the next command at once; the real device's pause
    // would make a run of 500 cards take minutes.
    config.timings.afterCommand = std::chrono::milliseconds(0);
    // No status polls: a run here is driven by the swipes alone.
    config.timings.tick = std::chrono::hours(24);
    form = std::make_unique<TForm1>(config);
    auto recorder = std::make_unique<RecordingPrompts>();
    prompts = recorder.get();
    form->SetPrompts(std::move(recorder));
    Find<QToolButton>(*form, "ToolButton5")->click();
    form->findChild<QCheckBox*>(QStringLiteral("TK2CheckBox"))->setChecked(true);
  }

  void Write(const QString& first, int count) {
    form->findChild<QCheckBox*>(QStringLiteral("TK2AutoIncCheckBox"))->setChecked(count > 0);
    form->findChild<QLineEdit*>(QStringLiteral("TK2StepEdit"))->setText(QStringLiteral("1"));
    form->findChild<QLineEdit*>(QStringLiteral("WriteCountEdit"))->setText(QString::number(count));
    form->findChild<QPlainTextEdit*>(QStringLiteral("Track2Memo"))->setPlainText(first);
    Find<QPushButton>(*form, "BitBtn3")->click();
  }
  QString Prompt() const { return form->findChild<QLabel*>(QStringLiteral("st1"))->text(); }
  QString Panel2() const { return Find<QLabel>(*form, "MainStatusBarPanel2")->text(); }
  bool Idle() const { return form->session().writeTracks() == 0; }

  QTemporaryDir folder;
  QTemporaryDir lists;
  CardEmulator emulator;
  std::unique_ptr<TForm1> form;
  RecordingPrompts* prompts = nullptr;
};

QString Finished(int count) { return QStringLiteral("写卡提示信息:%1次写成功,写卡完毕！").arg(count); }

// Track 2 of every card the journal holds, with the station that wrote it.
std::multimap<std::string, QString> JournalCards(const QString& database) {
  QTemporaryDir unused;
  auto journal = journal::Journal::Open(database, unused.filePath(QStringLiteral("unused.db")));
  journal::CardQuery all;
  all.limit = 100000;
  std::multimap<std::string, QString> cards;
  for (const journal::CardRow& row : journal->Cards(all)) {
    if (row.track2) cards.emplace(row.track2->text, row.station);
  }
  return cards;
}

// Each test gets a schema of its own on the shared test server.
class SharedJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (journal::TestServerUri().isEmpty()) GTEST_SKIP() << "CARDSTATION_TEST_PG_URI is not set: no PostgreSQL server";
    schema_ = QStringLiteral("s_") + QUuid::createUuid().toString(QUuid::Id128);
    server_ = std::make_unique<journal::RawServer>(journal::TestServerUri());
    Execute(QStringLiteral("CREATE SCHEMA ") + schema_);
    database_ =
        journal::WithParameter(journal::TestServerUri(), QStringLiteral("options=-c%20search_path%3D") + schema_);
  }
  void TearDown() override {
    if (server_) Execute(QStringLiteral("DROP SCHEMA ") + schema_ + QStringLiteral(" CASCADE"));
  }
  void Execute(const QString& statement) {
    QSqlQuery query(server_->Db());
    EXPECT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
  }

  QString schema_;
  QString database_;
  std::unique_ptr<journal::RawServer> server_;
};

TEST_F(SharedJournalTest, TwoStationsFromTheSameStartWriteEveryNumberOnce) {
  constexpr int kCards = 500;
  Counter a("counter-a", database_, true);
  Counter b("counter-b", database_, true);
  ASSERT_TRUE(a.form->port().Open() && b.form->port().Open());
  a.Write(QStringLiteral("00001"), kCards);
  b.Write(QStringLiteral("00001"), kCards);
  // Between two cards a station is idle for a moment while it reserves the
  // next number with the event loop running: a run is over when it says so,
  // or when a box stopped it.
  const auto over = [](const Counter& c) {
    return c.Idle() && (c.Prompt() == Finished(kCards) || !c.prompts->messages.empty());
  };
  ASSERT_TRUE(WaitUntil([&] { return over(a) && over(b); }, std::chrono::minutes(3)));
  EXPECT_EQ(a.Prompt(), Finished(kCards));
  EXPECT_EQ(b.Prompt(), Finished(kCards));
  EXPECT_TRUE(a.prompts->questions.empty() && b.prompts->questions.empty());

  const auto cards = JournalCards(database_);
  std::set<std::string> numbers;
  for (const auto& [number, station] : cards) numbers.insert(number);
  EXPECT_EQ(cards.size(), 2u * kCards);
  EXPECT_EQ(numbers.size(), 2u * kCards) << "no number on two cards";
  EXPECT_EQ(*numbers.rbegin(), "01000") << "none passed over";
  for (Counter* counter : {&a, &b}) {
    std::multiset<std::string> journaled;
    const QString name = counter == &a ? QStringLiteral("counter-a") : QStringLiteral("counter-b");
    for (const auto& [number, station] : cards) {
      if (station == name) journaled.insert(number);
    }
    const std::vector<std::string> deck = counter->emulator.Written();
    EXPECT_EQ(journaled, std::multiset<std::string>(deck.begin(), deck.end())) << name.toStdString();
  }
  auto journal = journal::Journal::Open(database_, {});
  EXPECT_TRUE(journal->OpenReservations().isEmpty());
}

TEST_F(SharedJournalTest, UnconfirmedAfterALineLossBlocksTheOtherStationUntilReleased) {
  Counter a("counter-a", database_, false);
  Counter b("counter-b", database_, true);
  a.Write(QStringLiteral("0500"), 0);
  ASSERT_FALSE(a.Idle());
  ASSERT_EQ(a.emulator.Ask("hangup"), "ok hung up");
  ASSERT_TRUE(WaitUntil([&] { return a.Idle(); }));
  auto journal = journal::Journal::Open(database_, {});
  ASSERT_TRUE(journal->Holder({2, "0500"}));
  EXPECT_EQ(journal->Holder({2, "0500"})->state, NumberState::unconfirmed);

  // A typed number is asked about; 否 sends nothing.
  b.Write(QStringLiteral("0500"), 0);
  ASSERT_EQ(b.prompts->questions.size(), 1u);
  EXPECT_TRUE(b.prompts->questions[0].startsWith(QStringLiteral("卡号 0500（磁道2）于 ")));
  EXPECT_TRUE(b.prompts->questions[0].endsWith(QStringLiteral("（设备断开），卡上可能已有此号。仍要写入吗？")))
      << b.prompts->questions[0].toStdString();
  EXPECT_TRUE(b.Idle());
  EXPECT_TRUE(b.emulator.Written().empty());
  // A continuous run steps past it.
  b.Write(QStringLiteral("0500"), 1);
  ASSERT_TRUE(WaitUntil([&] { return b.Idle(); }));
  EXPECT_EQ(b.Panel2(), QStringLiteral("写卡成功,显示的数据为下一张卡的数据"));
  EXPECT_EQ(b.emulator.Written(), std::vector<std::string>{"0501"});

  ASSERT_TRUE(journal->Release({2, "0500"}));
  b.Write(QStringLiteral("0500"), 0);
  ASSERT_TRUE(WaitUntil([&] { return b.Idle(); }));
  EXPECT_EQ(b.prompts->questions.size(), 1u) << "released: no question";
  EXPECT_EQ(b.emulator.Written(), (std::vector<std::string>{"0501", "0500"}));
}

TEST(SharedJournalServerAway, RunStopsAndNothingIsWrittenUnreservedOrRecordedTwice) {
  if (journal::TestServerUri().isEmpty()) GTEST_SKIP() << "CARDSTATION_TEST_PG_URI is not set: no PostgreSQL server";
  PrivateServer server;
  Counter a("counter-a", server.Uri(), true);
  a.Write(QStringLiteral("0001"), 200);
  ASSERT_TRUE(WaitUntil([&] { return Find<QPlainTextEdit>(*a.form, "Memo1")->document()->blockCount() >= 20; }));
  ASSERT_TRUE(server.Run(QStringLiteral("stop")));
  ASSERT_TRUE(WaitUntil([&] { return a.Idle(); }));
  ASSERT_FALSE(a.prompts->messages.empty());
  EXPECT_TRUE(a.prompts->messages.back().startsWith(QString::fromUtf8(station::kJournalUnreachable)))
      << a.prompts->messages.back().toStdString();
  const std::size_t written = a.emulator.Written().size();
  EXPECT_LT(written, 200u) << "the run stopped";

  // Refused while the server is away, and the device is sent nothing.
  a.Write(QStringLiteral("0900"), 0);
  EXPECT_TRUE(a.Idle());
  EXPECT_EQ(a.emulator.Written().size(), written);
  // A station started meanwhile starts without a word and refuses alike.
  Counter b("counter-b", server.Uri(), true);
  EXPECT_TRUE(b.prompts->errors.empty() && b.prompts->messages.empty());
  b.Write(QStringLiteral("0901"), 0);
  ASSERT_EQ(b.prompts->messages.size(), 1u);
  EXPECT_TRUE(b.prompts->messages[0].startsWith(QString::fromUtf8(station::kJournalUnreachable)));
  EXPECT_TRUE(b.emulator.Written().empty());

  // Back: the next write brings the journal up to date first.
  ASSERT_TRUE(server.Run(QStringLiteral("start")));
  a.Write(QStringLiteral("0900"), 0);
  ASSERT_TRUE(WaitUntil([&] { return a.Idle(); }));
  std::vector<std::string> deck = a.emulator.Written();
  ASSERT_EQ(deck.size(), written + 1);
  const auto cards = JournalCards(server.Uri());
  std::multiset<std::string> journaled;
  for (const auto& [number, station] : cards) journaled.insert(number);
  EXPECT_EQ(journaled, std::multiset<std::string>(deck.begin(), deck.end()));
  auto journal = journal::Journal::Open(server.Uri(), {});
  for (const std::string& number : deck) {
    const auto holder = journal->Holder({2, number});
    EXPECT_TRUE(holder && holder->state == NumberState::written) << number;
  }
  EXPECT_TRUE(journal->OpenReservations().isEmpty());
}

// The server frozen (every process of it stopped) or a table locked by another
// session while a run goes on: every call ends within its bound, the window
// keeps answering, the operator reads why, and once the fault is gone the run
// goes on with every number on one card and in the journal once.
TEST(SharedJournalUnderFault, FrozenServerOrLockedTableMidRun) {
  if (journal::TestServerUri().isEmpty()) GTEST_SKIP() << "CARDSTATION_TEST_PG_URI is not set: no PostgreSQL server";
  struct Row {
    const char* name;
    std::function<void(PrivateServer&, journal::RawServer&)> fault;
    std::function<void(PrivateServer&, journal::RawServer&)> mend;
  };
  const Row rows[] = {
      {"frozen", [](PrivateServer& s, journal::RawServer&) { ASSERT_TRUE(s.Signal(SIGSTOP)); },
       [](PrivateServer& s, journal::RawServer&) { ASSERT_TRUE(s.Signal(SIGCONT)); }},
      {"table locked",
       [](PrivateServer&, journal::RawServer& other) {
         QSqlQuery lock(other.Db());
         ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN")));
         ASSERT_TRUE(lock.exec(QStringLiteral("LOCK TABLE card_number IN ACCESS EXCLUSIVE MODE")));
       },
       [](PrivateServer&, journal::RawServer& other) {
         ASSERT_TRUE(QSqlQuery(other.Db()).exec(QStringLiteral("COMMIT")));
       }},
  };
  for (const Row& row : rows) {
    PrivateServer server;
    Counter a("counter-a", server.Uri(), true);
    journal::RawServer other(server.Uri());
    a.Write(QStringLiteral("0001"), 500);
    ASSERT_TRUE(WaitUntil([&] { return a.emulator.Written().size() >= 5; })) << row.name;
    LongestStall stall;
    row.fault(server, other);
    ASSERT_TRUE(WaitUntil([&] { return a.Idle(); })) << row.name;
    EXPECT_LT(stall.Ms(), 1000) << row.name << ": the window kept answering";
    ASSERT_FALSE(a.prompts->messages.empty()) << row.name;
    row.mend(server, other);

    // The run goes on where the field stands: nothing is written twice.
    a.Write(a.form->findChild<QPlainTextEdit*>(QStringLiteral("Track2Memo"))->toPlainText(), 3);
    ASSERT_TRUE(WaitUntil([&] { return a.Idle() && a.Prompt() == Finished(3); }))
        << row.name << ": " << a.Prompt().toStdString() << " / " << a.prompts->messages.back().toStdString();
    const std::vector<std::string> deck = a.emulator.Written();
    const std::set<std::string> distinct(deck.begin(), deck.end());
    EXPECT_EQ(distinct.size(), deck.size()) << row.name << ": a number on two cards";
    std::multiset<std::string> journaled;
    for (const auto& [number, station] : JournalCards(server.Uri())) journaled.insert(number);
    EXPECT_EQ(journaled, std::multiset<std::string>(deck.begin(), deck.end())) << row.name;
  }
}

}  // namespace
