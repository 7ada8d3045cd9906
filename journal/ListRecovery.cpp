// Putting back into the journal the numbers of saved lists that it lacks: a
// journal made anew, or one that lost its WAL, must not let the duplicate
// guard forget numbers that cards already carry.
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include "journal/Journal.h"
#include "journal/Sql.h"

namespace journal {
namespace {

const QString kLocalFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// Track texts are stored one byte per character, as every other record does.
QString TextColumn(const std::string& bytes) {
  const QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return text.isNull() ? QStringLiteral("") : text;
}

QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

}  // namespace

std::optional<QDateTime> Journal::LastListSave(const QString& station) {
  const sql::CallWatch::Guard watch = Connect();
  QSqlQuery query =
      sql::Exec(db_, QStringLiteral("SELECT MAX(saved_utc_ms) FROM list_save WHERE station = ?"), {NotNull(station)});
  if (!query.next() || query.isNull(0)) return std::nullopt;
  return QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
}

int Journal::RestoreListedNumbers(const QString& station, const ListedNumbers& listed) {
  const sql::CallWatch::Guard watch = Connect();
  const QDateTime when = listed.when.isValid() ? listed.when : QDateTime::currentDateTimeUtc();
  const QString local = when.toLocalTime().toString(kLocalFormat);
  QList<ListEntry> restored;
  {
    sql::Transaction transaction(db_);
    for (const CardNumber& number : listed.numbers) {
      QSqlQuery known =
          sql::Exec(db_, QStringLiteral("SELECT 1 FROM written_track WHERE track = ? AND card_text = ? LIMIT 1"),
                    {number.track, TextColumn(number.text)});
      if (known.next()) continue;
      known.finish();
      // Port and device are unknown: the card is known only from the list.
      const qint64 id = sql::InsertedId(
          db_,
          QStringLiteral("INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, "
                         "run_kind, card_index, deliberate_repeat, card_key) VALUES (?, ?, ?, '', '', ?, 1, 0, ?) "
                         "RETURNING id"),
          {when.toMSecsSinceEpoch(), local, NotNull(station),
           QString::fromLatin1(station::WriteModeKey(station::WriteMode::normal)),
           QUuid::createUuid().toString(QUuid::WithoutBraces)},
          "a card put back from a list");
      sql::Exec(db_,
                QStringLiteral("INSERT INTO written_track (card_id, track, card_text, file_name, record_number) "
                               "VALUES (?, ?, ?, NULL, NULL)"),
                {id, number.track, TextColumn(number.text)});
      sql::Exec(db_,
                QStringLiteral("INSERT INTO card_number (track, card_text, state, station, card_id, held_local) "
                               "VALUES (?, ?, 'written', ?, ?, ?) ON CONFLICT (track, card_text) DO UPDATE "
                               "SET state = 'written', station = excluded.station, card_id = excluded.card_id, "
                               "held_local = excluded.held_local, unconfirmed_reason = ''"),
                {number.track, TextColumn(number.text), NotNull(station), id, local});
      restored.append({id, number.track});
    }
    if (!restored.isEmpty()) {
      // The list already holds them: they must not come back as unsaved lines.
      InsertListSave(ListSave{when, station, listed.filePath, restored});
    }
    transaction.Commit();
  }
  if (!restored.isEmpty()) emit changed();
  return static_cast<int>(restored.size());
}

}  // namespace journal
