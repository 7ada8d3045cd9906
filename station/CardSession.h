#pragma once
// The card station's run logic without widgets or Qt: what is armed for
// reading and writing, the reply collected so far, the seconds waited and the
// card count, and every decision the operator's buttons, the device's replies
// and the one-second timer lead to. Events come in as member calls; all that
// the station shows, sends or asks goes out through SessionEffects.
//
// Threads: main thread only, like the window that owns it.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "station/FileTracks.h"
#include "station/WriteCommand.h"

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

class SessionEffects {
 public:
  virtual ~SessionEffects() = default;

  // --- The port
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

  // --- What the operator sees
  virtual void ShowText(TextSlot slot, const std::string& text) = 0;  // UTF-8
  virtual void SetTrackText(int track, const std::string& bytes) = 0;
  // One line of the written-card list; cardId is the card's journal entry.
  virtual void AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) = 0;
  virtual void Message(const std::string& text) = 0;  // modal, UTF-8
  // The same box with the warning icon, for a fault the operator must mend.
  virtual void Warning(const std::string& text) = 0;
  virtual void Beep() = 0;
  virtual void Focus(FocusTarget target) = 0;
  virtual void ShowWriteMode(const WriteModeLook& look) = 0;
  // true: the boxes of tracks 2 and 3 may be ticked (a port is open);
  // false: none of the three may.
  virtual void EnableTrackBoxes(bool enable) = 0;
  // Starts the one-second timer afresh, also when it runs.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;

  // --- The form and its record files
  virtual StationForm Form() = 0;
  // Saves and empties the written-card list when it has grown to its limit.
  virtual void KeepCardListInBounds() = 0;
  virtual bool RecordsLeft(int track) = 0;
  // Puts the next record into the track field; throws when it cannot be read.
  virtual void LoadNextRecord(int track) = 0;
  // Unticks the track's file box and track box and closes its record file.
  virtual void EndFileTrack(int track) = 0;

  // --- The journal
  // Commits a written card and returns its id; throws std::exception with the
  // reason when it could not be committed, JournalAway when the journal is
  // away (the card is then recorded once it is back).
  virtual std::int64_t RecordWrittenCard(const WrittenCardRecord& card) = 0;
  // Journals a card read; absent tracks were not read. Never throws.
  virtual void RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) = 0;
  // A question with 是 and 否 (UTF-8); true for 是.
  virtual bool Ask(const std::string& question) = 0;
  // (Re)starts the short wait for the rest of a write reply that stopped in
  // the middle of the success reply; ReplyTailWaitOver() follows unless it is
  // stopped first.
  virtual void StartReplyTailWait() = 0;
  virtual void StopReplyTailWait() = 0;
  // --- Reconnecting after the line went away
  // Opens the port with the number it had, without any message; true when it
  // is open afterwards.
  virtual bool ReopenPort() = 0;
  // Starts or stops the two-second timer that sends ReconnectTick.
  virtual void StartReconnectTimer() = 0;
  virtual void StopReconnectTimer() = 0;
  // The line naming the path and cause of the last failed open (UTF-8); empty
  // when the open did not fail or the cause is unknown.
  virtual std::string OpenFailureDetail() = 0;

  // --- Reservations: no card is sent a number the journal has not reserved
  // Reserves the numbers the card carries, all in one committed transaction.
  // Empty: all are reserved (those this station holds reserved already stay
  // so). Otherwise none is, and the taken ones come back. With repeat every
  // number is taken over. Throws JournalAway.
  virtual std::vector<TakenNumber> ReserveNumbers(const WrittenCardRecord& card, bool repeat) = 0;
  // The first number from start, increased by step, that no other station
  // holds; empty when the number cannot be increased. Throws JournalAway.
  virtual std::string FirstFreeNumber(int track, const std::string& start, std::uint64_t step) = 0;
  // The card was not written: its reservations are dropped. Never throws; a
  // journal away is told when it is back.
  virtual void CancelReservation(const WrittenCardRecord& card) = 0;
  // The card may or may not hold its numbers: nobody gets them until they are
  // released. Never throws, as above.
  virtual void MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason) = 0;
};

class CardSession {
 public:
  explicit CardSession(SessionEffects& effects) : fx_(effects) {}

  // --- Operator
  // portName as stored, e.g. "com1"; its fourth character is the port digit.
  void OpenPressed(const std::string& portName);
  void ClosePressed();
  void ResetPressed();
  void StatusPressed();
  void ReadPressed();
  void WritePressed();
  // A record file was chosen or dropped for a track: its write count restarts.
  void FileChosen(int track);

  // --- Device and timer
  // A chunk of the device's reply as it arrived (raw bytes).
  void ReplyBytes(std::string_view bytes);
  void TimerTick();
  // The line went away under an open port: nothing armed can be answered. The
  // port is closed and reopened by ReconnectTick until the device is back.
  void PortLost();
  // The wait for the rest of a write reply ran out.
  void ReplyTailWaitOver();
  // Every two seconds after a line loss, until the port opens again or the
  // operator takes the port in hand.
  void ReconnectTick();

  // The program ends, with the port still open: a card on the writer that
  // nothing has answered yet is called off on the device and its numbers are
  // dropped; one that was answered without a decision keeps them blocked until
  // someone releases them.
  void Closing();

  // Sends one hex command; false when nothing went out (port closed or the
  // command too long), after telling the operator why.
  bool SendCommand(const std::string& hexCommand);

  // --- State, for the window and tests
  int readTracks() const { return readTracks_; }
  int writeTracks() const { return writeTracks_; }
  const std::string& readCommand() const { return readCommand_; }
  const std::string& writeCommand() const { return writeCommand_; }
  const std::string& replyHex() const { return replyHex_; }
  int elapsedSeconds() const { return elapsed_; }
  int cardIndex() const { return cardIndex_; }
  bool fileRun() const { return fileRun_; }
  bool timerRunning() const { return timerRunning_; }
  int fileCount(int track) const { return track == 2 ? fileCount2_ : fileCount3_; }
  bool reconnecting() const { return reconnecting_; }
  // The record files of tracks 2 and 3; the window loads them when the
  // operator browses and reads on from them when the session asks.
  FileTracks& files() { return files_; }
  const FileTracks& files() const { return files_; }

 private:
  void StartTimer();
  void StopTimer();
  void Disarm();
  void ArmRead();
  void HandleReadReply(const std::string& chunk);
  bool BuildWrite(bool fromFiles);
  bool ApplyWriteBuild(const WriteBuild& build);
  void StopWriteWait();
  void EndRunOnRefusedRebuild();
  void ArmNextCard(bool built, bool retry = false);
  bool TakeWriteReply(const std::string& chunk);
  void RetryFailedCard();
  // Journals the armed card and shows it written; the operator's text when
  // the journal could not take it.
  std::optional<std::string> RecordWrittenCard();
  // The run stops after a card the journal could not record, and says why.
  void StopAfterUnjournaledCard(const std::string& failure);
  void AdvanceContinuousTracks();
  void HandleWriteReply();
  void HandleFileWriteReply();
  bool ClearToSend(bool retry);
  bool SendWrite(bool retry);
  void EndWriteRun();
  bool AwaitReplyTail(const std::string& chunk);
  void JudgeWriteReply(const std::string& chunk);
  void StopReconnecting();
  WrittenCardRecord ArmedFromForm(bool retry) const;
  enum class Reservation { reserved, refused, stepped };
  Reservation ReserveArmed(bool retry);
  bool StepPast(const TakenNumber& taken);
  void HoldArmed();
  void SettleHeld(Undecided reason, bool lineIntact = true);
  void MarkHeldUndecided(Undecided reason);
  void LetGoOfHeld(Undecided reason, bool lineIntact = true);
  bool CallOffUnansweredCard();
  std::string TakenQuestion(const TakenNumber& number) const;

  SessionEffects& fx_;
  int readTracks_ = 0;  // 0 none, 1 track 2, 2 track 3, 3 both
  int writeTracks_ = 0;
  std::string readCommand_;
  std::string writeCommand_;
  std::string replyHex_;
  int elapsed_ = 0;
  int cardIndex_ = 0;
  // The write run was started with a file box ticked: its replies are judged
  // as a file run alone.
  bool fileRun_ = false;
  bool timerRunning_ = false;
  int fileCount2_ = 0;
  int fileCount3_ = 0;
  FileTracks files_;
  // What the armed write command carries, checked and cleared by the guard.
  WrittenCardRecord armed_;
  // A write reply stopped inside the success reply; its tail is awaited.
  bool awaitingTail_ = false;
  // The port name of the last open, as the operator's settings gave it; the
  // reconnect shows it again.
  std::string portName_;
  bool reconnecting_ = false;
  // The numbers the journal holds reserved for this station's armed card
  // (tracks 0: none); whether a command carrying them went to the device
  // with no decision since; whether any reply bytes came after it (the device
  // answers a swipe at once, so without any the card was never swiped); and
  // whether they were marked unconfirmed.
  WrittenCardRecord held_;
  bool heldSent_ = false;
  bool heldAnswered_ = false;
  bool heldUnconfirmed_ = false;
};

}  // namespace station
