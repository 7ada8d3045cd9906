#include "journal/Journal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <tuple>

#include "journal/PostgresUri.h"
#include "journal/Schema.h"
#include "journal/Sql.h"

namespace journal {
namespace {

const QString kLocalFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// How long a call waits for another connection that holds the journal file.
// One press may lead to two commits (a card recorded, the next one reserved),
// and the window must answer again within five seconds.
constexpr int kBusyTimeoutMs = 2000;

// The client-side bounds of a server call: connecting, and a whole call
// (the server's statement and lock timeouts end most waits before).
constexpr std::chrono::milliseconds kConnectBound{3000};
constexpr std::chrono::milliseconds kCallBound{4000};
// After a call cut or a connect timed out, how long further calls fail at once.
constexpr std::chrono::milliseconds kAwayPause{10000};

// Qt SQL binds a null QString as NULL; the journal's names are never NULL.
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

// Track texts are bytes; Latin-1 maps each byte to one character and back, and
// keeps the text valid for a server that stores UTF-8.
QString TextColumn(std::string_view bytes) {
  return NotNull(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string TextBytes(const QVariant& value) {
  const QByteArray bytes = value.toString().toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QVariant NullText() { return QVariant(QMetaType::fromType<QString>()); }
QVariant NullInt() { return QVariant(QMetaType::fromType<int>()); }

QVariant OptionalText(const std::optional<std::string>& text) {
  return text ? QVariant(TextColumn(*text)) : NullText();
}

QDateTime OrNow(const QDateTime& when) { return when.isValid() ? when : QDateTime::currentDateTimeUtc(); }

QString KindName(RunKind kind) { return QString::fromLatin1(station::WriteModeKey(kind)); }

RunKind KindFromName(const QString& name) { return station::WriteModeFromKey(name.toStdString()); }

QString KindCaption(RunKind kind) { return QString::fromUtf8(station::WriteModeCaption(kind)); }

// '!' escapes the wildcards of LIKE in both dialects.
QString LikePattern(const QString& text) {
  QString escaped = text;
  escaped.replace(QLatin1Char('!'), QLatin1String("!!"));
  escaped.replace(QLatin1Char('%'), QLatin1String("!%"));
  escaped.replace(QLatin1Char('_'), QLatin1String("!_"));
  return QLatin1Char('%') + escaped + QLatin1Char('%');
}

QString StateName(NumberState state) {
  switch (state) {
    case NumberState::unconfirmed: return QStringLiteral("unconfirmed");
    case NumberState::written: return QStringLiteral("written");
    case NumberState::reserved: break;
  }
  return QStringLiteral("reserved");
}

NumberState StateFromName(const QString& name) {
  if (name == QLatin1String("unconfirmed")) return NumberState::unconfirmed;
  if (name == QLatin1String("written")) return NumberState::written;
  return NumberState::reserved;
}

// The reasons as stored: stable words, so that the captions may change.
struct ReasonName {
  UnconfirmedReason reason;
  const char* name;
};
constexpr ReasonName kReasonNames[] = {
    {UnconfirmedReason::timeout, "timeout"},
    {UnconfirmedReason::reset, "reset"},
    {UnconfirmedReason::lineLost, "line_lost"},
    {UnconfirmedReason::portClosed, "port_closed"},
    {UnconfirmedReason::programExit, "program_exit"},
    {UnconfirmedReason::interrupted, "interrupted"},
    {UnconfirmedReason::readStarted, "read_started"},
    {UnconfirmedReason::writeRestarted, "write_restarted"},
    {UnconfirmedReason::notJournaled, "not_journaled"},
};

QString ReasonStored(UnconfirmedReason reason) {
  for (const ReasonName& entry : kReasonNames) {
    if (entry.reason == reason) return QString::fromLatin1(entry.name);
  }
  return QStringLiteral("");
}

// A word this program does not know (a newer one wrote it) reads as unknown.
UnconfirmedReason ReasonFromStored(const QString& name) {
  for (const ReasonName& entry : kReasonNames) {
    if (name == QLatin1String(entry.name)) return entry.reason;
  }
  return UnconfirmedReason::unknown;
}

QString NowLocal() { return QDateTime::currentDateTime().toString(kLocalFormat); }

QString NewConnectionName() { return QStringLiteral("journal-") + QUuid::createUuid().toString(QUuid::WithoutBraces); }

// Lets go of a connection that never became a journal's.
void Forget(QSqlDatabase& db, const QString& name) {
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(name);
}

// A connection of Qt SQL's driver under name; throws, leaving nothing
// registered, when that driver is not installed.
QSqlDatabase AddConnection(const char* driver, const char* product, const QString& name) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromLatin1(driver), name);
  if (db.isValid()) return db;
  Forget(db, name);
  throw JournalError(std::string("The ") + product + " driver of Qt SQL is not installed", JournalFault::noDriver,
                     driver);
}

std::optional<WrittenTrack> TrackFromColumns(int track, const QSqlQuery& query, int first) {
  if (query.isNull(first)) return std::nullopt;
  WrittenTrack written;
  written.track = track;
  written.text = TextBytes(query.value(first));
  written.fileName = query.value(first + 1).toString();
  written.recordNumber = query.value(first + 2).toInt();
  return written;
}

struct Filter {
  QString where;
  QVariantList values;
};

// The conditions of a query on one table: textMatch holds one '?' per use of
// the search pattern, localColumn is the local time text, which sorts as the
// time does.
Filter QueryFilter(const CardQuery& request, const QString& idColumn, const QString& localColumn,
                   const QString& textMatch, int textUses) {
  Filter filter{QStringLiteral("1 = 1"), {}};
  if (!request.text.isEmpty()) {
    filter.where += QStringLiteral(" AND (") + textMatch + QLatin1Char(')');
    for (int i = 0; i < textUses; ++i) filter.values << LikePattern(request.text);
  }
  if (request.from.isValid()) {
    filter.where += QStringLiteral(" AND %1 >= ?").arg(localColumn);
    filter.values << request.from.toString(QStringLiteral("yyyy-MM-dd"));
  }
  if (request.to.isValid()) {
    filter.where += QStringLiteral(" AND %1 < ?").arg(localColumn);
    filter.values << request.to.addDays(1).toString(QStringLiteral("yyyy-MM-dd"));
  }
  if (request.afterId > 0) {
    filter.where += QStringLiteral(" AND %1 > ?").arg(idColumn);
    filter.values << request.afterId;
  }
  if (request.upToId > 0) {
    filter.where += QStringLiteral(" AND %1 <= ?").arg(idColumn);
    filter.values << request.upToId;
  }
  return filter;
}

Filter WrittenCardFilter(const CardQuery& request) {
  return QueryFilter(request, QStringLiteral("c.id"), QStringLiteral("c.written_local"),
                     QStringLiteral("c.station LIKE ? ESCAPE '!' OR EXISTS (SELECT 1 FROM written_track s "
                                    "WHERE s.card_id = c.id AND s.card_text LIKE ? ESCAPE '!')"),
                     2);
}

Filter ReadCardFilter(const CardQuery& request) {
  return QueryFilter(request, QStringLiteral("r.id"), QStringLiteral("r.read_local"),
                     QStringLiteral("r.station LIKE ? ESCAPE '!' OR r.track2 LIKE ? ESCAPE '!' OR "
                                    "r.track3 LIKE ? ESCAPE '!'"),
                     3);
}

qint64 CountOf(QSqlQuery query) { return query.next() ? query.value(0).toLongLong() : 0; }

// A search for part of a number reads the newest cards in full, which finds a
// page at once when the text is common, and only below them goes through the
// trigram index of the tracks, which finds a rare text without reading every
// card.
constexpr qint64 kSearchWindow = 10000;

// How many tracks may wait for the trigram index before a card's record puts
// them in, after its own commit.
constexpr qint64 kSearchIndexBatch = 500;

// Whether a search for this text may go through the trigram index: at least
// three characters (the index holds runs of three), a store that has the
// index, and no station name that holds the text (the names have no such
// index; they are read through their own index, one step per name). On SQLite
// the index takes no ESCAPE clause, so a text with LIKE's wildcards is read in
// full.
bool SearchesByIndex(QSqlDatabase& db, const QString& text) {
  if (text.size() < 3) return false;
  if (!sql::IsPostgres(db) && (text.contains(QLatin1Char('%')) || text.contains(QLatin1Char('_')))) return false;
  if (!HasSearchIndexes(db)) return false;
  return CountOf(sql::Exec(db,
                           QStringLiteral("WITH RECURSIVE s (name) AS (SELECT MIN(station) FROM written_card "
                                          "UNION ALL SELECT (SELECT MIN(w.station) FROM written_card w "
                                          "WHERE w.station > s.name) FROM s WHERE s.name IS NOT NULL) "
                                          "SELECT COUNT(*) FROM s WHERE s.name LIKE ? ESCAPE '!'"),
                           {LikePattern(text)})) == 0;
}

// The cards whose tracks hold the text, found through the trigram index; the
// plain LIKE is tested again on what the index gives, so the rows are the same
// as those of WrittenCardFilter.
Filter IndexedCardFilter(QSqlDatabase& db, const CardQuery& request) {
  CardQuery others = request;
  others.text.clear();
  Filter filter = QueryFilter(others, QStringLiteral("c.id"), QStringLiteral("c.written_local"), {}, 0);
  if (sql::IsPostgres(db)) {
    filter.where += QStringLiteral(
        " AND c.id IN (SELECT s.card_id FROM written_track s "
        "WHERE s.card_text LIKE ? ESCAPE '!')");
  } else {
    // The tracks above the indexed mark, committed since the index last
    // caught up, are few and read directly.
    filter.where += QStringLiteral(
                        " AND c.id IN (SELECT s.card_id FROM written_track s WHERE s.rowid IN "
                        "(SELECT rowid FROM %1 WHERE card_text LIKE ? UNION ALL SELECT rowid FROM written_track "
                        "WHERE rowid > (SELECT indexed_rowid FROM %2)) AND s.card_text LIKE ? ESCAPE '!')")
                        .arg(QLatin1String(kTrackSearchIndex), QLatin1String(kSearchMarkTable));
    filter.values << QLatin1Char('%') + request.text + QLatin1Char('%');
  }
  filter.values << LikePattern(request.text);
  return filter;
}

// Indexing a track in its card's commit grows that commit with the index; in
// batches after the commit it costs a card a small share. The card is kept
// whatever happens here: until the next batch a search reads the tracks that
// wait directly.
void CatchUpSearchIndexAfterCommit(QSqlDatabase& db) {
  try {
    CatchUpSearchIndex(db, kSearchIndexBatch);
  } catch (const JournalError&) {
  }
}

// The cards first, then their tracks by the cards' ids: joined in one
// statement, a server's planner that misjudges how many cards pass a search
// reads every track of the journal to join them.
QList<CardRow> CardsWhere(QSqlDatabase& db, const Filter& filter, int limit) {
  QVariantList values = filter.values;
  values << limit;
  QSqlQuery query = sql::Exec(db,
                              QStringLiteral("SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, "
                                             "c.deliberate_repeat FROM written_card c "
                                             "WHERE %1 ORDER BY c.id DESC LIMIT ?")
                                  .arg(filter.where),
                              values);
  QList<CardRow> rows;
  QHash<qint64, qsizetype> rowOfId;
  while (query.next()) {
    CardRow row;
    row.id = query.value(0).toLongLong();
    row.localTime = query.value(1).toString();
    row.station = query.value(2).toString();
    row.kind = KindFromName(query.value(3).toString());
    row.cardIndex = query.value(4).toInt();
    row.deliberateRepeat = query.value(5).toInt() != 0;
    rowOfId.insert(row.id, rows.size());
    rows.append(std::move(row));
  }
  // The ids are the store's own integers, written into the statement.
  constexpr qsizetype kIdsPerStatement = 1000;
  for (qsizetype from = 0; from < rows.size(); from += kIdsPerStatement) {
    QStringList ids;
    for (qsizetype r = from; r < std::min(rows.size(), from + kIdsPerStatement); ++r)
      ids << QString::number(rows[r].id);
    QSqlQuery tracks = sql::Exec(db, QStringLiteral("SELECT card_id, track, card_text, file_name, record_number "
                                                    "FROM written_track WHERE card_id IN (%1) AND track IN (2, 3)")
                                         .arg(ids.join(QLatin1Char(','))));
    while (tracks.next()) {
      const auto row = rowOfId.constFind(tracks.value(0).toLongLong());
      if (row == rowOfId.cend()) continue;
      const int track = tracks.value(1).toInt();
      (track == 2 ? rows[*row].track2 : rows[*row].track3) = TrackFromColumns(track, tracks, 2);
    }
  }
  return rows;
}

}  // namespace

QString DefaultStationName() { return QSysInfo::machineHostName(); }

QString RunKindCaption(RunKind kind) { return KindCaption(kind); }

std::unique_ptr<Journal> Journal::OpenSqlite(const QString& file) {
  // A new journal is readable by this user alone from its first byte; SQLite
  // gives its -wal and -shm files the same permissions. An existing file
  // keeps its own.
  bool created = false;
  {
    QFile fresh(file);
    if (fresh.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
      fresh.close();
      created = true;
    }
  }
  // An empty file (made by a start that ended before its schema) holds no
  // card either: the journal is new all the same.
  created = created || QFileInfo(file).size() == 0;
  const QString name = NewConnectionName();
  {
    QSqlDatabase db = AddConnection("QSQLITE", "SQLite", name);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) {
      const QSqlError error = db.lastError();
      const JournalFault fault = sql::FaultOf(db, error);
      Forget(db, name);
      throw JournalError(("Cannot open the journal \"" + file + "\": " + error.text()).toStdString(),
                         fault == JournalFault::failed ? JournalFault::cannotOpen : fault);
    }
  }
  auto journal = std::make_unique<Journal>(name);
  journal->file_ = file;
  journal->created_ = created;
  journal->fileIdentity_ = IdentityOf(file);
  journal->walIdentity_ = IdentityOf(file + QStringLiteral("-wal"));
  return journal;
}

std::unique_ptr<Journal> Journal::OpenPostgres(const QString& uri) {
  const std::optional<PostgresTarget> target = ParsePostgresUri(uri);
  if (!target) throw JournalError("Not a PostgreSQL URI", JournalFault::badAddress, "no postgresql:// scheme");
  const QString name = NewConnectionName();
  {
    QSqlDatabase db = AddConnection("QPSQL", "PostgreSQL", name);
    db.setHostName(target->host);
    db.setUserName(target->user);
    db.setPassword(target->password);
    db.setDatabaseName(target->dbname);
    db.setConnectOptions(target->ConnectOptions());
    // Opened at the first use, within the bounds, and tried again at each
    // use while the server is away.
  }
  return std::make_unique<Journal>(name, target->Conninfo());
}

std::unique_ptr<Journal> Journal::Open(const QString& database, const QString& sqliteFile) {
  if (database.trimmed().isEmpty()) return OpenSqlite(sqliteFile);
  return OpenPostgres(database);
}

Journal::Journal(const QString& connectionName) : Journal(connectionName, QString()) {}

Journal::Journal(const QString& connectionName, const QString& serverConninfo)
    : db_(QSqlDatabase::database(connectionName, false)), connectionName_(connectionName), conninfo_(serverConninfo) {
  if (sql::IsPostgres(db_)) watch_ = std::make_unique<sql::CallWatch>(kCallBound);
  try {
    static_cast<void>(Connect());
  } catch (const JournalUnreachable&) {
    // Connected again at the next use.
  } catch (...) {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
    throw;
  }
}

Journal::~Journal() {
  db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(connectionName_);
}

void Journal::CheckSameFile() {
  if (file_.isEmpty()) return;
  const QString wal = file_ + QStringLiteral("-wal");
  const std::optional<FileIdentity> now = IdentityOf(file_);
  const std::optional<FileIdentity> walNow = IdentityOf(wal);
  // The WAL may appear after the opening; from then on it must stay.
  if (!walIdentity_ && walNow && fileIdentity_ && now == fileIdentity_) walIdentity_ = walNow;
  if (now != fileIdentity_ || (walIdentity_ && walNow != walIdentity_)) {
    // The station keeps what the lost file held before anything else fails.
    if (!lostSaid_) {
      lostSaid_ = true;
      emit fileLost();
    }
    throw JournalError(("The journal \"" + file_ + "\" was deleted, moved or replaced").toStdString(),
                       JournalFault::replaced);
  }
}

sql::CallWatch::Guard Journal::Connect() {
  CheckSameFile();
  if (sql::ConnectionLost(db_)) {
    const auto now = std::chrono::steady_clock::now();
    // A call cut for want of an answer, or a connect that ran out of time:
    // the calls right after it fail at once instead of waiting again, so that
    // one press of the operator waits for the server once.
    if (watch_ && watch_->TakeCut()) {
      awayUntil_ = now + kAwayPause;
      awayReason_ = QStringLiteral("the server did not answer");
    }
    if (now < awayUntil_) throw JournalUnreachable(awayReason_);
    db_.close();
    if (!conninfo_.isEmpty()) {
      if (const std::optional<QString> reason = sql::ServerUnreachableWithin(conninfo_, kConnectBound)) {
        if (std::chrono::steady_clock::now() - now >= kConnectBound) {
          awayUntil_ = std::chrono::steady_clock::now() + kAwayPause;
          awayReason_ = *reason;
        }
        throw JournalUnreachable(*reason);
      }
    }
    if (!db_.open()) {
      const QSqlError error = db_.lastError();
      throw JournalUnreachable((error.databaseText().isEmpty() ? error.text() : error.databaseText()).simplified());
    }
  }
  sql::CallWatch::Guard watch = watch_ ? watch_->Watch(db_) : sql::CallWatch::Guard(nullptr);
  if (!prepared_) {
    Prepare();
    prepared_ = true;
  }
  return watch;
}

bool Journal::Connected() const { return prepared_ && !sql::ConnectionLost(db_); }

void Journal::Prepare() {
  if (!sql::IsPostgres(db_)) {
    // WAL lets the dialog read while a card commits; FULL makes each commit
    // reach the disk before it returns.
    // The switch needs the file to itself for a moment: while another
    // connection is opening or switching the same file SQLite answers
    // "locked" at once instead of waiting. Try again as long as the busy
    // timeout would wait.
    QSqlQuery mode(db_);
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    while (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) {
      const QSqlError error = mode.lastError();
      const bool locked =
          error.nativeErrorCode() == QLatin1String("5") || error.nativeErrorCode() == QLatin1String("6");
      if (!locked || deadline.hasExpired()) {
        throw JournalError(("Cannot use write-ahead logging: " + error.text()).toStdString(), sql::FaultOf(db_, error));
      }
      QThread::msleep(10);
    }
    if (!mode.next() || mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
      throw JournalError("The journal cannot use write-ahead logging");
    }
    mode.finish();
    sql::Exec(db_, QStringLiteral("PRAGMA synchronous=FULL"));
    // A WAL lost under a running program leaves a file that may lack cards or
    // hold pages that no longer fit; SQLite's own check finds the latter.
    QSqlQuery check = sql::Exec(db_, QStringLiteral("PRAGMA quick_check"));
    QStringList findings;
    while (check.next()) {
      const QString line = check.value(0).toString();
      if (line.compare(QLatin1String("ok"), Qt::CaseInsensitive) != 0) findings << line;
    }
    openCheckFinding_ = findings.join(QLatin1String("; "));
  }
  MigrateSchema(db_);
}

void Journal::TryAgainNow() {
  awayUntil_ = {};
  // A cut not yet seen would start the pause again at the next call.
  if (watch_) static_cast<void>(watch_->TakeCut());
}

void Journal::CheckConnection() { static_cast<void>(Connect()); }

int Journal::SchemaVersion() {
  const sql::CallWatch::Guard watch = Connect();
  return StoredSchemaVersion(db_);
}

namespace {

// The statements of a written card, shared by the two stores.
const QString kInsertCard = QStringLiteral(
    "INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, run_kind, card_index, "
    "deliberate_repeat, card_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
const QString kTrackColumns =
    QStringLiteral("INSERT INTO written_track (card_id, track, card_text, file_name, record_number) ");
const QString kNumberColumns =
    QStringLiteral("INSERT INTO card_number (track, card_text, state, station, card_id, held_local) ");
const QString kNumberWritten = QStringLiteral(
    " ON CONFLICT (track, card_text) DO UPDATE SET state = 'written', station = excluded.station, "
    "card_id = excluded.card_id, held_local = excluded.held_local, unconfirmed_reason = ''");

QVariantList CardValues(const WrittenCard& card, const QDateTime& when, const QString& local) {
  return {when.toMSecsSinceEpoch(),
          local,
          NotNull(card.station),
          NotNull(card.port),
          NotNull(card.devicePath),
          KindName(card.kind),
          card.cardIndex,
          card.deliberateRepeat ? 1 : 0,
          card.key.isEmpty() ? NullText() : QVariant(card.key)};
}

// The track's text, file name and record number, after its card id.
QVariantList TrackValues(const WrittenTrack& track) {
  const bool fromFile = !track.fileName.isEmpty();
  return {track.track, TextColumn(track.text), fromFile ? QVariant(track.fileName) : NullText(),
          fromFile ? QVariant(track.recordNumber) : NullInt()};
}

// The card on the server as one statement, which is a transaction of its
// own: one round trip and one flushed commit, where a BEGIN, a key lookup,
// three inserts and a COMMIT took seven. A key already recorded inserts
// nothing and gives the card it named.
qint64 InsertWrittenCardAtOnce(QSqlDatabase& db, const WrittenCard& card, const QDateTime& when, const QString& local) {
  QString text = QStringLiteral("WITH card AS (") + kInsertCard +
                 QStringLiteral(" ON CONFLICT (card_key) DO NOTHING RETURNING id)");
  QVariantList values = CardValues(card, when, local);
  for (int i = 0; i < card.tracks.size(); ++i) {
    const WrittenTrack& track = card.tracks[i];
    // Values selected beside the new id take no type from their column: the
    // numbers are cast, so that a null record number is an integer too.
    text += QStringLiteral(", track%1 AS (").arg(i) + kTrackColumns +
            QStringLiteral("SELECT id, CAST(? AS INTEGER), ?, ?, CAST(? AS INTEGER) FROM card)");
    values += TrackValues(track);
    text += QStringLiteral(", number%1 AS (").arg(i) + kNumberColumns +
            QStringLiteral("SELECT CAST(? AS INTEGER), ?, 'written', ?, id, ? FROM card") + kNumberWritten +
            QStringLiteral(")");
    values += QVariantList{track.track, TextColumn(track.text), NotNull(card.station), local};
  }
  // The statement does not see its own insert: the second part finds only a
  // card recorded before under the same key.
  text += QStringLiteral(" SELECT id FROM card UNION ALL SELECT id FROM written_card WHERE card_key = ?");
  values << (card.key.isEmpty() ? NullText() : QVariant(card.key));
  return sql::InsertedId(db, text, values, "a written card");
}

}  // namespace

qint64 Journal::RecordWrittenCard(const WrittenCard& card) {
  const sql::CallWatch::Guard watch = Connect();
  const QDateTime when = OrNow(card.when);
  const QString local = when.toLocalTime().toString(kLocalFormat);
  if (sql::IsPostgres(db_)) {
    const qint64 id = InsertWrittenCardAtOnce(db_, card, when, local);
    emit changed();
    return id;
  }
  qint64 id = 0;
  {
    sql::Transaction transaction(db_);
    if (!card.key.isEmpty()) {
      QSqlQuery known = sql::Exec(db_, QStringLiteral("SELECT id FROM written_card WHERE card_key = ?"), {card.key});
      if (known.next()) return known.value(0).toLongLong();
    }
    id = sql::InsertedId(db_, kInsertCard + QStringLiteral(" RETURNING id"), CardValues(card, when, local),
                         "a written card");
    for (const WrittenTrack& track : card.tracks) {
      sql::Exec(db_, kTrackColumns + QStringLiteral("VALUES (?, ?, ?, ?, ?)"), QVariantList{id} + TrackValues(track));
      sql::Exec(db_, kNumberColumns + QStringLiteral("VALUES (?, ?, 'written', ?, ?, ?)") + kNumberWritten,
                {track.track, TextColumn(track.text), NotNull(card.station), id, local});
    }
    transaction.Commit();
  }
  CatchUpSearchIndexAfterCommit(db_);
  emit changed();
  return id;
}

qint64 Journal::RecordReadCard(const ReadCard& card) {
  const sql::CallWatch::Guard watch = Connect();
  const QDateTime when = OrNow(card.when);
  const qint64 id = sql::InsertedId(db_,
                                    QStringLiteral("INSERT INTO read_card (read_utc_ms, read_local, station, track2, "
                                                   "track3) VALUES (?, ?, ?, ?, ?) RETURNING id"),
                                    {when.toMSecsSinceEpoch(), when.toLocalTime().toString(kLocalFormat),
                                     NotNull(card.station), OptionalText(card.track2), OptionalText(card.track3)},
                                    "a read card");
  emit changed();
  return id;
}

qint64 Journal::RecordListSave(const ListSave& save) {
  const sql::CallWatch::Guard watch = Connect();
  qint64 id = 0;
  {
    sql::Transaction transaction(db_);
    id = InsertListSave(save);
    transaction.Commit();
  }
  emit changed();
  return id;
}

qint64 Journal::InsertListSave(const ListSave& save) {
  const QDateTime when = OrNow(save.when);
  const qint64 id = sql::InsertedId(db_,
                                    QStringLiteral("INSERT INTO list_save (saved_utc_ms, saved_local, station, "
                                                   "file_path) VALUES (?, ?, ?, ?) RETURNING id"),
                                    {when.toMSecsSinceEpoch(), when.toLocalTime().toString(kLocalFormat),
                                     NotNull(save.station), NotNull(save.filePath)},
                                    "a list save");
  for (const ListEntry& entry : save.entries) {
    sql::Exec(db_, QStringLiteral("INSERT INTO list_save_entry (list_save_id, card_id, track) VALUES (?, ?, ?)"),
              {id, entry.cardId, entry.track});
  }
  return id;
}

QList<UnsavedLine> Journal::UnsavedLines(const QString& station) {
  const sql::CallWatch::Guard watch = Connect();
  QSqlQuery query = sql::Exec(db_,
                              QStringLiteral("SELECT t.card_id, t.track, t.card_text, c.written_local "
                                             "FROM written_track t JOIN written_card c ON c.id = t.card_id "
                                             "WHERE c.station = ? AND NOT EXISTS (SELECT 1 FROM list_save_entry e "
                                             "WHERE e.card_id = t.card_id AND e.track = t.track) "
                                             "ORDER BY t.card_id, t.track"),
                              {station});
  QList<UnsavedLine> lines;
  while (query.next()) {
    lines.append(UnsavedLine{query.value(0).toLongLong(), query.value(1).toInt(), TextBytes(query.value(2)),
                             query.value(3).toString()});
  }
  return lines;
}

std::optional<PreviousWrite> Journal::FindWritten(int track, std::string_view text) {
  const sql::CallWatch::Guard watch = Connect();
  QSqlQuery query = sql::Exec(db_,
                              QStringLiteral("SELECT c.id, c.written_local, c.station FROM card_number n "
                                             "JOIN written_card c ON c.id = n.card_id "
                                             "WHERE n.track = ? AND n.card_text = ? AND n.state = 'written'"),
                              {track, TextColumn(text)});
  if (!query.next()) return std::nullopt;
  return PreviousWrite{query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString()};
}

QList<CardRow> Journal::Cards(const CardQuery& request) {
  const sql::CallWatch::Guard watch = Connect();
  if (!SearchesByIndex(db_, request.text)) return CardsWhere(db_, WrittenCardFilter(request), request.limit);
  const qint64 top =
      request.upToId > 0 ? request.upToId : CountOf(sql::Exec(db_, QStringLiteral("SELECT MAX(id) FROM written_card")));
  CardQuery newest = request;
  newest.afterId = std::max(request.afterId, top - kSearchWindow);
  newest.upToId = top;
  QList<CardRow> rows = CardsWhere(db_, WrittenCardFilter(newest), request.limit);
  if (rows.size() >= request.limit || newest.afterId <= request.afterId) return rows;
  CardQuery older = request;
  older.upToId = newest.afterId;
  rows += CardsWhere(db_, IndexedCardFilter(db_, older), request.limit - static_cast<int>(rows.size()));
  return rows;
}

qint64 Journal::LastCardId() {
  const sql::CallWatch::Guard watch = Connect();
  QSqlQuery query = sql::Exec(db_, QStringLiteral("SELECT MAX(id) FROM written_card"));
  return query.next() ? query.value(0).toLongLong() : 0;
}

qint64 Journal::CountCards(const CardQuery& request) {
  const sql::CallWatch::Guard watch = Connect();
  const Filter filter =
      SearchesByIndex(db_, request.text) ? IndexedCardFilter(db_, request) : WrittenCardFilter(request);
  return CountOf(
      sql::Exec(db_, QStringLiteral("SELECT COUNT(*) FROM written_card c WHERE ") + filter.where, filter.values));
}

QList<ReadCardRow> Journal::ReadCards(const CardQuery& request) {
  const sql::CallWatch::Guard watch = Connect();
  const Filter filter = ReadCardFilter(request);
  QVariantList values = filter.values;
  values << request.limit;
  QSqlQuery query = sql::Exec(db_,
                              QStringLiteral("SELECT r.id, r.read_local, r.station, r.track2, r.track3 "
                                             "FROM read_card r WHERE %1 ORDER BY r.id DESC LIMIT ?")
                                  .arg(filter.where),
                              values);
  QList<ReadCardRow> rows;
  while (query.next()) {
    ReadCardRow row;
    row.id = query.value(0).toLongLong();
    row.localTime = query.value(1).toString();
    row.station = query.value(2).toString();
    if (!query.isNull(3)) row.track2 = TextBytes(query.value(3));
    if (!query.isNull(4)) row.track3 = TextBytes(query.value(4));
    rows.append(std::move(row));
  }
  return rows;
}

qint64 Journal::CountReadCards(const CardQuery& request) {
  const sql::CallWatch::Guard watch = Connect();
  const Filter filter = ReadCardFilter(request);
  return CountOf(
      sql::Exec(db_, QStringLiteral("SELECT COUNT(*) FROM read_card r WHERE ") + filter.where, filter.values));
}

qint64 Journal::LastReadCardId() {
  const sql::CallWatch::Guard watch = Connect();
  return CountOf(sql::Exec(db_, QStringLiteral("SELECT MAX(id) FROM read_card")));
}

std::optional<NumberHolder> Journal::HolderRow(const CardNumber& number, bool forUpdate) {
  // SQLite has no row locks; its transactions hold the whole file for writing.
  const QString lock = forUpdate && sql::IsPostgres(db_) ? QStringLiteral(" FOR UPDATE") : QString();
  QSqlQuery query = sql::Exec(db_,
                              QStringLiteral("SELECT state, station, held_local, unconfirmed_reason FROM card_number "
                                             "WHERE track = ? AND card_text = ?") +
                                  lock,
                              {number.track, TextColumn(number.text)});
  if (!query.next()) return std::nullopt;
  return NumberHolder{number, StateFromName(query.value(0).toString()), query.value(1).toString(),
                      query.value(2).toString(), ReasonFromStored(query.value(3).toString())};
}

bool Journal::DropHold(const CardNumber& number, NumberState state, const QString& station) {
  QString text = QStringLiteral("DELETE FROM card_number WHERE track = ? AND card_text = ? AND state = ?");
  QVariantList values{number.track, TextColumn(number.text), StateName(state)};
  if (!station.isEmpty()) {
    text += QStringLiteral(" AND station = ?");
    values << station;
  }
  if (sql::Exec(db_, text, values).numRowsAffected() <= 0) return false;
  // A deliberate repeat reserved a number that a card already carries.
  sql::Exec(db_,
            QStringLiteral("INSERT INTO card_number (track, card_text, state, station, card_id, held_local) "
                           "SELECT t.track, t.card_text, 'written', c.station, c.id, c.written_local "
                           "FROM written_track t JOIN written_card c ON c.id = t.card_id "
                           "WHERE t.track = ? AND t.card_text = ? ORDER BY c.id DESC LIMIT 1"),
            {number.track, TextColumn(number.text)});
  return true;
}

QList<NumberHolder> Journal::Reserve(const QString& station, const QList<CardNumber>& numbers, bool repeatConfirmed) {
  return ReserveOrStep(station, numbers, repeatConfirmed, {}).taken;
}

Reservation Journal::ReserveOrStep(const QString& station, const QList<CardNumber>& numbers, bool repeatConfirmed,
                                   const NextNumber& next, int maxSteps) {
  const sql::CallWatch::Guard watch = Connect();
  // One order for every station, so that two cards waiting on each other's
  // numbers cannot deadlock.
  QList<CardNumber> sorted = numbers;
  std::sort(sorted.begin(), sorted.end(), [](const CardNumber& a, const CardNumber& b) {
    return std::tie(a.track, a.text) < std::tie(b.track, b.text);
  });
  const QString now = NowLocal();
  const QString reserveFree = kNumberColumns + QStringLiteral(
                                                   "VALUES (?, ?, 'reserved', ?, NULL, ?) "
                                                   "ON CONFLICT (track, card_text) DO NOTHING RETURNING track");
  const auto reserveValues = [&](const CardNumber& number) {
    return QVariantList{number.track, TextColumn(number.text), NotNull(station), now};
  };
  // One free number on the server: its insert alone is the reservation, a
  // transaction of its own (one round trip and one commit, where a BEGIN and
  // a COMMIT around it took three). A number held by anyone, or several
  // numbers to be reserved all or none, go through the transaction below.
  if (sorted.size() == 1 && sql::IsPostgres(db_) && sql::Exec(db_, reserveFree, reserveValues(sorted.front())).next()) {
    return {};
  }
  Reservation result;
  sql::Transaction transaction(db_);
  for (const CardNumber& number : sorted) {
    CardNumber candidate = number;
    std::optional<NumberHolder> skipped;
    // A row released between the insert and the look that follows it is
    // simply tried again.
    for (int steps = 0;;) {
      QSqlQuery insert = sql::Exec(db_, reserveFree, reserveValues(candidate));
      if (insert.next()) break;
      insert.finish();
      const std::optional<NumberHolder> holder = HolderRow(candidate, true);
      if (!holder) continue;
      if (holder->state == NumberState::reserved && holder->station == station) break;
      if (holder->station != station && next) {
        std::string moved = next(candidate.track, candidate.text);
        if (!moved.empty()) {
          if (++steps > maxSteps) {
            throw JournalError("No free number within " + std::to_string(maxSteps) + " steps from " + number.text);
          }
          if (!skipped) skipped = holder;
          candidate.text = std::move(moved);
          continue;
        }
      }
      if (repeatConfirmed) {
        sql::Exec(db_,
                  QStringLiteral("UPDATE card_number SET state = 'reserved', station = ?, held_local = ?, "
                                 "unconfirmed_reason = '' WHERE track = ? AND card_text = ?"),
                  {NotNull(station), now, candidate.track, TextColumn(candidate.text)});
      } else {
        result.taken.append(*holder);
      }
      break;
    }
    if (skipped) result.stepped.append(SteppedNumber{*skipped, candidate.text});
  }
  if (!result.taken.isEmpty()) return result;
  transaction.Commit();
  return result;
}

void Journal::CancelReservation(const QString& station, const QList<CardNumber>& numbers) {
  const sql::CallWatch::Guard watch = Connect();
  sql::Transaction transaction(db_);
  for (const CardNumber& number : numbers) DropHold(number, NumberState::reserved, NotNull(station));
  transaction.Commit();
}

void Journal::MarkUnconfirmed(const QString& station, const QList<CardNumber>& numbers, UnconfirmedReason reason) {
  const sql::CallWatch::Guard watch = Connect();
  sql::Transaction transaction(db_);
  for (const CardNumber& number : numbers) {
    sql::Exec(db_,
              QStringLiteral("UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = ? "
                             "WHERE track = ? AND card_text = ? AND station = ? AND state = 'reserved'"),
              {ReasonStored(reason), number.track, TextColumn(number.text), NotNull(station)});
  }
  transaction.Commit();
  emit changed();
}

int Journal::UnconfirmLeftoverReservations(const QString& station) {
  const sql::CallWatch::Guard watch = Connect();
  const int count = sql::Exec(db_,
                              QStringLiteral("UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = ? "
                                             "WHERE station = ? AND state = 'reserved'"),
                              {ReasonStored(UnconfirmedReason::interrupted), NotNull(station)})
                        .numRowsAffected();
  if (count > 0) emit changed();
  return std::max(count, 0);
}

bool Journal::Release(const CardNumber& number) {
  const sql::CallWatch::Guard watch = Connect();
  sql::Transaction transaction(db_);
  const bool released = DropHold(number, NumberState::unconfirmed, QString());
  transaction.Commit();
  if (released) emit changed();
  return released;
}

std::optional<NumberHolder> Journal::Holder(const CardNumber& number) {
  const sql::CallWatch::Guard watch = Connect();
  return HolderRow(number, false);
}

QList<NumberHolder> Journal::OpenReservations() {
  const sql::CallWatch::Guard watch = Connect();
  QSqlQuery query =
      sql::Exec(db_, QStringLiteral("SELECT track, card_text, state, station, held_local, unconfirmed_reason "
                                    "FROM card_number WHERE state <> 'written' "
                                    "ORDER BY held_local, track, card_text"));
  QList<NumberHolder> holders;
  while (query.next()) {
    holders.append(NumberHolder{CardNumber{query.value(0).toInt(), TextBytes(query.value(1))},
                                StateFromName(query.value(2).toString()), query.value(3).toString(),
                                query.value(4).toString(), ReasonFromStored(query.value(5).toString())});
  }
  return holders;
}

}  // namespace journal
