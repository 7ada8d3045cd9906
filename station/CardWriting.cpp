#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <charconv>
#include <stdexcept>
#include <string>
#include <variant>

#include "serial/ComPort.h"
#include "station/HexText.h"
#include "station/MainWindow.h"
#include "station/TrackText.h"
#include "station/WriteCommand.h"
#include "station/WrittenCardList.h"

namespace {

constexpr int kWaitLimitTicks = 20;
const QString kFileNameIdle = QStringLiteral("文件名");
const QString kWritePrompt = QStringLiteral("写卡提示：请在写卡灯亮后刷卡");
const QString kWriteSucceeded = QStringLiteral("写卡提示信息：写卡成功，请新写下一张卡");
const QString kWriteFailed = QStringLiteral("写卡提示信息：写卡错误，请重新刷卡");

// A step or count field read as a decimal number; anything else stops the
// reply handling, as a field emptied during a run must not write a guess.
std::uint64_t DecimalField(const QLineEdit& field) {
  const QByteArray text = field.text().toLatin1();
  std::uint64_t value = 0;
  const char* end = text.constData() + text.size();
  const auto [ptr, ec] = std::from_chars(text.constData(), end, value);
  if (text.isEmpty() || ec != std::errc() || ptr != end) {
    throw std::invalid_argument("'" + field.text().toStdString() + "' is not a valid integer value");
  }
  return value;
}

QString FinishedText(const QString& count) {
  return QStringLiteral("写卡提示信息:") + count + QStringLiteral("次写成功,写卡完毕！");
}

}  // namespace

station::WriteTrackInput TForm1::WriteInput(int track) {
  const TrackGroup g = Track(track);
  station::WriteTrackInput input;
  input.ticked = g.trackBox->isChecked();
  input.continuous = g.continuousBox->isChecked();
  input.stepEmpty = g.stepField->text().isEmpty();
  input.fileBox = g.fileBox->isChecked();
  input.fileChosen = g.fileLabel->text() != kFileNameIdle;
  input.text = station::TrackBytes(*g.field);
  return input;
}

bool TForm1::ApplyWriteBuild(const station::WriteBuild& build) {
  if (const auto* arming = std::get_if<station::WriteArming>(&build)) {
    WriteCommand = arming->command;
    WriteTracks = arming->tracks;
    return true;
  }
  if (const auto* refusal = std::get_if<station::WriteRefusal>(&build)) {
    prompts().Message(QString::fromUtf8(refusal->message));
    switch (refusal->focus) {
      case station::FocusTarget::tk2Step: TK2StepEdit->setFocus(); break;
      case station::FocusTarget::tk3Step: TK3StepEdit->setFocus(); break;
      case station::FocusTarget::track2: Track2Memo->setFocus(); break;
      case station::FocusTarget::track3: Track3Memo->setFocus(); break;
      case station::FocusTarget::none: break;
    }
  }
  return false;
}

bool TForm1::BuildWriteCommand() { return ApplyWriteBuild(station::BuildTypedWrite(WriteInput(2), WriteInput(3))); }

bool TForm1::BuildFileWriteCommand() {
  return ApplyWriteBuild(station::BuildFileWrite(WriteInput(2), WriteInput(3)));
}

void TForm1::BitBtn3Click() {
  if (!ComPort1.Open()) {
    MainStatusBarPanels[2]->setText(QStringLiteral("请先选择端口打开......"));
    return;
  }
  WriteCommand.clear();
  ReplyHex.clear();
  ReadCommand.clear();
  ReadTracks = 0;
  WriteTracks = 0;
  ElapsedSeconds = 0;
  CardIndex = 1;

  const bool file2 = tk2filename->isChecked();
  const bool file3 = tk3filename->isChecked();
  const station::WriteModeLook mode =
      station::WriteModeFor(TK2AutoIncCheckBox->isChecked(), TK3AutoIncCheckBox->isChecked(), file2, file3);
  ShowWriteMode(QString::fromUtf8(mode.caption), QColor(mode.red, mode.green, mode.blue));
  FileRun = file2 || file3;

  if ((TK2CheckBox->isChecked() && !file2) || (TK3CheckBox->isChecked() && !file3)) BuildWriteCommand();
  if (FileRun) BuildFileWriteCommand();

  if (!WriteCommand.empty()) {
    if (!SendCommand(WriteCommand)) {
      // Nothing went out (the command is too long): no card is armed, so no
      // prompt, and no later reply may try the same command again.
      WriteTracks = 0;
      WriteCommand.clear();
      return;
    }
    st1->setText(kWritePrompt);
    if (!OpenTimer.isActive()) OpenTimer.start();
  }
}

void TForm1::StopWriteWait() {
  ElapsedSeconds = 0;
  OpenTimer.stop();
  l_timer->setText(QStringLiteral("00"));
}

// A refused rebuild ends the run: arming the previous card's data again would
// write its number a second time. So does a refused send, which armed nothing.
// The write is disarmed so that no later reply can re-arm it either.
void TForm1::EndRunOnRefusedRebuild() {
  StopWriteWait();
  WriteTracks = 0;
  WriteCommand.clear();
}

// The timer is enabled only once the next card is armed. While a builder's or
// the send's message box is open, a running timer would poll the idle device,
// and its status reply would be judged as a failed card and retried.
void TForm1::ArmNextCard(bool built) {
  if (!built || !SendCommand(WriteCommand)) {
    EndRunOnRefusedRebuild();
    return;
  }
  OpenTimer.start();
}

bool TForm1::TakeWriteReply(const std::string& chunk) {
  // Every outcome stops the timer or restarts it once the next card is armed.
  // Stopped now, it cannot poll the idle device while the error box of a
  // failed list save is open.
  OpenTimer.stop();
  EnforceCardLogLimit();
  ReplyHex += chunk;
  return station::HexToText(ReplyHex).find("rp") != std::string::npos;
}

void TForm1::RetryFailedCard(bool fileRun) {
  ReplyHex.clear();
  ElapsedSeconds = 0;
  st1->setText(kWriteFailed);
  // Restarted by ArmNextCard, so the next tick comes a full second after the
  // same card is armed again.
  OpenTimer.stop();
  SendCommand("1B30");
  ArmNextCard(fileRun ? BuildFileWriteCommand() : BuildWriteCommand());
}

void TForm1::RecordWrittenCard() {
  ++CardIndex;
  if (TK2CheckBox->isChecked()) AppendWrittenCard(2, Track2Memo->toPlainText());
  if (TK3CheckBox->isChecked()) AppendWrittenCard(3, Track3Memo->toPlainText());
  prompts().Beep();
  st1->setText(kWriteSucceeded);
  ReplyHex.clear();
  StopWriteWait();
}

void TForm1::AdvanceContinuousTracks() {
  for (int track : {2, 3}) {
    const TrackGroup g = Track(track);
    if (!g.continuousBox->isChecked()) continue;
    g.field->setPlainText(IncrementTrailingNumber(g.field->toPlainText(), DecimalField(*g.stepField)));
  }
}

void TForm1::HandleWriteReply(const std::string& chunk) {
  if (ElapsedSeconds >= kWaitLimitTicks) return;
  if (!TakeWriteReply(chunk)) {
    RetryFailedCard(false);
    return;
  }
  RecordWrittenCard();
  AdvanceContinuousTracks();
  if (!TK2AutoIncCheckBox->isChecked() && !TK3AutoIncCheckBox->isChecked()) return;

  const std::uint64_t count = DecimalField(*WriteCountEdit);
  if (count >= static_cast<std::uint64_t>(CardIndex)) {
    ArmNextCard(BuildWriteCommand());
    return;
  }
  st1->setText(FinishedText(WriteCountEdit->text()));
  StopWriteWait();
  MainStatusBarPanels[2]->setText(QStringLiteral("写卡成功,显示的数据为下一张卡的数据"));
}

void TForm1::HandleFileWriteReply(const std::string& chunk) {
  if (ElapsedSeconds >= kWaitLimitTicks) return;
  if (!TakeWriteReply(chunk)) {
    RetryFailedCard(true);
    return;
  }
  if (tk2filename->isChecked()) ++tk2FileCount;
  if (tk3filename->isChecked()) ++tk3FileCount;
  RecordWrittenCard();
  AdvanceContinuousTracks();

  // Every file track takes its next record (or ends) before the next card is
  // armed once, so the command never carries a record that was written already.
  for (int track : {2, 3}) {
    const TrackGroup g = Track(track);
    if (!g.fileBox->isChecked()) continue;
    if (!g.dataFile->AtEnd()) {
      LoadNextRecord(track);
      continue;
    }
    st1->setText(FinishedText(QString::number(track == 2 ? tk2FileCount : tk3FileCount)));
    MainStatusBarPanels[2]->setText(track == 2 ? QStringLiteral("磁道1读文件写卡成功完成")
                                               : QStringLiteral("磁道2读文件写卡成功完成"));
    g.fileBox->setChecked(false);
    g.trackBox->setChecked(false);
    g.dataFile->Close();
  }
  if (!tk2filename->isChecked() && !tk3filename->isChecked()) return;
  ArmNextCard(BuildFileWriteCommand());
}
