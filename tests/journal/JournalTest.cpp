#include "journal/Journal.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

#include "BulkCards.h"
#include "JournalStores.h"
#include "journal/Outbox.h"
#include "journal/Schema.h"
#include "journal/Sql.h"
#include "journal/ui/JournalRows.h"

namespace journal {
namespace {

const QString kStation = QStringLiteral("counter-1");

WrittenCard Card(std::initializer_list<std::pair<int, std::string>> tracks, QString station = kStation) {
  WrittenCard card;
  card.station = std::move(station);
  card.port = QStringLiteral("COM1");
  card.devicePath = QStringLiteral("/dev/ttyUSB0");
  for (const auto& [track, text] : tracks) card.tracks.append(WrittenTrack{track, text, {}, 0});
  return card;
}

QDateTime LocalTime(const QString& text) { return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

class JournalTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString File() const { return dir_.filePath(QString::fromLatin1(kDatabaseFileName)); }
  std::unique_ptr<Journal> Open() { return Journal::OpenSqlite(File()); }

  // A connection of the test's own to the journal's file, as an older program
  // or a crash left it.
  template <typename F>
  void WithRawDatabase(F body) {
    const QString name = QStringLiteral("raw");
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
      db.setDatabaseName(File());
      ASSERT_TRUE(db.open());
      body(db);
      db.close();
    }
    QSqlDatabase::removeDatabase(name);
  }

  QTemporaryDir dir_;
};

TEST_F(JournalTest, NewJournalIsCurrentAndWriteAheadLogged) {
  Open();
  WithRawDatabase([](QSqlDatabase& db) {
    EXPECT_EQ(StoredSchemaVersion(db), kSchemaVersion);
    QSqlQuery mode = sql::Exec(db, QStringLiteral("PRAGMA journal_mode"));
    ASSERT_TRUE(mode.next());
    EXPECT_EQ(mode.value(0).toString(), QStringLiteral("wal"));
  });
  EXPECT_EQ(Open()->SchemaVersion(), kSchemaVersion) << "reopening an up-to-date journal";
}

TEST_F(JournalTest, UpgradeFromVersion1KeepsCardsAndKnowsTheirNumbers) {
  WithRawDatabase([](QSqlDatabase& db) {
    MigrateSchema(db, 1);
    sql::Exec(db, QStringLiteral("INSERT INTO written_card VALUES (7, 0, '2026-01-02 03:04:05', 'old', 'COM2', "
                                 "'/dev/ttyS1', 'continuous', 3)"));
    sql::Exec(db, QStringLiteral("INSERT INTO written_track VALUES (7, 2, '0042', NULL, NULL)"));
  });
  auto journal = Open();
  EXPECT_EQ(journal->SchemaVersion(), kSchemaVersion);
  const auto previous = journal->FindWritten(2, "0042");
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous->localTime, QStringLiteral("2026-01-02 03:04:05"));
  EXPECT_EQ(previous->station, QStringLiteral("old"));
  const QList<CardRow> rows = journal->Cards({});
  ASSERT_EQ(rows.size(), 1);
  EXPECT_FALSE(rows[0].deliberateRepeat);
  EXPECT_EQ(rows[0].kind, RunKind::continuous);
  EXPECT_GT(journal->RecordWrittenCard(Card({{2, "0043"}})), 7) << "new ids follow the old ones";
}

TEST_F(JournalTest, UpgradeFromVersion3KeepsUndecidedNumbersWithoutAReason) {
  WithRawDatabase([](QSqlDatabase& db) {
    MigrateSchema(db, 3);
    sql::Exec(db, QStringLiteral("INSERT INTO card_number (track, card_text, state, station, held_local) "
                                 "VALUES (2, '0042', 'unconfirmed', 'old', '2026-01-02 03:04:05')"));
  });
  auto journal = Open();
  EXPECT_EQ(journal->SchemaVersion(), kSchemaVersion);
  const auto holder = journal->Holder({2, "0042"});
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->state, NumberState::unconfirmed);
  EXPECT_EQ(holder->reason, UnconfirmedReason::unknown);
  EXPECT_EQ(UnconfirmedReasonCaption(holder->reason), QStringLiteral("原因未记录"));
  ASSERT_TRUE(journal->Reserve(QStringLiteral("new"), {{2, "0043"}}).isEmpty());
  journal->MarkUnconfirmed(QStringLiteral("new"), {{2, "0043"}}, UnconfirmedReason::reset);
  EXPECT_EQ(journal->Holder({2, "0043"})->reason, UnconfirmedReason::reset);
}

// A start-up looks up the station's own unsaved lines and leftover
// reservations; on a journal of years of cards only an index keeps that quick,
// and a journal made before the index gets it at its next opening.
TEST_F(JournalTest, AnExistingJournalGetsTheStartUpIndexesAndItsLookupsUseThem) {
  Open();
  WithRawDatabase([](QSqlDatabase& db) {
    sql::Exec(db, QStringLiteral("DROP INDEX written_card_station"));
    sql::Exec(db, QStringLiteral("DROP INDEX card_number_reserved"));
  });
  Open();
  WithRawDatabase([](QSqlDatabase& db) {
    const auto plan = [&db](const QString& statement) {
      QSqlQuery query = sql::Exec(db, QStringLiteral("EXPLAIN QUERY PLAN ") + statement, {kStation});
      QString text;
      while (query.next()) text += query.value(3).toString() + QLatin1Char('\n');
      return text.toStdString();
    };
    EXPECT_NE(plan(QStringLiteral("UPDATE card_number SET state = 'unconfirmed' "
                                  "WHERE station = ? AND state = 'reserved'"))
                  .find("card_number_reserved"),
              std::string::npos);
    EXPECT_NE(plan(QStringLiteral("SELECT t.card_id FROM written_track t JOIN written_card c ON c.id = t.card_id "
                                  "WHERE c.station = ? ORDER BY t.card_id, t.track"))
                  .find("written_card_station"),
              std::string::npos);
  });
}

// How many cards a search for text finds, newest first, and how many it counts.
std::pair<qsizetype, qint64> Found(Journal& journal, const char* text) {
  CardQuery query;
  query.text = QString::fromLatin1(text);
  return {journal.Cards(query).size(), journal.CountCards(query)};
}

qint64 IndexedMark(QSqlDatabase& db) {
  QSqlQuery mark = sql::Exec(db, QStringLiteral("SELECT indexed_rowid FROM %1").arg(QLatin1String(kSearchMarkTable)));
  return mark.next() ? mark.value(0).toLongLong() : -1;
}

// A journal of the version that indexed every track in its card's commit: its
// index is taken as complete, not built or read through again.
TEST_F(JournalTest, UpgradeFromVersion4KeepsTheTrigramIndexOfItsCards) {
  WithRawDatabase([](QSqlDatabase& db) {
    MigrateSchema(db, 4);
    const QString index = QString::fromLatin1(kTrackSearchIndex);
    for (const QString& statement : {
             QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(card_text, content='written_track', "
                            "tokenize='trigram')"),
             QStringLiteral("CREATE TRIGGER %1_insert AFTER INSERT ON written_track BEGIN "
                            "INSERT INTO %1 (rowid, card_text) VALUES (new.rowid, new.card_text); END"),
             QStringLiteral("CREATE TRIGGER %1_delete AFTER DELETE ON written_track BEGIN "
                            "INSERT INTO %1 (%1, rowid, card_text) VALUES ('delete', old.rowid, old.card_text); END"),
         }) {
      sql::Exec(db, statement.arg(index));
    }
  });
  AddBulkWrittenCards(File(), 12000);
  auto journal = Open();
  EXPECT_EQ(journal->SchemaVersion(), kSchemaVersion);
  WithRawDatabase([](QSqlDatabase& db) { EXPECT_EQ(IndexedMark(db), 12000); });
  EXPECT_EQ(Found(*journal, "10000050"), std::make_pair(qsizetype{1}, qint64{1}));
  EXPECT_EQ(Found(*journal, "1000005"), std::make_pair(qsizetype{10}, qint64{10}));
  journal->RecordWrittenCard(Card({{2, "a7b"}}));
  EXPECT_EQ(Found(*journal, "a7b"), std::make_pair(qsizetype{1}, qint64{1}));
}

// Cards committed while the index had not caught up yet, as a station killed
// between a commit and the index's catch-up leaves them: a search after the
// restart finds them all, and the next record puts them into the index.
TEST_F(JournalTest, CardsNotYetInTheTrigramIndexAreFoundAndIndexedLater) {
  Open()->RecordWrittenCard(Card({{3, "x9z"}}));
  AddBulkWrittenCards(File(), 12000);
  auto journal = Open();
  const char* const texts[] = {"x9z", "10000050", "1000005", "10012001", "999999"};
  std::vector<std::pair<qsizetype, qint64>> before;
  for (const char* text : texts) before.push_back(Found(*journal, text));
  EXPECT_EQ(before[0].first, 1) << "older than the newest cards, above the mark";
  EXPECT_EQ(before[1].first, 1);
  EXPECT_EQ(before[2].first, 10);
  EXPECT_EQ(before[4].first, 0);

  journal->RecordWrittenCard(Card({{2, "555"}}));
  WithRawDatabase([](QSqlDatabase& db) {
    QSqlQuery newest = sql::Exec(db, QStringLiteral("SELECT MAX(rowid) FROM written_track"));
    ASSERT_TRUE(newest.next());
    EXPECT_EQ(IndexedMark(db), newest.value(0).toLongLong());
  });
  for (size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(Found(*journal, texts[i]), before[i]) << texts[i];
}

TEST_F(JournalTest, JournalOfANewerProgramIsRefused) {
  Open();
  WithRawDatabase([](QSqlDatabase& db) { sql::Exec(db, QStringLiteral("UPDATE journal_schema SET version = 99")); });
  EXPECT_THROW(Open(), JournalError);
}

// A station killed right after a card's commit, before its list line could be
// saved: the next start finds the card among the unsaved lines.
TEST_F(JournalTest, CommittedCardsSurviveAKillAndComeBackAsUnsavedLines) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      auto journal = Open();
      const qint64 saved = journal->RecordWrittenCard(Card({{2, "0001"}}));
      journal->RecordListSave({{}, kStation, QStringLiteral("/tmp/x.txt"), {{saved, 2}}});
      journal->RecordWrittenCard(Card({{2, "0002"}, {3, "9002"}}));
      journal->RecordWrittenCard(Card({{2, "7777"}}, QStringLiteral("counter-2")));
      ::kill(::getpid(), SIGKILL);
    } catch (...) {
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  const QList<UnsavedLine> lines = Open()->UnsavedLines(kStation);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0].track, 2);
  EXPECT_EQ(lines[0].text, "0002");
  EXPECT_EQ(lines[1].track, 3);
  EXPECT_EQ(lines[1].text, "9002");
  EXPECT_EQ(lines[0].cardId, lines[1].cardId);
}

TEST_P(JournalOn, AServerJournalStaysAtTheLastVersionThatChangedItForOlderStations) {
  EXPECT_EQ(Open()->SchemaVersion(), GetParam() == Backend::postgres ? 4 : kSchemaVersion);
  EXPECT_EQ(Open()->SchemaVersion(), GetParam() == Backend::postgres ? 4 : kSchemaVersion) << "opened again";
}

TEST_P(JournalOn, AFailedListSaveRecordsNoneOfItsEntries) {
  auto journal = Open();
  const qint64 id = journal->RecordWrittenCard(Card({{2, "0001"}, {3, "0002"}}));
  // The same line twice breaks the entry key half-way through the save.
  EXPECT_THROW(journal->RecordListSave({{}, kStation, QStringLiteral("a.txt"), {{id, 2}, {id, 2}}}), JournalError);
  EXPECT_EQ(journal->UnsavedLines(kStation).size(), 2);
  journal->RecordListSave({{}, kStation, QStringLiteral("a.txt"), {{id, 2}, {id, 3}}});
  EXPECT_TRUE(journal->UnsavedLines(kStation).isEmpty());
}

TEST_P(JournalOn, DuplicateLookupIsPerTrackAndGivesTheLatestWrite) {
  auto journal = Open();
  WrittenCard first = Card({{2, "0001"}});
  first.when = LocalTime(QStringLiteral("2026-12-06 08:05:03"));
  journal->RecordWrittenCard(first);
  EXPECT_FALSE(journal->FindWritten(3, "0001")) << "the same text on the other track is no duplicate";
  EXPECT_FALSE(journal->FindWritten(2, "00011")) << "no prefix matches";
  ASSERT_TRUE(journal->FindWritten(2, "0001"));
  EXPECT_EQ(journal->FindWritten(2, "0001")->localTime, QStringLiteral("2026-12-06 08:05:03"));

  WrittenCard repeat = Card({{2, "0001"}}, QStringLiteral("counter-2"));
  repeat.deliberateRepeat = true;
  const qint64 repeatId = journal->RecordWrittenCard(repeat);
  EXPECT_EQ(journal->FindWritten(2, "0001")->cardId, repeatId);
  EXPECT_EQ(journal->FindWritten(2, "0001")->station, QStringLiteral("counter-2"));
  EXPECT_TRUE(journal->Cards({})[0].deliberateRepeat);
}

// Texts with the characters of a statement's own syntax (quotes, the
// placeholder's question mark, a backslash) are stored and found as they are.
TEST_P(JournalOn, TextsWithQuotesAndQuestionMarksAreKeptAsTheyAre) {
  auto journal = Open();
  const QString station = QStringLiteral("O'Hara ? \\ \"柜台\" ?'");
  const std::string text = "1'?\\\"2";
  journal->RecordWrittenCard(Card({{2, text}}, station));
  const auto found = journal->FindWritten(2, text);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->station, station);
  const QList<CardRow> rows = journal->Cards({QString::fromStdString(text), {}, {}});
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(rows[0].track2->text, text);
  EXPECT_EQ(rows[0].station, station);
}

// Every column of a card of two tracks, one from a record file, comes back as
// it went in, and both numbers are held as written by the card.
TEST_P(JournalOn, ACardOfTwoTracksKeepsEveryColumn) {
  auto journal = Open();
  WrittenCard card = Card({{2, "0042"}, {3, "7'7"}});
  card.kind = RunKind::file;
  card.cardIndex = 7;
  card.deliberateRepeat = true;
  card.key = QStringLiteral("k-two");
  card.tracks[0].fileName = QStringLiteral("/数据/list.txt");
  card.tracks[0].recordNumber = 3;
  const qint64 id = journal->RecordWrittenCard(card);
  const QList<CardRow> rows = journal->Cards({});
  ASSERT_EQ(rows.size(), 1);
  const CardRow& row = rows[0];
  EXPECT_EQ(row.id, id);
  EXPECT_EQ(row.station, kStation);
  EXPECT_EQ(row.kind, RunKind::file);
  EXPECT_EQ(row.cardIndex, 7);
  EXPECT_TRUE(row.deliberateRepeat);
  ASSERT_TRUE(row.track2 && row.track3);
  EXPECT_EQ(row.track2->text, "0042");
  EXPECT_EQ(row.track2->fileName, QStringLiteral("/数据/list.txt"));
  EXPECT_EQ(row.track2->recordNumber, 3);
  EXPECT_EQ(row.track3->text, "7'7");
  EXPECT_TRUE(row.track3->fileName.isEmpty());
  for (const CardNumber& number : {CardNumber{2, "0042"}, CardNumber{3, "7'7"}}) {
    const auto holder = journal->Holder(number);
    ASSERT_TRUE(holder) << number.text;
    EXPECT_EQ(holder->state, NumberState::written) << number.text;
    EXPECT_EQ(journal->FindWritten(number.track, number.text)->cardId, id) << number.text;
  }
}

TEST_P(JournalOn, CardsNewestFirstNarrowedByTextAndLocalDays) {
  auto journal = Open();
  const auto record = [&](const char* local, std::initializer_list<std::pair<int, std::string>> tracks) {
    WrittenCard card = Card(tracks);
    card.when = LocalTime(QString::fromLatin1(local));
    journal->RecordWrittenCard(card);
  };
  record("2026-12-05 23:59:59", {{2, "1005"}});
  record("2026-12-06 00:00:00", {{2, "1006"}, {3, "5%6"}});
  record("2026-12-07 12:00:00", {{3, "1007"}});

  const auto texts = [&](CardQuery query) {
    std::vector<std::string> out;
    for (const CardRow& row : journal->Cards(query)) out.push_back(row.track2 ? row.track2->text : row.track3->text);
    return out;
  };
  EXPECT_EQ(texts({}), (std::vector<std::string>{"1007", "1006", "1005"}));
  CardQuery limited;
  limited.text = QStringLiteral("100");
  limited.limit = 2;
  EXPECT_EQ(texts(limited), (std::vector<std::string>{"1007", "1006"})) << "limit";
  EXPECT_EQ(texts({QStringLiteral("5%"), {}, {}}), (std::vector<std::string>{"1006"})) << "% is no wildcard";
  EXPECT_EQ(texts({{}, QDate(2026, 12, 6), QDate(2026, 12, 6)}), (std::vector<std::string>{"1006"}));
  EXPECT_EQ(texts({{}, QDate(2026, 12, 6), {}}), (std::vector<std::string>{"1007", "1006"}));
  EXPECT_EQ(texts({QStringLiteral("counter"), {}, QDate(2026, 12, 5)}), (std::vector<std::string>{"1005"}));
}

// Below the newest cards a search goes through the trigram index of the
// tracks; it must find the same cards, in the same order, as reading every
// card does (the index dropped).
TEST_P(JournalOn, SearchFindsTheSameCardsWithAndWithoutTheTrigramIndex) {
  auto journal = Open();
  // Older than the newest ten thousand, which are read in full.
  journal->RecordWrittenCard(Card({{3, "x_1"}}));
  journal->RecordWrittenCard(Card({{3, "xa1"}}));
  journal->RecordWrittenCard(Card({{2, "5%6"}, {3, "!00"}}));
  OnStore(
      QStringLiteral("WITH RECURSIVE n (i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12000) "
                     "INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, "
                     "run_kind, card_index) SELECT 1767254400000 + i, '2026-01-01 08:00:00', 'bulk', 'COM1', "
                     "'/dev/ttyUSB0', 'continuous', i FROM n"));
  OnStore(
      QStringLiteral("INSERT INTO written_track (card_id, track, card_text) "
                     "SELECT id, 2, CAST(10000000 + id AS TEXT) FROM written_card WHERE station = 'bulk'"));
  journal->RecordWrittenCard(Card({{2, "x_1"}}));

  struct Search {
    const char* text;
    int found;  // -1: not checked, only compared
  };
  const Search searches[] = {
      {"10000050", 1},  // exact, among the old cards
      {"1000005", 10},  // part: 10000050 to 10000059
      {"10012000", 1},  // among the newest cards
      {"x_1", 2},       // '_' is no wildcard: one old card, one new
      {"5%6", 1},       // nor is '%'
      {"!00", 1},       // nor the escape character
      {"100", 5000},    // common: a full page
      {"bulk", 5000},   // a station's name
      {"999999", 0},    // nowhere
      {"0000", -1},
  };
  const auto found = [&](const char* text) {
    CardQuery query;
    query.text = QString::fromLatin1(text);
    std::vector<qint64> ids;
    for (const CardRow& row : journal->Cards(query)) ids.push_back(row.id);
    return std::make_pair(ids, journal->CountCards(query));
  };
  std::vector<std::pair<std::vector<qint64>, qint64>> indexed;
  for (const Search& search : searches) {
    indexed.push_back(found(search.text));
    if (search.found >= 0) {
      EXPECT_EQ(indexed.back().first.size(), static_cast<size_t>(search.found)) << search.text;
    }
    EXPECT_TRUE(std::is_sorted(indexed.back().first.rbegin(), indexed.back().first.rend())) << search.text;
  }
  if (GetParam() == Backend::sqlite) {
    for (const char* trigger : {"insert", "delete", "update"}) {
      OnStore(QStringLiteral("DROP TRIGGER %1_%2").arg(QLatin1String(kTrackSearchIndex), QLatin1String(trigger)));
    }
    OnStore(QStringLiteral("DROP TABLE %1").arg(QLatin1String(kTrackSearchIndex)));
  } else {
    OnStore(QStringLiteral("DROP INDEX %1").arg(QLatin1String(kTrackSearchIndex)));
  }
  for (size_t i = 0; i < std::size(searches); ++i) {
    EXPECT_EQ(found(searches[i].text), indexed[i]) << searches[i].text;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, JournalOn, testing::Values(Backend::sqlite, Backend::postgres),
                         [](const testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::sqlite ? "SQLite" : "PostgreSQL";
                         });

// A journal file taken away under the running program: nothing more goes into
// the file that is no longer the journal, and the fault says so.
TEST_F(JournalTest, FileDeletedMovedOrReplacedRefusesEveryCall) {
  struct Row {
    const char* name;
    std::function<void(const QString& file)> fault;
  };
  const Row rows[] = {
      {"deleted", [](const QString& f) { QFile::remove(f); }},
      {"moved", [](const QString& f) { QFile::rename(f, f + QStringLiteral(".old")); }},
      {"replaced",
       [](const QString& f) {
         QFile::copy(f, f + QStringLiteral(".copy"));
         QFile::remove(f);
         QFile::rename(f + QStringLiteral(".copy"), f);
       }},
      {"WAL deleted", [](const QString& f) { QFile::remove(f + QStringLiteral("-wal")); }},
  };
  for (const Row& row : rows) {
    for (const QString& leftover : QDir(dir_.path()).entryList(QDir::Files)) QFile::remove(dir_.filePath(leftover));
    auto journal = Open();
    journal->RecordWrittenCard(Card({{2, "0001"}}));
    row.fault(File());
    try {
      journal->RecordWrittenCard(Card({{2, "0002"}}));
      ADD_FAILURE() << row.name << ": recorded into a file that is gone";
    } catch (const JournalError& e) {
      EXPECT_EQ(e.fault(), JournalFault::replaced) << row.name << ": " << e.what();
    }
    EXPECT_THROW(journal->Reserve(kStation, {{2, "0003"}}), JournalError) << row.name;
  }
}

// What the station could not journal waits in one queue, in order, and a
// restart takes it up as it was.
TEST_F(JournalTest, OutboxKeepsItsOrderAcrossARestart) {
  const QString file = File() + QStringLiteral(".outbox");
  {
    Outbox outbox(file);
    ASSERT_TRUE(outbox.empty());
    WrittenCard card = Card({{2, std::string("\x01\xFF;9", 4)}, {3, "77"}});
    card.key = QStringLiteral("k-1");
    card.when = QDateTime::currentDateTimeUtc();
    card.kind = RunKind::file;
    card.tracks[0].fileName = QStringLiteral("/数据/list.txt");
    card.tracks[0].recordNumber = 3;
    ASSERT_TRUE(outbox.Push(OutboxWrittenCard{card, outbox.NextListId()}));
    ReadCard read;
    read.station = kStation;
    read.track3 = "55";
    ASSERT_TRUE(outbox.Push(read));
    ASSERT_TRUE(outbox.Push(OutboxHoldChange{true, {{2, "0009"}}, UnconfirmedReason::lineLost}));
    ASSERT_TRUE(outbox.Push(OutboxWrittenCard{Card({{2, "0010"}}), outbox.NextListId()}));
  }
  Outbox again(file);
  ASSERT_EQ(again.size(), 3u) << "a written card without its key is no card to send: set aside";
  EXPECT_TRUE(QFile::exists(file + QStringLiteral(".bad")));
  const auto& written = std::get<OutboxWrittenCard>(again.entries()[0]);
  EXPECT_EQ(written.listId, -1);
  EXPECT_EQ(written.card.key, QStringLiteral("k-1"));
  EXPECT_EQ(written.card.kind, RunKind::file);
  EXPECT_EQ(written.card.tracks[0].text, std::string("\x01\xFF;9", 4));
  EXPECT_EQ(written.card.tracks[0].fileName, QStringLiteral("/数据/list.txt"));
  EXPECT_EQ(written.card.tracks[0].recordNumber, 3);
  EXPECT_EQ(written.card.tracks[1].text, "77");
  const auto& read = std::get<ReadCard>(again.entries()[1]);
  EXPECT_FALSE(read.track2.has_value());
  EXPECT_EQ(read.track3, "55");
  const auto& hold = std::get<OutboxHoldChange>(again.entries()[2]);
  EXPECT_TRUE(hold.unconfirm);
  EXPECT_EQ(hold.reason, UnconfirmedReason::lineLost);
  EXPECT_EQ(hold.numbers, (QList<CardNumber>{{2, "0009"}}));
  EXPECT_EQ(again.WrittenNumbers(), (QList<CardNumber>{{2, std::string("\x01\xFF;9", 4)}, {3, "77"}}));
  EXPECT_EQ(again.NextListId(), -2);

  while (!again.empty()) ASSERT_TRUE(again.PopFront());
  EXPECT_FALSE(QFile::exists(file)) << "an empty outbox leaves no file";
}

}  // namespace
}  // namespace journal
