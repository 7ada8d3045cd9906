#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The card journal: every card written and read, and every list save, kept in
// a database so that a crash loses no card and a number is never issued twice
// unnoticed. One code path over Qt SQL serves the embedded SQLite file and a
// shared server with the same schema.
namespace journal {

// The journal's file in the folder of the settings file in use.
inline constexpr char kDatabaseFileName[] = "cards.db";

// A database that cannot be opened, read or written; what() carries the
// driver's reason.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How the card was written, as the writing-mode indicator shows it: a file
// track wins over a continuous one.
enum class RunKind { normal, continuous, file };

// One written track of a card. Texts are bytes, one per character.
struct WrittenTrack {
  int track = 2;  // 2 or 3
  std::string text;
  QString fileName;      // file runs: the record file
  int recordNumber = 0;  // file runs: 1-based record of that file
};

struct WrittenCard {
  QDateTime when;  // invalid: now
  QString station;
  QString port;        // as the settings name it, "COM1"
  QString devicePath;  // the device the port opened
  RunKind kind = RunKind::normal;
  int cardIndex = 1;              // 1-based ordinal in its run
  bool deliberateRepeat = false;  // the operator chose to write a number again
  QList<WrittenTrack> tracks;     // track 2 first
};

struct ReadCard {
  QDateTime when;  // invalid: now
  QString station;
  std::optional<std::string> track2;  // absent: the track was not read
  std::optional<std::string> track3;
};

// One line of the on-screen list: a track of a journaled card.
struct ListEntry {
  qint64 cardId = 0;
  int track = 2;
};

struct ListSave {
  QDateTime when;  // invalid: now
  QString station;
  QString filePath;
  QList<ListEntry> entries;
};

// A written track that no list save holds yet.
struct UnsavedLine {
  qint64 cardId = 0;
  int track = 2;
  std::string text;
  QString localTime;  // "yyyy-MM-dd HH:mm:ss" at the writing station
};

// The latest card that carried a text on a track.
struct PreviousWrite {
  qint64 cardId = 0;
  QString localTime;
  QString station;
};

struct CardQuery {
  QString text;   // part of a track text or of the station name; empty: any
  QDate from;     // first local day; invalid: no lower bound
  QDate to;       // last local day, inclusive; invalid: no upper bound
  qint64 afterId = 0;  // only cards with a greater id
  qint64 upToId = 0;   // only cards up to this id; 0: no bound
  int limit = 5000;
};

struct CardRow {
  qint64 id = 0;
  QString localTime;
  QString station;
  RunKind kind = RunKind::normal;
  int cardIndex = 0;
  bool deliberateRepeat = false;
  std::optional<WrittenTrack> track2;
  std::optional<WrittenTrack> track3;
};

// The host name, the station name when the settings give none.
QString DefaultStationName();

// The table's columns, shared by the dialog and the export so that the file
// holds what the table shows.
QStringList CardColumnCaptions();
QStringList CardRowCells(const CardRow& row);

// UTF-8 with a byte-order mark, so that spreadsheet programs take it as
// UTF-8; comma-separated, CR LF line ends, a header line of the captions.
QByteArray ExportCsv(const QList<CardRow>& rows);

// Use a Journal only on the thread that opened it (a rule of Qt SQL). Every
// Record... call commits before it returns and throws JournalError when it
// could not; nothing of a failed call stays in the journal.
class Journal : public QObject {
  Q_OBJECT

 public:
  // Opens the SQLite journal at file, creating it or bringing an older schema
  // up to date. WAL with synchronous FULL: a committed card survives a power
  // cut. Throws JournalError.
  static std::unique_ptr<Journal> OpenSqlite(const QString& file);

  // Takes over the opened connection of any Qt SQL driver registered under
  // connectionName and readies its schema; the connection is removed when the
  // journal is destroyed, or at once when the constructor throws.
  explicit Journal(const QString& connectionName);
  ~Journal() override;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  int SchemaVersion();

  qint64 RecordWrittenCard(const WrittenCard& card);
  qint64 RecordReadCard(const ReadCard& card);
  // The save and all its entries in one transaction.
  qint64 RecordListSave(const ListSave& save);

  // The station's written tracks that no list save holds, oldest first, track
  // 2 before track 3: what the on-screen list held when the program ended.
  QList<UnsavedLine> UnsavedLines(const QString& station);

  // The latest card written with text on track, from any station.
  std::optional<PreviousWrite> FindWritten(int track, std::string_view text);

  // Newest first.
  QList<CardRow> Cards(const CardQuery& query);

  // Grows with every card written here or elsewhere; a cheap poll for change.
  qint64 LastCardId();

 signals:
  // Something was recorded through this journal.
  void changed();

 private:
  QSqlDatabase db_;
  QString connectionName_;
};

}  // namespace journal
