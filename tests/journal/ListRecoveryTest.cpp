// A journal made anew, or one that lost cards, takes back the numbers of the
// saved lists: written and saved, found by the duplicate guard, never listed
// again as unsaved, and never twice.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "journal/Journal.h"

namespace journal {
namespace {

TEST(JournalListRecovery, ListedNumbersGoBackOnceAsSavedWrittenCards) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("cards.db"));
  const QString station = QStringLiteral("counter-1");
  {
    auto journal = Journal::OpenSqlite(file);
    EXPECT_TRUE(journal->Created());
    WrittenCard card;
    card.station = station;
    card.tracks = {WrittenTrack{2, "0001", {}, 0}};
    const qint64 unsaved = journal->RecordWrittenCard(card);
    EXPECT_FALSE(journal->LastListSave(station));

    ListedNumbers listed;
    listed.filePath = dir.filePath(QStringLiteral("2026126853.txt"));
    listed.when = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000, Qt::UTC);
    // 0002 on track 2 and on track 3 are two numbers; 0001 is known already.
    listed.numbers = {{2, "0001"}, {2, "0002"}, {3, "0002"}, {2, "0002"}};
    EXPECT_EQ(journal->RestoreListedNumbers(station, listed), 2);
    EXPECT_EQ(journal->RestoreListedNumbers(station, listed), 0) << "a second start adds nothing";

    for (int track : {2, 3}) {
      const auto previous = journal->FindWritten(track, "0002");
      ASSERT_TRUE(previous) << track;
      EXPECT_EQ(previous->station, station);
    }
    const QList<UnsavedLine> lines = journal->UnsavedLines(station);
    ASSERT_EQ(lines.size(), 1) << "the restored cards are in the list they came from";
    EXPECT_EQ(lines[0].cardId, unsaved);
    EXPECT_EQ(journal->LastListSave(station), listed.when);
    EXPECT_FALSE(journal->LastListSave(QStringLiteral("counter-2")));
  }
  EXPECT_FALSE(Journal::OpenSqlite(file)->Created()) << "opened again, the file is not new";
}

}  // namespace
}  // namespace journal
