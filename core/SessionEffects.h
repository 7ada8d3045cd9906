#pragma once
// What the card session needs from the station around it, by role: the port,
// the timers, the screen, the form with its record files, and the journal.
// The window implements all five; a test or a benchmark implements only the
// roles it watches and leaves the rest to quiet stand-ins.
//
// Threads: main thread only, like the session.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/WriteCommand.h"
#include "core/WriteMode.h"

namespace station {

// The places a text of the session goes to.
enum class TextSlot {
  readPrompt,   // the hint beside the read button
  writePrompt,  // the hint beside the write button
  portState,    // status bar, left panel
  operation,    // status bar, right panel
  seconds,      // the seconds waited
};

// One track group as the operator left it. Texts are byte strings.
struct TrackForm {
  bool ticked = false;
  bool continuous = false;
  std::string step;
  bool fileBox = false;
  bool fileChosen = false;  // a record file is loaded for this track
  std::string text;
};

struct StationForm {
  TrackForm track2;
  TrackForm track3;
  std::string writeCount;

  // The mode a write started from this form runs in.
  WriteMode Mode() const {
    return WriteModeFor(track2.continuous || track3.continuous, track2.fileBox || track3.fileBox);
  }
};

// A card the device reported written, as it goes into the journal.
struct WrittenCardRecord {
  int tracks = 0;  // 1 track 2, 2 track 3, 3 both
  std::string track2;
  std::string track3;
  int cardIndex = 1;              // 1-based ordinal in its run
  bool deliberateRepeat = false;  // the operator answered 是 to the duplicate question
};

// A number the journal found taken when the session tried to reserve it.
enum class NumberHold { reserved, unconfirmed, written };

struct TakenNumber {
  int track = 2;
  std::string text;
  NumberHold hold = NumberHold::reserved;
  std::string station;      // the holder, UTF-8
  std::string localTime;    // when it was reserved or written there
  bool ownStation = false;  // this station holds it
  // A number this station wrote that the settings let it write again
  // without asking.
  bool quietRepeat = false;
  // Unconfirmed numbers: why their run ended undecided, in the operator's
  // words (UTF-8), as in "超时".
  std::string reason;
};

// A number of a continuous track that another station held, and the free
// number reserved in its place.
struct SteppedNumber {
  TakenNumber skipped;  // the first one passed over
  std::string text;
};

struct NumbersReserved {
  std::vector<TakenNumber> taken;      // when any, nothing was reserved
  std::vector<SteppedNumber> stepped;  // reserved in place of the card's own
};

// Moves a number on a track by the run's step; empty when the track does not
// move on by itself or the number cannot be increased.
using NumberStep = std::function<std::string(int track, const std::string& text)>;

// Why a card that went to the device ended without a decision.
enum class Undecided {
  timeout,         // the wait for the swipe ran out
  reset,           // 复位
  lineLost,        // the line went away
  portClosed,      // 端口关闭
  programExit,     // the program ended
  readStarted,     // 读卡 pressed
  writeRestarted,  // 写卡 pressed again
  notJournaled,    // reported written, but the journal could not keep it
};

// The journal cannot be reached or used, so it cannot reserve a number now;
// what() is the whole text the operator reads: a server away and a local file
// that failed are told in different words.
class JournalAway : public std::runtime_error {
 public:
  explicit JournalAway(const std::string& reason, std::int64_t keptCard = 0)
      : std::runtime_error(reason), keptCard_(keptCard) {}
  // A written card that could not be recorded is kept by the station under
  // this (negative) id until the journal is back; 0 otherwise.
  std::int64_t keptCard() const { return keptCard_; }

 private:
  std::int64_t keptCard_;
};

class SessionPort {
 public:
  virtual ~SessionPort() = default;
  virtual bool PortOpen() = 0;
  // Closes the port if it is open and lets the line settle, then opens the
  // port with this number; false when there is none or it cannot be opened.
  virtual bool OpenPort(std::optional<std::uint16_t> number) = 0;
  // A last attempt to open the port before a command; its failure is silent.
  virtual void TryOpenPort() = 0;
  virtual void ClosePort() = 0;
  virtual std::uint16_t PortNumber() = 0;
  // Puts the bytes and returns once they have left and the device has had its
  // pause after a command.
  virtual void Send(std::string_view bytes) = 0;
  // Gives the rest of a reply time to arrive.
  virtual void AwaitMoreReply() = 0;
  // Opens the port with the number it had, without any message; true when it
  // is open afterwards. Used to reconnect after the line went away.
  virtual bool ReopenPort() = 0;
  // The line naming the path and cause of the last failed open (UTF-8); empty
  // when the open did not fail or the cause is unknown.
  virtual std::string OpenFailureDetail() = 0;
};

class SessionTimers {
 public:
  virtual ~SessionTimers() = default;
  // The one-second timer that sends TimerTick; started afresh, also when it runs.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;
  // (Re)starts the short wait for the rest of a write reply that stopped in
  // the middle of the success reply; ReplyTailWaitOver() follows unless it is
  // stopped first.
  virtual void StartReplyTailWait() = 0;
  virtual void StopReplyTailWait() = 0;
  // The two-second timer that sends ReconnectTick after a line loss.
  virtual void StartReconnectTimer() = 0;
  virtual void StopReconnectTimer() = 0;
};

// What the operator sees, and the boxes that wait for an answer.
class SessionScreen {
 public:
  virtual ~SessionScreen() = default;
  virtual void ShowText(TextSlot slot, const std::string& text) = 0;  // UTF-8
  virtual void SetTrackText(int track, const std::string& bytes) = 0;
  // One line of the written-card list; cardId is the card's journal entry.
  virtual void AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) = 0;
  virtual void Message(const std::string& text) = 0;  // modal, UTF-8
  // The same box with the warning icon, for a fault the operator must mend.
  virtual void Warning(const std::string& text) = 0;
  // A question with 是 and 否 (UTF-8); true for 是.
  virtual bool Ask(const std::string& question) = 0;
  virtual void Beep() = 0;
  virtual void Focus(FocusTarget target) = 0;
  virtual void ShowWriteMode(WriteMode mode) = 0;
  // true: the boxes of tracks 2 and 3 may be ticked (a port is open);
  // false: none of the three may.
  virtual void EnableTrackBoxes(bool enable) = 0;
};

// The form as the operator left it, and the record files behind it.
class SessionForm {
 public:
  virtual ~SessionForm() = default;
  virtual StationForm Form() = 0;
  // Saves and empties the written-card list when it has grown to its limit.
  virtual void KeepCardListInBounds() = 0;
  virtual bool RecordsLeft(int track) = 0;
  // Puts the next record into the track field; throws when it cannot be read.
  virtual void LoadNextRecord(int track) = 0;
  // Unticks the track's file box and track box and closes its record file.
  virtual void EndFileTrack(int track) = 0;
};

class SessionJournal {
 public:
  virtual ~SessionJournal() = default;
  // Commits a written card and returns its id; throws std::exception with the
  // reason when it could not be committed, JournalAway when the journal is
  // away (the card is then recorded once it is back).
  virtual std::int64_t RecordWrittenCard(const WrittenCardRecord& card) = 0;
  // Journals a card read; absent tracks were not read. Never throws.
  virtual void RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) = 0;

  // Reservations: no card is sent a number the journal has not reserved.
  // Reserves the numbers the card carries, all in one committed transaction.
  // A number another station holds moves on with step (while step gives
  // one) to the first free number, reserved in its place. No taken numbers:
  // all are reserved (those this station holds reserved already stay so).
  // Otherwise none is, and the taken ones come back. With repeat every taken
  // number is taken over. Throws JournalAway.
  virtual NumbersReserved ReserveNumbers(const WrittenCardRecord& card, const NumberStep& step, bool repeat) = 0;
  // The card was not written: its reservations are dropped. Never throws; a
  // journal away is told when it is back.
  virtual void CancelReservation(const WrittenCardRecord& card) = 0;
  // The card may or may not hold its numbers: nobody gets them until they are
  // released. Never throws, as above.
  virtual void MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason) = 0;
};

// The roles a session talks to; they outlive it.
struct SessionRoles {
  SessionPort& port;
  SessionTimers& timers;
  SessionScreen& screen;
  SessionForm& form;
  SessionJournal& journal;
};

}  // namespace station
