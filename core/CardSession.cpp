#include "core/CardSession.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>
#include <variant>

#include "core/HexText.h"
#include "core/NumberSequence.h"
#include "core/ReadReply.h"
#include "core/Texts.h"
#include "core/TrackCharacters.h"

namespace station {

namespace {

// A step or count field read as a decimal number; anything else stops the
// reply handling, as a field emptied during a run must not write a guess.
std::uint64_t DecimalField(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) {
    throw std::invalid_argument("'" + text + "' is not a valid integer value");
  }
  return value;
}

// The port number is the fourth character of the name alone: "COM3" is 3,
// "COM10" is 1.
std::optional<std::uint16_t> PortNumberOf(const std::string& name) {
  if (name.size() < 4 || std::isdigit(static_cast<unsigned char>(name[3])) == 0) return std::nullopt;
  return static_cast<std::uint16_t>(name[3] - '0');
}

std::string FinishedText(const std::string& count) { return kWriteFinishedBefore + count + kWriteFinishedAfter; }

WriteTrackInput WriteInput(const TrackForm& track) {
  WriteTrackInput input;
  input.ticked = track.ticked;
  input.continuous = track.continuous;
  input.stepEmpty = track.step.empty();
  input.fileBox = track.fileBox;
  input.fileChosen = track.fileChosen;
  input.text = track.text;
  return input;
}

bool Carries(int tracks, int track) { return (tracks & (track == 2 ? 1 : 2)) != 0; }

const std::string& ArmedText(const WrittenCardRecord& card, int track) {
  return track == 2 ? card.track2 : card.track3;
}

// The success reply is ESC "rp"; a reply whose last bytes are its first one
// or two (hex "1B" or "1B72") may be cut in the middle of it.
constexpr std::size_t kSuccessPrefixHex = 4;

bool EndsInSuccessPrefix(const std::string& replyHex) {
  std::string tail = replyHex.substr(replyHex.size() - std::min<std::size_t>(replyHex.size(), kSuccessPrefixHex));
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return tail.ends_with("1B") || tail == "1B72";
}

const TrackForm& TrackOf(const StationForm& form, int track) { return track == 2 ? form.track2 : form.track3; }

int TrackBit(int track) { return track == 2 ? 1 : 2; }

// How often a card's numbers are looked for again after a continuous track
// stepped past a taken one; each look steps on as far as needed, so only
// other stations taking the new numbers first make it look again.
constexpr int kReserveAttempts = 100;

}  // namespace

// --- Port control ---------------------------------------------------------------

void CardSession::OpenPressed(const std::string& portName) {
  StopReconnecting();
  portName_ = portName;
  if (port_.OpenPort(PortNumberOf(portName))) {
    screen_.EnableTrackBoxes(true);
  } else {
    const std::string detail = port_.OpenFailureDetail();
    screen_.Warning(detail.empty() ? std::string(kPortUnavailable) : kPortUnavailable + ("\n" + detail));
  }
  // A failed open must not read as success: the panel shows the closed form.
  screen_.ShowText(TextSlot::portState, portName + (port_.PortOpen() ? kPortOpenSuffix : kPortClosedSuffix));
}

void CardSession::ClosePressed() {
  StopReconnecting();
  // A card answered without a decision may have been written: its numbers
  // stay blocked. One nothing answered is called off first.
  if (writeTracks_ > 0) SettleHeld(Undecided::portClosed, CallOffUnansweredCard());
  if (port_.PortOpen()) port_.ClosePort();
  screen_.EnableTrackBoxes(false);
  screen_.ShowText(TextSlot::portState, "COM" + std::to_string(port_.PortNumber()) + kPortClosedSuffix);
}

void CardSession::PortLost() {
  const bool writeArmed = writeTracks_ > 0;
  // Closed as the close button does, so that a reopen starts from scratch.
  if (port_.PortOpen()) port_.ClosePort();
  // The card's answer may have been lost with the line.
  LetGoOfHeld(Undecided::lineLost, false);
  Disarm();
  StopTimer();
  screen_.ShowText(TextSlot::seconds, kNoSeconds);
  screen_.EnableTrackBoxes(false);
  screen_.ShowText(TextSlot::portState, "COM" + std::to_string(port_.PortNumber()) + kPortClosedSuffix);
  screen_.ShowText(TextSlot::operation, kLineLost);
  // The card on the writer may or may not have been written: say so, rather
  // than let the operator count it.
  if (writeArmed) screen_.ShowText(TextSlot::writePrompt, kWriteLineLost);
  reconnecting_ = true;
  timers_.StartReconnectTimer();
}

void CardSession::ReconnectTick() {
  if (!reconnecting_ || !port_.ReopenPort()) return;
  StopReconnecting();
  // Nothing is re-armed: the operator starts the next read or write.
  screen_.EnableTrackBoxes(true);
  screen_.ShowText(TextSlot::portState, portName_ + kPortOpenSuffix);
  screen_.ShowText(TextSlot::operation, kLineBack);
}

void CardSession::StopReconnecting() {
  if (!reconnecting_) return;
  reconnecting_ = false;
  timers_.StopReconnectTimer();
  // Nothing waits for the device any more: the line-lost text would say otherwise.
  screen_.ShowText(TextSlot::operation, "");
}

void CardSession::ResetPressed() {
  if (port_.PortOpen()) SendCommand(kResetCommand);
  // The reset leaves the write armed. A card answered before it may have
  // taken its numbers: they stay blocked until a reply decides. One nothing
  // answered holds nothing; its numbers stay the run's reservation.
  if (writeTracks_ > 0) SettleHeld(Undecided::reset);
  if (timerRunning_) {
    elapsed_ = 0;
    StopTimer();
    screen_.ShowText(TextSlot::seconds, kNoSeconds);
  }
}

void CardSession::StatusPressed() {
  if (port_.PortOpen()) SendCommand(kStatusCommand);
}

void CardSession::TimerTick() {
  if (!port_.PortOpen()) return;
  if (elapsed_ >= kWaitLimitTicks) {
    elapsed_ = 0;
    StopTimer();
    screen_.ShowText(TextSlot::seconds, kNoSeconds);
    SendCommand(kResetCommand);
    if (writeTracks_ > 0) {
      // Without a swipe the card holds nothing, and the operator starts again.
      const bool undecided = heldSent_ && heldAnswered_;
      screen_.ShowText(TextSlot::writePrompt, undecided ? kWriteTimedOutUndecided : kWriteTimedOut);
    }
    // The reset ends the write: a later reply is no answer to it, and judged
    // as one it would re-arm a card that may have been written.
    EndWriteRun();
    return;
  }
  // An armed write polls the device's status every second.
  if (writeTracks_ > 0) SendCommand(kStatusCommand);
  ++elapsed_;
  screen_.ShowText(TextSlot::seconds, std::to_string(elapsed_));
}

// --- Device link ------------------------------------------------------------------

bool CardSession::SendCommand(const std::string& hexCommand) {
  if (!port_.PortOpen()) {
    // An attempt to open the port, as a safeguard; the command is not sent
    // even when it succeeds, and its failure is the same message.
    port_.TryOpenPort();
    screen_.Message(kPortNotOpen);
    return false;
  }
  SendBuffer buffer;
  if (!FillSendBuffer(hexCommand, buffer)) {
    screen_.Message(kCommandTooLong);
    return false;
  }
  port_.Send(std::string_view(reinterpret_cast<const char*>(buffer.bytes.data()), buffer.length));
  return true;
}

void CardSession::ReplyBytes(std::string_view bytes) {
  // Also bytes ignored after the wait ran out: the swipe may have come.
  if (writeTracks_ > 0 && heldSent_ && !bytes.empty()) heldAnswered_ = true;
  const std::string chunk = TextToHex(bytes);
  if (readTracks_ > 0) HandleReadReply(chunk);
  // A write run goes to one judge only: a reply judged twice would log, count
  // and re-arm every card twice.
  if (writeTracks_ > 0) JudgeWriteReply(chunk);
}

void CardSession::StartTimer() {
  timerRunning_ = true;
  timers_.StartTimer();
}

void CardSession::StopTimer() {
  timerRunning_ = false;
  timers_.StopTimer();
}

void CardSession::Disarm() {
  if (awaitingTail_) {
    awaitingTail_ = false;
    timers_.StopReplyTailWait();
  }
  replyHex_.clear();
  readCommand_.clear();
  writeCommand_.clear();
  readTracks_ = 0;
  writeTracks_ = 0;
  elapsed_ = 0;
}

// --- Reading ------------------------------------------------------------------------

void CardSession::ArmRead() {
  readCommand_.clear();
  const StationForm& form = TakeSnapshot();
  if (const auto arming = ReadCommandFor(form.track2.ticked, form.track3.ticked)) {
    readCommand_ = arming->command;
    readTracks_ = arming->tracks;
  }
}

void CardSession::ReadPressed() {
  if (!port_.PortOpen()) {
    screen_.ShowText(TextSlot::operation, kSelectPortFirst);
    return;
  }
  LetGoOfHeld(Undecided::readStarted);
  Disarm();
  screen_.SetTrackText(2, {});
  screen_.SetTrackText(3, {});
  ArmRead();
  screen_.ShowText(TextSlot::readPrompt, kSwipePrompt);
  SendCommand(readCommand_);
  if (!timerRunning_) StartTimer();
}

void CardSession::HandleReadReply(const std::string& chunk) {
  if (elapsed_ >= kWaitLimitTicks) return;
  replyHex_ += chunk;

  switch (JudgeReadReply(replyHex_)) {
    case ReadReplyKind::error:
      screen_.ShowText(TextSlot::readPrompt, kReadFailed);
      replyHex_.clear();
      readCommand_.clear();
      elapsed_ = 0;
      screen_.SetTrackText(2, {});
      screen_.SetTrackText(3, {});
      StopTimer();
      StartTimer();
      ArmRead();
      SendCommand(readCommand_);
      return;
    case ReadReplyKind::incomplete:
      KeepReadReplyTail(replyHex_);
      port_.AwaitMoreReply();
      return;
    case ReadReplyKind::complete: break;
  }

  const ReadTrackTexts texts = CutReadReply(replyHex_, readTracks_);
  journal_.RecordReadCard(texts.track2, texts.track3);
  if (texts.track2) screen_.SetTrackText(2, *texts.track2);
  if (texts.track3) screen_.SetTrackText(3, *texts.track3);

  screen_.ShowText(TextSlot::readPrompt, kReadSucceeded);
  screen_.ShowText(TextSlot::operation, kReadShown);
  elapsed_ = 0;
  StopTimer();
  replyHex_.clear();
  ArmRead();
  StartTimer();
  SendCommand(readCommand_);
}

// --- Writing ------------------------------------------------------------------------

void CardSession::FileChosen(int track) { (track == 2 ? fileCount2_ : fileCount3_) = 0; }

bool CardSession::ApplyWriteBuild(const WriteBuild& build) {
  if (const auto* arming = std::get_if<WriteArming>(&build)) {
    writeCommand_ = arming->command;
    writeTracks_ = arming->tracks;
    return true;
  }
  if (const auto* refusal = std::get_if<WriteRefusal>(&build)) {
    screen_.Message(refusal->message);
    if (refusal->focus != FocusTarget::none) screen_.Focus(refusal->focus);
  }
  return false;
}

const StationForm& CardSession::TakeSnapshot() {
  snapshot_ = form_.Form();
  return snapshot_;
}

// Builds from the snapshot, which the caller has taken for this operation.
bool CardSession::BuildWrite(bool fromFiles) {
  const WriteTrackInput track2 = WriteInput(snapshot_.track2);
  const WriteTrackInput track3 = WriteInput(snapshot_.track3);
  return ApplyWriteBuild(fromFiles ? BuildFileWrite(track2, track3) : BuildTypedWrite(track2, track3));
}

void CardSession::WritePressed() {
  if (!port_.PortOpen()) {
    screen_.ShowText(TextSlot::operation, kSelectPortFirst);
    return;
  }
  Disarm();
  cardIndex_ = 1;

  const StationForm& form = TakeSnapshot();
  runMode_ = form.Mode();
  screen_.ShowWriteMode(runMode_);
  const bool file2 = form.track2.fileBox;
  const bool file3 = form.track3.fileBox;

  if ((form.track2.ticked && !file2) || (form.track3.ticked && !file3)) BuildWrite(false);
  if (FileRun()) BuildWrite(true);

  if (!writeCommand_.empty()) {
    if (!SendWrite(false)) {
      // Nothing went out (refused, or the command is too long): no card is
      // armed, so no prompt, and no later reply may try the same command again.
      EndRunOnRefusedRebuild();
      return;
    }
    screen_.ShowText(TextSlot::writePrompt, kWritePrompt);
    if (!timerRunning_) StartTimer();
    return;
  }
  // Nothing to write: numbers an earlier press reserved are not carried on.
  LetGoOfHeld(Undecided::writeRestarted);
}

void CardSession::StopWriteWait() {
  elapsed_ = 0;
  StopTimer();
  screen_.ShowText(TextSlot::seconds, kNoSeconds);
}

// A refused rebuild ends the run: arming the previous card's data again would
// write its number a second time. So does a refused send, which armed nothing.
// The write is disarmed so that no later reply can re-arm it either.
void CardSession::EndRunOnRefusedRebuild() {
  // Only a new press can leave an earlier card out here; retries and next
  // cards were not sent.
  LetGoOfHeld(Undecided::writeRestarted);
  StopWriteWait();
  writeTracks_ = 0;
  writeCommand_.clear();
}

// The timer is started only once the next card is armed. While a builder's or
// the send's message box is open, a running timer would poll the idle device,
// and its status reply would be judged as a failed card and retried.
void CardSession::ArmNextCard(bool built, bool retry) {
  if (!built || !SendWrite(retry)) {
    EndRunOnRefusedRebuild();
    return;
  }
  StartTimer();
}

bool CardSession::TakeWriteReply(const std::string& chunk) {
  // Every outcome stops the timer or restarts it once the next card is armed.
  // Stopped now, it cannot poll the idle device while the error box of a
  // failed list save is open.
  StopTimer();
  form_.KeepCardListInBounds();
  replyHex_ += chunk;
  return HexToText(replyHex_).find("rp") != std::string::npos;
}

void CardSession::RetryFailedCard() {
  // The device refused the card, so it does not hold the numbers; they stay
  // reserved for the retry.
  heldSent_ = false;
  heldAnswered_ = false;
  replyHex_.clear();
  elapsed_ = 0;
  screen_.ShowText(TextSlot::writePrompt, kWriteFailed);
  // Restarted by ArmNextCard, so the next tick comes a full second after the
  // same card is armed again.
  StopTimer();
  SendCommand(kResetCommand);
  TakeSnapshot();
  ArmNextCard(BuildWrite(FileRun()), true);
}

std::optional<std::string> CardSession::RecordWrittenCard() {
  replyHex_.clear();
  StopWriteWait();
  // The journal holds the card before anything shows it as written, so that
  // a crash from here on cannot lose it.
  std::int64_t id = 0;
  std::optional<std::string> failure;
  try {
    id = journal_.RecordWrittenCard(armed_);
  } catch (const JournalAway& e) {
    // Kept by the window and recorded, numbers written, once the journal is back.
    id = e.keptCard();
    failure = std::string(e.what());
  } catch (const std::exception& e) {
    // The card holds the numbers but the journal does not know: keep them
    // blocked as far as the journal still listens.
    heldSent_ = true;
    MarkHeldUndecided(Undecided::notJournaled);
    failure = kWriteNotJournaled + std::string(e.what());
  }
  held_ = {};
  heldSent_ = false;
  heldAnswered_ = false;
  heldUnconfirmed_ = false;
  ++cardIndex_;
  // The card holds the number either way; the list keeps it on screen.
  for (int track : {2, 3}) {
    if (Carries(armed_.tracks, track)) screen_.AddWrittenCard(track, ArmedText(armed_, track), id);
  }
  if (failure) return failure;
  screen_.Beep();
  screen_.ShowText(TextSlot::writePrompt, kWriteSucceeded);
  return std::nullopt;
}

void CardSession::StopAfterUnjournaledCard(const std::string& failure) {
  EndWriteRun();
  screen_.Message(failure);
}

// Moves the continuous tracks of the snapshot on; the snapshot then holds
// the new texts, as the fields show them.
void CardSession::AdvanceContinuousTracks() {
  bool moved = false;
  for (int track : {2, 3}) {
    const TrackForm& t = TrackOf(snapshot_, track);
    if (!t.continuous) continue;
    const IncrementResult next = IncrementTrailingNumber(t.text, DecimalField(t.step));
    if (next.noTrailingDigit) screen_.Message(kNoTrailingDigitMessage);
    screen_.SetTrackText(track, next.text);
    moved = true;
  }
  if (moved) TakeSnapshot();
}

void CardSession::HandleWriteReply() {
  TakeSnapshot();
  // The card holds its numbers even when the journal could not record it: the
  // fields move on as after any written card, so that resuming never sends
  // them again.
  const std::optional<std::string> failure = RecordWrittenCard();
  AdvanceContinuousTracks();
  if (failure) return StopAfterUnjournaledCard(*failure);
  const StationForm& form = snapshot_;
  if (!form.track2.continuous && !form.track3.continuous) {
    EndWriteRun();
    return;
  }

  const std::uint64_t count = DecimalField(form.writeCount);
  if (count >= static_cast<std::uint64_t>(cardIndex_)) {
    ArmNextCard(BuildWrite(false));
    return;
  }
  screen_.ShowText(TextSlot::writePrompt, FinishedText(form.writeCount));
  EndWriteRun();
  screen_.ShowText(TextSlot::operation, kContinuousDone);
}

void CardSession::HandleFileWriteReply() {
  const StationForm& written = TakeSnapshot();
  if (written.track2.fileBox) ++fileCount2_;
  if (written.track3.fileBox) ++fileCount3_;
  const std::optional<std::string> failure = RecordWrittenCard();
  AdvanceContinuousTracks();

  // Every file track takes its next record (or ends) before the next card is
  // armed once, so the command never carries a record that was written already.
  for (int track : {2, 3}) {
    // Ending or loading one track leaves the other's box as it was.
    if (!TrackOf(snapshot_, track).fileBox) continue;
    if (form_.RecordsLeft(track)) {
      try {
        form_.LoadNextRecord(track);
      } catch (...) {
        // An unreadable record ends the run; left armed, a later reply would
        // write the last card's record again.
        EndWriteRun();
        throw;
      }
      continue;
    }
    screen_.ShowText(TextSlot::writePrompt, FinishedText(std::to_string(fileCount(track))));
    screen_.ShowText(TextSlot::operation, track == 2 ? kTrack2FileDone : kTrack3FileDone);
    form_.EndFileTrack(track);
  }
  if (failure) return StopAfterUnjournaledCard(*failure);
  const StationForm& after = TakeSnapshot();
  if (!after.track2.fileBox && !after.track3.fileBox) {
    EndWriteRun();
    return;
  }
  ArmNextCard(BuildWrite(true));
}

// --- Reply judging, the guard before every write ---------------------------------

void CardSession::JudgeWriteReply(const std::string& chunk) {
  if (elapsed_ >= kWaitLimitTicks) return;
  if (awaitingTail_) {
    awaitingTail_ = false;
    timers_.StopReplyTailWait();
  }
  if (!TakeWriteReply(chunk)) {
    // A success reply that arrives in pieces is judged once it is whole;
    // judged at its first piece it would be retried and then counted twice.
    if (EndsInSuccessPrefix(replyHex_)) {
      // Only the prefix can still become the success reply; the rest is kept
      // from piling up when every chunk of line noise ends in ESC.
      replyHex_.erase(0, replyHex_.size() - std::min(replyHex_.size(), kSuccessPrefixHex));
      awaitingTail_ = true;
      timers_.StartReplyTailWait();
      return;
    }
    RetryFailedCard();
    return;
  }
  if (FileRun()) {
    HandleFileWriteReply();
  } else {
    HandleWriteReply();
  }
}

void CardSession::ReplyTailWaitOver() {
  if (!awaitingTail_) return;
  awaitingTail_ = false;
  if (writeTracks_ > 0) RetryFailedCard();
}

void CardSession::EndWriteRun() {
  // The run that ends here with its card still out is the one whose wait ran
  // out; every other end decided the card first.
  LetGoOfHeld(Undecided::timeout);
  StopWriteWait();
  writeTracks_ = 0;
  writeCommand_.clear();
  replyHex_.clear();
  if (awaitingTail_) {
    awaitingTail_ = false;
    timers_.StopReplyTailWait();
  }
}

WrittenCardRecord CardSession::ArmedFromForm(bool retry) const {
  const StationForm& form = snapshot_;
  WrittenCardRecord next;
  next.tracks = writeTracks_;
  next.cardIndex = cardIndex_;
  if (Carries(writeTracks_, 2)) next.track2 = form.track2.text;
  if (Carries(writeTracks_, 3)) next.track3 = form.track3.text;
  // The same card tried again keeps the operator's answer to the question.
  if (retry && armed_.deliberateRepeat && armed_.tracks == next.tracks && armed_.track2 == next.track2 &&
      armed_.track3 == next.track3) {
    next.deliberateRepeat = true;
  }
  return next;
}

bool CardSession::ClearToSend(bool retry) {
  // The operator's 是 to a taken number stays with the card when a
  // continuous track of it then moves on.
  bool deliberate = false;
  for (int attempt = 0; attempt < kReserveAttempts; ++attempt) {
    armed_ = ArmedFromForm(retry);
    armed_.deliberateRepeat = armed_.deliberateRepeat || deliberate;

    // A character the track cannot carry would reach the device as something
    // else (an 'A' starts track 3, an ESC a command); an overlong text is never
    // written and would be retried without end.
    for (int track : {2, 3}) {
      if (!Carries(armed_.tracks, track)) continue;
      const std::string& text = ArmedText(armed_, track);
      if (!TrackTextWritable(track, text)) {
        screen_.Message(UnwritableTrackMessage(track, text));
        return false;
      }
    }
    switch (ReserveArmed(retry)) {
      case Reservation::reserved: return true;
      case Reservation::refused: return false;
      case Reservation::stepped: break;
    }
    // A continuous track moved on: the command carries the new number, which
    // the journal holds for this station already.
    deliberate = armed_.deliberateRepeat;
    TakeSnapshot();
    if (!BuildWrite(FileRun())) return false;
  }
  return false;
}

NumberStep CardSession::ContinuousStep() const {
  std::optional<std::uint64_t> steps[2];
  for (int track : {2, 3}) {
    const TrackForm& form = TrackOf(snapshot_, track);
    if (form.continuous) steps[track - 2] = DecimalField(form.step);
  }
  // Called by the journal, maybe on a thread of its own: it holds copies.
  return [two = steps[0], three = steps[1]](int track, const std::string& text) {
    const std::optional<std::uint64_t>& step = track == 2 ? two : three;
    if (!step) return std::string();
    IncrementResult next = IncrementTrailingNumber(text, *step);
    return next.noTrailingDigit ? std::string() : std::move(next.text);
  };
}

// Nothing is sent without a committed reservation of every number the card
// carries; that is what keeps two stations off the same number.
CardSession::Reservation CardSession::ReserveArmed(bool retry) {
  bool repeat = armed_.deliberateRepeat;
  try {
    // Twice at most: as it stands, then taken over after the operator's 是.
    for (;;) {
      const NumbersReserved result = journal_.ReserveNumbers(armed_, ContinuousStep(), repeat);
      if (result.taken.empty()) {
        // A number the run increases itself moved on past another station's;
        // asking would stop every card of two stations started alike.
        for (const SteppedNumber& number : result.stepped) ShowStepped(number);
        HoldArmed();
        return result.stepped.empty() ? Reservation::reserved : Reservation::stepped;
      }
      if (repeat) return Reservation::refused;  // the journal took nothing over
      for (const TakenNumber& number : result.taken) {
        // Another station's number on a track that could not move on.
        if (TrackOf(snapshot_, number.track).continuous && !number.ownStation) {
          screen_.Message(kNoTrailingDigitMessage);
          return Reservation::refused;
        }
        // The very card this session marked undecided, refused by the device
        // since: it does not hold the numbers, so they are its own again.
        const bool ownUndecided = retry && heldUnconfirmed_ && number.ownStation &&
                                  number.hold == NumberHold::unconfirmed && Carries(held_.tracks, number.track) &&
                                  ArmedText(held_, number.track) == number.text;
        if (ownUndecided) continue;
        if (!number.quietRepeat && !screen_.Ask(TakenQuestion(number))) return Reservation::refused;
        armed_.deliberateRepeat = true;
      }
      repeat = true;
    }
  } catch (const JournalAway& e) {
    screen_.Message(e.what());
    return Reservation::refused;
  }
}

// The question says what is known of the number: written, sent without an
// answer, or being written elsewhere now.
std::string CardSession::TakenQuestion(const TakenNumber& number) const {
  const std::string head = kDuplicateBefore + number.text + kDuplicateTrack + std::to_string(number.track);
  switch (number.hold) {
    case NumberHold::written: break;
    case NumberHold::unconfirmed:
      return head + kUnconfirmedAt + number.localTime + kUnconfirmedSent + number.reason + kUnconfirmedAfter;
    case NumberHold::reserved:
      return head + kReservedBy + number.station + kReservedSince + number.localTime + kReservedAfter;
  }
  return head + kDuplicateAt + number.localTime + kDuplicateAfter;
}

// The card now carries the number reserved in place of the taken one.
void CardSession::ShowStepped(const SteppedNumber& number) {
  const TakenNumber& taken = number.skipped;
  (taken.track == 2 ? armed_.track2 : armed_.track3) = number.text;
  screen_.SetTrackText(taken.track, number.text);
  screen_.ShowText(TextSlot::operation, kNumberTakenBefore + taken.text + kNumberTakenBy + taken.station +
                                            kNumberTakenRewrite + number.text);
}

void CardSession::HoldArmed() {
  // Numbers held for an earlier card that this one does not carry again.
  WrittenCardRecord left = held_;
  left.tracks = 0;
  for (int track : {2, 3}) {
    if (!Carries(held_.tracks, track)) continue;
    if (Carries(armed_.tracks, track) && ArmedText(armed_, track) == ArmedText(held_, track)) continue;
    left.tracks |= TrackBit(track);
  }
  if (left.tracks != 0) {
    // The new command replaced the earlier one on the device: unswiped, that
    // card holds nothing.
    if (heldSent_ && (heldAnswered_ || heldUnconfirmed_)) {
      if (!heldUnconfirmed_) journal_.MarkUnconfirmed(left, Undecided::writeRestarted);
    } else {
      journal_.CancelReservation(left);
    }
  }
  held_ = armed_;
  heldSent_ = false;
  heldAnswered_ = false;
  heldUnconfirmed_ = false;
}

// The card that went out ended without a decision. On an intact line with no
// reply byte since its command it was never swiped and holds nothing: its
// numbers are this station's reservation again, dropped when it lets go.
// Otherwise it may hold them.
void CardSession::SettleHeld(Undecided reason, bool lineIntact) {
  if (held_.tracks == 0 || !heldSent_) return;
  if (lineIntact && !heldAnswered_) {
    heldSent_ = false;
    return;
  }
  MarkHeldUndecided(reason);
}

void CardSession::MarkHeldUndecided(Undecided reason) {
  if (held_.tracks == 0 || !heldSent_ || heldUnconfirmed_) return;
  journal_.MarkUnconfirmed(held_, reason);
  heldUnconfirmed_ = true;
}

// The held card is given up: a card that may hold its numbers keeps them
// blocked, one that cannot gives them back.
void CardSession::LetGoOfHeld(Undecided reason, bool lineIntact) {
  if (held_.tracks == 0) return;
  SettleHeld(reason, lineIntact);
  if (!heldSent_) journal_.CancelReservation(held_);
  held_ = {};
  heldSent_ = false;
  heldAnswered_ = false;
  heldUnconfirmed_ = false;
}

// A card on the writer that nothing answered still waits for its swipe; once
// the station stops listening, a swipe would write it unheard. The reset
// calls it off. False when the card is still out there: the reset could not
// be sent.
bool CardSession::CallOffUnansweredCard() {
  if (held_.tracks == 0 || !heldSent_ || heldAnswered_) return true;
  if (!port_.PortOpen()) return false;
  try {
    return SendCommand(kResetCommand);
  } catch (const std::exception&) {
    // The port is going away anyway; the card counts as undecided.
    return false;
  }
}

void CardSession::Closing() { LetGoOfHeld(Undecided::programExit, CallOffUnansweredCard()); }

bool CardSession::SendWrite(bool retry) {
  if (!ClearToSend(retry) || !SendCommand(writeCommand_)) return false;
  heldSent_ = true;
  heldAnswered_ = false;
  return true;
}

}  // namespace station
