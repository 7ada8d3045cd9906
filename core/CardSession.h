#pragma once
// The card station's run logic without widgets or Qt: what is armed for
// reading and writing, the reply collected so far, the seconds waited and the
// card count, and every decision the operator's buttons, the device's replies
// and the one-second timer lead to. Events come in as member calls; all that
// the station shows, sends or asks goes out through the roles of
// SessionEffects.h.
//
// Threads: main thread only, like the window that owns it.

#include <string>
#include <string_view>

#include "core/FileTracks.h"
#include "core/SessionEffects.h"

namespace station {

class CardSession {
 public:
  explicit CardSession(const SessionRoles& roles)
      : port_(roles.port), timers_(roles.timers), screen_(roles.screen), form_(roles.form), journal_(roles.journal) {}

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
  // The mode of the write run started last.
  WriteMode runMode() const { return runMode_; }
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
  bool FileRun() const { return runMode_ == WriteMode::file; }
  enum class Reservation { reserved, refused, stepped };
  Reservation ReserveArmed(bool retry);
  // How the run moves its continuous tracks on, for the journal.
  NumberStep ContinuousStep() const;
  void ShowStepped(const SteppedNumber& number);
  void HoldArmed();
  void SettleHeld(Undecided reason, bool lineIntact = true);
  void MarkHeldUndecided(Undecided reason);
  void LetGoOfHeld(Undecided reason, bool lineIntact = true);
  bool CallOffUnansweredCard();
  std::string TakenQuestion(const TakenNumber& number) const;

  // The form as this operation found it; refreshed where the session itself
  // changed it (a track text moved on, a record loaded, a file track ended).
  const StationForm& TakeSnapshot();

  SessionPort& port_;
  SessionTimers& timers_;
  SessionScreen& screen_;
  SessionForm& form_;
  SessionJournal& journal_;
  StationForm snapshot_;
  int readTracks_ = 0;  // 0 none, 1 track 2, 2 track 3, 3 both
  int writeTracks_ = 0;
  std::string readCommand_;
  std::string writeCommand_;
  std::string replyHex_;
  int elapsed_ = 0;
  int cardIndex_ = 0;
  // A run started with a file box ticked judges its replies as a file run
  // alone, whatever the boxes show later.
  WriteMode runMode_ = WriteMode::normal;
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
