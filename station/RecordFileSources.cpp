#include <algorithm>

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "core/RecordFile.h"
#include "core/Texts.h"
#include "core/TrackCharacters.h"
#include "core/WriteCommand.h"
#include "station/Prompts.h"
#include "station/RecordFileSources.h"
#include "ui/PathText.h"

namespace {

const QString kNoFileCaption = QString::fromUtf8(station::kNoFileCaption);
const QString kFileEmptyMessage = QStringLiteral("文件无内容，请重试!");
const QString kFileErrorMessage = QStringLiteral("文件读写错误，请重试!");

// Records are bytes, one per character; Latin-1 keeps every byte as it was.
QString RecordText(const std::string& record) {
  return QString::fromLatin1(record.data(), static_cast<qsizetype>(record.size()));
}

}  // namespace

namespace station {

void RecordFileSources::Drop(int track) {
  files_[track].file.Close();
  files_[track].chosen = false;
}

void RecordFileSources::Choose(int track, const TrackControls& g, QWidget* dialogParent) {
  RecordFile& dataFile = files_[track].file;
  Prompts& prompts = prompts_();
  // The choice is dropped before the dialog opens, so a cancelled or failed
  // choice leaves the track with no file.
  files_[track].chosen = false;
  g.fileLabel->hide();
  g.fileLabel->setText(kNoFileCaption);
  dataFile.Close();

  const QString name = prompts.OpenFileName(dialogParent);
  if (name.isEmpty()) return;

  try {
    dataFile.Open(ui::PathFromQString(name));
    if (dataFile.AtEnd()) {
      dataFile.Close();
      prompts.Info(kFileEmptyMessage);
      return;
    }
    // Loading starts at the start record (record 1 when the field is empty
    // or 0), so that a run stopped at a bad record continues after it.
    const int startRecord = std::max(1, g.startRecordField->text().toInt());
    std::string record;
    for (int i = 1; i <= startRecord; ++i) {
      if (dataFile.AtEnd()) {
        dataFile.Close();
        prompts.Info(QString::fromUtf8(station::kMsgFileRecordEmpty));
        return;
      }
      record = dataFile.ReadRecord();
    }
    if (record.size() > station::kMaxRecordLength) {
      // No frame can carry it. Said as a record that comes up later in a run
      // is refused, with as much of it as the track could take, not as a
      // failed read.
      dataFile.Close();
      const std::string shown = record.substr(0, station::TrackMaxLength(track));
      prompts.Info(QString::fromUtf8(station::UnwritableTrackMessage(track, shown) + "…"));
      return;
    }
    g.field->setPlainText(RecordText(record));
  } catch (const RecordFileError&) {
    dataFile.Close();
    g.fileLabel->hide();
    g.fileLabel->setText(kNoFileCaption);
    prompts.Info(kFileErrorMessage);
    return;
  }
  g.fileLabel->setText(QFileInfo(name).absoluteFilePath());
  g.fileLabel->show();
  files_[track].chosen = true;
  files_[track].recordNumber = std::max(1, g.startRecordField->text().toInt());
}

void RecordFileSources::LoadNext(int track, const TrackControls& g) {
  int& number = files_[track].recordNumber;
  ++number;
  // A blank or unreadable record stops the run; 浏览 then continues after it
  // rather than at record 1, which was written already.
  const QString after = QString::number(number + 1);
  std::string record;
  try {
    record = files_[track].file.ReadRecord();
  } catch (...) {
    g.startRecordField->setText(after);
    throw;
  }
  if (record.empty()) g.startRecordField->setText(after);
  g.field->setPlainText(RecordText(record));
}

}  // namespace station
