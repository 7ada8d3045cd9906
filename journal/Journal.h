#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "core/WriteMode.h"
#include "journal/CallWatch.h"
#include "journal/FileIdentity.h"

// The card journal: every card written and read, and every list save, kept in
// a database so that a crash loses no card and a number is never issued twice
// unnoticed. One code path over Qt SQL serves the embedded SQLite file and a
// shared server with the same schema.
namespace journal {

// The journal's file in the folder of the settings file in use.
inline constexpr char kDatabaseFileName[] = "cards.db";

// What kind of trouble a JournalError is, so that the station can tell the
// operator what to do; what() keeps the technical detail.
enum class JournalFault {
  failed,       // a statement failed for another reason
  cannotOpen,   // the journal's file cannot be opened or created
  damaged,      // the file is no database, a damaged one, or lacks its tables
  diskFull,     // no room left for the journal
  readOnly,     // the file or its folder takes no writes
  busy,         // another program holds the file locked
  newerSchema,  // written by a newer program; detail() is the version
  badAddress,   // the server setting is no usable PostgreSQL URI; detail() says why
  noDriver,     // Qt's SQL driver for the journal is not installed; detail() names it
  replaced,     // the journal's file (or its WAL) was deleted, moved or replaced since it was opened
};

// A database that cannot be opened, read or written; what() carries the
// driver's reason.
class JournalError : public std::runtime_error {
 public:
  explicit JournalError(const std::string& what, JournalFault fault = JournalFault::failed, std::string detail = {})
      : std::runtime_error(what), fault_(fault), detail_(std::move(detail)) {}
  explicit JournalError(const char* what) : JournalError(std::string(what)) {}
  JournalFault fault() const { return fault_; }
  const std::string& detail() const { return detail_; }

 private:
  JournalFault fault_;
  std::string detail_;
};

// The journal's server cannot be reached (away, refusing, or the connection
// broke). reason() is the client library's own words, for
// "无法连接写卡记录数据库：<reason>". The journal connects again at its next use.
class JournalUnreachable : public JournalError {
 public:
  explicit JournalUnreachable(const QString& reason)
      : JournalError("The journal's server cannot be reached: " + reason.toStdString()), reason_(reason) {}
  const QString& reason() const { return reason_; }

 private:
  QString reason_;
};

// How the card was written, as the writing-mode indicator shows it.
using RunKind = station::WriteMode;

// The words the writing-mode indicator shows for a kind.
QString RunKindCaption(RunKind kind);

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
  // The station's own key for this card (a UUID, say), or empty. Recording a
  // key again gives the first record's id and stores nothing: a record whose
  // commit was cut off with the connection can be sent again safely.
  QString key;
};

// A number a card is to carry on a track.
struct CardNumber {
  int track = 2;
  std::string text;
  friend bool operator==(const CardNumber&, const CardNumber&) = default;
};

// A number is taken while one of these holds it, by any station.
//   reserved:    a station is writing it onto a card now;
//   unconfirmed: a run ended without knowing whether the card took it, so the
//                card may hold it; only a release in the dialog frees it;
//   written:     a card holds it.
enum class NumberState { reserved, unconfirmed, written };

// Why a run ended without knowing whether the card took its numbers.
// unknown: not recorded (numbers marked before the journal kept a reason).
enum class UnconfirmedReason {
  unknown,
  timeout,         // the wait for the swipe ran out after reply bytes came
  reset,           // the device was reset after reply bytes came
  lineLost,        // the line went away under the card
  portClosed,      // the port was closed
  programExit,     // the program ended
  interrupted,     // the program stopped without ending its run (a crash)
  readStarted,     // a read was started in its place
  writeRestarted,  // a new write was started in its place
  notJournaled,    // the device reported it written, the journal could not keep it
};

struct NumberHolder {
  CardNumber number;
  NumberState state = NumberState::reserved;
  QString station;
  QString localTime;                                      // when it was reserved or written, at that station
  UnconfirmedReason reason = UnconfirmedReason::unknown;  // unconfirmed numbers only
};

// A number another station held, and the free number reserved in its place.
struct SteppedNumber {
  NumberHolder skipped;  // the first number passed over and its holder
  std::string text;
};

// What a reservation found: either taken numbers (and nothing reserved) or
// every number reserved, some of them maybe moved on.
struct Reservation {
  QList<NumberHolder> taken;
  QList<SteppedNumber> stepped;
};

// Moves a number of a track on; empty when it cannot move.
using NextNumber = std::function<std::string(int track, const std::string& text)>;

struct ReadCard {
  QDateTime when;  // invalid: now
  QString station;
  std::optional<std::string> track2;  // absent: the track was not read
  std::optional<std::string> track3;
};

// The numbers of one saved list file, for putting back what a lost or new
// journal lacks.
struct ListedNumbers {
  QString filePath;
  QDateTime when;  // when the file was last written
  QList<CardNumber> numbers;
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
  QString text;        // part of a track text or of the station name; empty: any
  QDate from;          // first local day; invalid: no lower bound
  QDate to;            // last local day, inclusive; invalid: no upper bound
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

// A read card as the dialog lists it.
struct ReadCardRow {
  qint64 id = 0;
  QString localTime;
  QString station;
  std::optional<std::string> track2;  // absent: the track was not read
  std::optional<std::string> track3;
};

// Use a Journal only on the thread that opened it (a rule of Qt SQL). Every
// Record... call commits before it returns and throws JournalError when it
// could not; nothing of a failed call stays in the journal.
//
// On SQLite, every call first checks that the file (and its WAL) is still the
// one opened, and throws JournalError (replaced) when it is not.
//
// On a server, every call first connects again if the connection was lost,
// and throws JournalUnreachable (a JournalError) when the server cannot be
// reached; a call cut off by the connection throws it too. A commit cut off
// that way may or may not have happened: the reservation calls may be repeated
// as they are, and a written card repeated with the same key is stored once.
class Journal : public QObject {
  Q_OBJECT

 public:
  // Opens the SQLite journal at file, creating it or bringing an older schema
  // up to date. WAL with synchronous FULL: a committed card survives a power
  // cut. Throws JournalError.
  static std::unique_ptr<Journal> OpenSqlite(const QString& file);

  // Opens the journal on the PostgreSQL server of uri (see PostgresUri.h).
  // A server that cannot be reached now does not fail the opening: the
  // journal connects at its first use. Throws JournalError for a malformed uri.
  static std::unique_ptr<Journal> OpenPostgres(const QString& uri);

  // The [Journal] Database setting: a PostgreSQL URI puts the journal on that
  // server; empty, the SQLite journal at sqliteFile. Throws JournalError for a
  // setting that is neither.
  static std::unique_ptr<Journal> Open(const QString& database, const QString& sqliteFile);

  // Takes over the opened connection of any Qt SQL driver registered under
  // connectionName and readies its schema; the connection is removed when the
  // journal is destroyed, or at once when the constructor throws.
  explicit Journal(const QString& connectionName);
  // A server connection that is opened at the first use: serverConninfo (in
  // libpq's key=value form) is first tried within a bound, so that a host
  // that never answers cannot hold the call.
  Journal(const QString& connectionName, const QString& serverConninfo);
  ~Journal() override;
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  int SchemaVersion();

  // SQLite: what SQLite's own quick check found wrong with the file when it
  // was opened (a lost WAL can leave pages that do not fit), empty when it
  // found nothing.
  const QString& OpenCheckFinding() const { return openCheckFinding_; }

  // SQLite: the file was made by this opening (or was an empty file), so
  // whatever an earlier journal held is not in it.
  bool Created() const { return created_; }

  // Connects if not connected; throws JournalUnreachable when it cannot. For
  // a station that wants to tell the operator at start.
  void CheckConnection();

  // After a server call was cut or a connect ran out of time, the calls that
  // follow fail at once for a while, so that one operation waits for the
  // server once; the operator's next action may try again at once.
  void TryAgainNow();

  // Whether the last use reached the database; tries nothing. A poll that
  // should not wait for a server away asks this first.
  bool Connected() const;

  qint64 RecordWrittenCard(const WrittenCard& card);
  qint64 RecordReadCard(const ReadCard& card);
  // The save and all its entries in one transaction.
  qint64 RecordListSave(const ListSave& save);

  // The station's written tracks that no list save holds, oldest first, track
  // 2 before track 3: what the on-screen list held when the program ended.
  QList<UnsavedLine> UnsavedLines(const QString& station);

  // When station last saved its list, as the journal knows it; none when it
  // never did.
  std::optional<QDateTime> LastListSave(const QString& station);

  // Puts back, as written cards of station, the numbers of a saved list that
  // no card in the journal carries, with a list save of that file holding
  // them, so that they are neither listed again nor written twice. One
  // transaction; returns how many numbers went in.
  int RestoreListedNumbers(const QString& station, const ListedNumbers& listed);

  // The latest card written with text on track, from any station.
  std::optional<PreviousWrite> FindWritten(int track, std::string_view text);

  // Newest first.
  QList<CardRow> Cards(const CardQuery& query);

  // Grows with every card written here or elsewhere; a cheap poll for change.
  qint64 LastCardId();

  // How many written cards match query, its limit aside.
  qint64 CountCards(const CardQuery& query);

  // The read cards, newest first: the text matches the station or a track.
  QList<ReadCardRow> ReadCards(const CardQuery& query);
  qint64 CountReadCards(const CardQuery& query);
  qint64 LastReadCardId();

  // Reservations: a station reserves a card's numbers before it sends the
  // write command, records the card written (RecordWrittenCard, which marks
  // them written) when the device reports success, and otherwise cancels them
  // or marks them unconfirmed. Numbers are per track.

  // Reserves all numbers for one card of station, in one transaction: either
  // all are reserved and committed, or none is and the holders of the taken
  // ones come back (non-empty). A number this station has reserved already
  // (a failed card tried again) stays reserved. With repeatConfirmed (the
  // operator said 是 to writing a taken number again) every number is taken
  // over.
  QList<NumberHolder> Reserve(const QString& station, const QList<CardNumber>& numbers, bool repeatConfirmed = false);
  // The same, in the same transaction, except that a number another station
  // holds moves on with next (while it gives one, at most maxSteps times)
  // until a free one is reserved in its place. Finding and reserving are one
  // step, so a busy station can never keep another one's run from its numbers.
  Reservation ReserveOrStep(const QString& station, const QList<CardNumber>& numbers, bool repeatConfirmed,
                            const NextNumber& next, int maxSteps = 100000);

  // The card was not written (nothing sent, or the device refused it): the
  // station's reservations of numbers are dropped.
  void CancelReservation(const QString& station, const QList<CardNumber>& numbers);

  // The run ended without a decision for the card: its reserved numbers
  // become unconfirmed, for this reason.
  void MarkUnconfirmed(const QString& station, const QList<CardNumber>& numbers, UnconfirmedReason reason);

  // Reservations station left when it ended without a decision (a crash, a
  // power cut) become unconfirmed as interrupted; call at start. Returns how
  // many.
  int UnconfirmLeftoverReservations(const QString& station);

  // Frees an unconfirmed number (the 释放 action). A number that an earlier
  // card carried goes back to being written. False when the number was not
  // unconfirmed.
  bool Release(const CardNumber& number);

  // Who holds a number, if anyone.
  std::optional<NumberHolder> Holder(const CardNumber& number);

  // Reserved and unconfirmed numbers of every station, oldest first.
  QList<NumberHolder> OpenReservations();

 signals:
  // Something was recorded through this journal.
  void changed();
  // SQLite: the file or its WAL was found deleted, moved or replaced; said
  // once, before the call that found it throws.
  void fileLost();

 private:
  // Checks the file, connects if not connected, and bounds the call on a
  // server until the returned guard goes.
  [[nodiscard]] sql::CallWatch::Guard Connect();
  void Prepare();
  std::optional<NumberHolder> HolderRow(const CardNumber& number, bool forUpdate);
  // Deletes the row of number in state (held by station, unless empty) and
  // puts back the latest written card that carried it. False: no such row.
  bool DropHold(const CardNumber& number, NumberState state, const QString& station);
  // The list save and its entries, inside the caller's transaction.
  qint64 InsertListSave(const ListSave& save);

  // SQLite: throws JournalError (replaced) when the file or its WAL is no
  // longer the one opened, so that nothing goes into a file nobody sees.
  void CheckSameFile();

  QSqlDatabase db_;
  QString connectionName_;

  bool prepared_ = false;
  QString file_;  // SQLite: the journal's file
  std::optional<FileIdentity> fileIdentity_;
  std::optional<FileIdentity> walIdentity_;
  QString openCheckFinding_;
  bool created_ = false;
  bool lostSaid_ = false;
  QString conninfo_;  // server: for the bounded connect
  std::unique_ptr<sql::CallWatch> watch_;
  std::chrono::steady_clock::time_point awayUntil_{};
  QString awayReason_;
};

}  // namespace journal
