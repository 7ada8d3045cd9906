// The window's side of the card session: the operator's buttons and the timer
// become session events, and what the session asks for is shown here.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include "core/Texts.h"
#include "station/MainWindow.h"
#include "station/TrackText.h"
#include "ui/FitLabel.h"

namespace {

std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace

// --- Events -----------------------------------------------------------------------

void TForm1::OnOpenPortPressed() { session_.OpenPressed(config_.portName()); }
void TForm1::OnClosePortPressed() { session_.ClosePressed(); }
void TForm1::OnResetPressed() { session_.ResetPressed(); }
void TForm1::OnStatusPressed() { session_.StatusPressed(); }
void TForm1::OnReadPressed() {
  journalLink_.Retry();
  session_.ReadPressed();
}
void TForm1::OnWritePressed() {
  journalLink_.Retry();
  // With the port closed the session says so first, as it always has.
  if (PortOpen() && journalLink_.RefusesWriting()) return;
  session_.WritePressed();
}
void TForm1::OnOperationTick() { session_.TimerTick(); }

// --- Effects ----------------------------------------------------------------------

bool TForm1::PortOpen() { return deviceLink_.IsOpen(); }
bool TForm1::OpenPort(std::optional<std::uint16_t> number) { return deviceLink_.Open(number); }
std::string TForm1::OpenFailureDetail() { return deviceLink_.OpenFailureDetail(); }
bool TForm1::ReopenPort() { return deviceLink_.Reopen(); }
void TForm1::StartReconnectTimer() { deviceLink_.StartReconnecting(); }
void TForm1::StopReconnectTimer() { deviceLink_.StopReconnecting(); }
void TForm1::TryOpenPort() { deviceLink_.TryOpen(); }
void TForm1::ClosePort() { deviceLink_.Close(); }
std::uint16_t TForm1::PortNumber() { return deviceLink_.PortNumber(); }
void TForm1::Send(std::string_view bytes) { deviceLink_.Send(bytes); }
void TForm1::AwaitMoreReply() { deviceLink_.AwaitMoreReply(); }

void TForm1::ShowText(station::TextSlot slot, const std::string& text) {
  const QString shown = QString::fromUtf8(text);
  switch (slot) {
    // Each of these places elides a text too long for it, keeping the whole as tooltip.
    case station::TextSlot::readPrompt: readPrompt_->SetFullText(shown); break;
    case station::TextSlot::writePrompt: writePrompt_->SetFullText(shown); break;
    case station::TextSlot::portState: statusPanels_[0]->SetFullText(shown); break;
    case station::TextSlot::operation:
      // The first read card kept for a closed journal is said instead of the read's own text.
      statusPanels_[2]->SetFullText(journalLink_.OperationText(shown));
      break;
    case station::TextSlot::seconds: secondsLabel_->setText(shown); break;
  }
}

void TForm1::SetTrackText(int track, const std::string& bytes) { station::ShowTrackText(*Track(track).memo, bytes); }

void TForm1::AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) {
  AppendWrittenCard(track, station::TrackQString(bytes), cardId);
}

void TForm1::Message(const std::string& text) { prompts().Message(QString::fromUtf8(text)); }

void TForm1::Warning(const std::string& text) { prompts().Warning(QString::fromUtf8(text)); }

void TForm1::Beep() { prompts().Beep(); }

void TForm1::Focus(station::FocusTarget target) {
  switch (target) {
    case station::FocusTarget::tk2Step: Track(2).stepField->setFocus(); break;
    case station::FocusTarget::tk3Step: Track(3).stepField->setFocus(); break;
    case station::FocusTarget::track2: Track(2).memo->setFocus(); break;
    case station::FocusTarget::track3: Track(3).memo->setFocus(); break;
    case station::FocusTarget::none: break;
  }
}

void TForm1::ShowWriteMode(station::WriteMode mode) {
  const station::WriteModeLook look = station::WriteModeLookOf(mode);
  ShowWriteMode(QString::fromUtf8(look.caption), QColor(look.red, look.green, look.blue));
}

void TForm1::EnableTrackBoxes(bool enable) {
  if (!enable) Track(1).trackBox->setEnabled(false);
  Track(2).trackBox->setEnabled(enable);
  Track(3).trackBox->setEnabled(enable);
}

void TForm1::StartTimer() { operationTimer_.start(); }

void TForm1::StopTimer() { operationTimer_.stop(); }

station::TrackForm TForm1::TrackSnapshot(int track) {
  const TrackGroup& g = Track(track);
  station::TrackForm form;
  form.ticked = g.trackBox->isChecked();
  form.continuous = g.continuousBox->isChecked();
  form.step = Latin1(g.stepField->text());
  form.fileBox = g.fileBox->isChecked();
  form.fileChosen = session_.files()[track].chosen;
  form.text = station::TrackBytes(*g.memo);
  return form;
}

station::StationForm TForm1::Form() { return {TrackSnapshot(2), TrackSnapshot(3), Latin1(writeCountField_->text())}; }

void TForm1::KeepCardListInBounds() { EnforceCardLogLimit(); }

bool TForm1::RecordsLeft(int track) { return recordFiles_.RecordsLeft(track); }
void TForm1::LoadNextRecord(int track) { recordFiles_.LoadNext(track, FileControls(track)); }

void TForm1::EndFileTrack(int track) {
  const TrackGroup& g = Track(track);
  g.fileBox->setChecked(false);
  g.trackBox->setChecked(false);
  recordFiles_.Drop(track);
}

// --- The journal, through its link

std::int64_t TForm1::RecordWrittenCard(const station::WrittenCardRecord& card) {
  return journalLink_.RecordWrittenCard(card, CardOriginNow());
}

void TForm1::RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) {
  journalLink_.RecordReadCard(track2, track3);
}

std::vector<station::TakenNumber> TForm1::ReserveNumbers(const station::WrittenCardRecord& card, bool repeat) {
  return journalLink_.ReserveNumbers(card, repeat);
}

std::string TForm1::FirstFreeNumber(int track, const std::string& start, std::uint64_t step) {
  return journalLink_.FirstFreeNumber(track, start, step);
}

void TForm1::CancelReservation(const station::WrittenCardRecord& card) { journalLink_.CancelReservation(card); }

void TForm1::MarkUnconfirmed(const station::WrittenCardRecord& card, station::Undecided reason) {
  journalLink_.MarkUnconfirmed(card, reason);
}

bool TForm1::Ask(const std::string& question) { return prompts().Question(QString::fromUtf8(question)); }

void TForm1::StartReplyTailWait() { replyTailTimer_.start(); }

void TForm1::StopReplyTailWait() { replyTailTimer_.stop(); }
