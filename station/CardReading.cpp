#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QThread>

#include "serial/ComPort.h"
#include "station/MainWindow.h"
#include "station/ReadReply.h"
#include "station/TrackText.h"

namespace {

constexpr int kWaitLimitTicks = 20;
// Gives the rest of a reply time to arrive before the next chunk is looked at.
constexpr unsigned long kIncompletePauseMs = 100;

}  // namespace

void TForm1::BuildReadCommand() {
  ReadCommand.clear();
  if (const auto arming = station::ReadCommandFor(TK2CheckBox->isChecked(), TK3CheckBox->isChecked())) {
    ReadCommand = arming->command;
    ReadTracks = arming->tracks;
  }
}

void TForm1::BitBtn1Click() {
  if (!ComPort1.Open()) {
    MainStatusBarPanels[2]->setText(QStringLiteral("请先选择端口打开......"));
    return;
  }
  ReplyHex.clear();
  ReadCommand.clear();
  WriteCommand.clear();
  ReadTracks = 0;
  WriteTracks = 0;
  ElapsedSeconds = 0;
  Track2Memo->clear();
  Track3Memo->clear();
  BuildReadCommand();
  st2->setText(QStringLiteral("提示信息：请刷卡！"));
  SendCommand(ReadCommand);
  if (!OpenTimer.isActive()) OpenTimer.start();
}

void TForm1::HandleReadReply(const std::string& chunk, std::int32_t tracks) {
  if (ElapsedSeconds >= kWaitLimitTicks) return;
  ReplyHex += chunk;

  switch (station::JudgeReadReply(ReplyHex)) {
    case station::ReadReplyKind::error:
      st2->setText(QStringLiteral("读卡提示信息：读卡错误，请重新刷卡"));
      ReplyHex.clear();
      ReadCommand.clear();
      ElapsedSeconds = 0;
      Track2Memo->clear();
      Track3Memo->clear();
      OpenTimer.stop();
      OpenTimer.start();
      BuildReadCommand();
      SendCommand(ReadCommand);
      return;
    case station::ReadReplyKind::incomplete:
      QThread::msleep(kIncompletePauseMs);
      return;
    case station::ReadReplyKind::complete:
      break;
  }

  const station::ReadTrackTexts texts = station::CutReadReply(ReplyHex, tracks);
  if (texts.track2) station::ShowTrackText(*Track2Memo, *texts.track2);
  if (texts.track3) station::ShowTrackText(*Track3Memo, *texts.track3);

  st2->setText(QStringLiteral("读卡成功,请刷下一张卡"));
  MainStatusBarPanels[2]->setText(QStringLiteral("读卡成功,数据显示在对应磁道数据内容内"));
  ElapsedSeconds = 0;
  OpenTimer.stop();
  ReplyHex.clear();
  BuildReadCommand();
  OpenTimer.start();
  SendCommand(ReadCommand);
}
