// The window's side of the card journal: written and read cards are committed
// as the session reports them, list saves say which cards they hold, and at
// start the cards that no list save holds come back into the written-card list.
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>

#include "journal/Journal.h"
#include "journal/ui/JournalDialog.h"
#include "station/MainWindow.h"
#include "station/Texts.h"
#include "station/TrackText.h"

namespace {

constexpr int kReplyTailWaitMs = 200;

QString PathText(const std::filesystem::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

}  // namespace

void TForm1::OpenJournal() {
  replyTailTimer_.setObjectName(QStringLiteral("ReplyTailTimer"));
  replyTailTimer_.setSingleShot(true);
  replyTailTimer_.setInterval(kReplyTailWaitMs);
  connect(&replyTailTimer_, &QTimer::timeout, this, [this] { Guarded([this] { session_.ReplyTailWaitOver(); }); });

  if (config_.journalFolder.empty()) return;
  const QString file = QDir(PathText(config_.journalFolder)).filePath(QString::fromLatin1(journal::kDatabaseFileName));
  QList<journal::UnsavedLine> lines;
  try {
    journal_ = journal::Journal::OpenSqlite(file);
    lines = journal_->UnsavedLines(QString::fromStdString(config_.stationName));
  } catch (const journal::JournalError& e) {
    // Writing stops at the first card's commit, which then names the reason.
    journal_.reset();
    prompts().Error(QString::fromUtf8(e.what()));
    return;
  }
  for (const journal::UnsavedLine& line : lines) {
    AppendWrittenCard(line.track, station::TrackQString(line.text), line.cardId);
  }
  if (!lines.isEmpty()) {
    MainStatusBarPanels[2]->setText(QString::fromUtf8(station::kRecoveredBefore) + QString::number(lines.size()) +
                                    QString::fromUtf8(station::kRecoveredAfter));
  }
}

std::int64_t TForm1::RecordWrittenCard(const station::WrittenCardRecord& card) {
  if (!journal_) {
    if (config_.journalFolder.empty()) return 0;  // no journal configured
    throw journal::JournalError("the journal is not open");
  }
  const station::StationForm form = Form();
  journal::WrittenCard entry;
  entry.station = QString::fromStdString(config_.stationName);
  entry.port = QString::fromStdString(config_.portName()).toUpper();
  entry.devicePath = QString::fromStdString(config_.devicePath(PortNumber()));
  entry.kind = (form.track2.fileBox || form.track3.fileBox) ? journal::RunKind::file
               : (form.track2.continuous || form.track3.continuous) ? journal::RunKind::continuous
                                                                    : journal::RunKind::normal;
  entry.cardIndex = card.cardIndex;
  entry.deliberateRepeat = card.deliberateRepeat;
  for (int track : {2, 3}) {
    if ((card.tracks & (track == 2 ? 1 : 2)) == 0) continue;
    journal::WrittenTrack written;
    written.track = track;
    written.text = track == 2 ? card.track2 : card.track3;
    const TrackGroup g = Track(track);
    if (g.fileBox->isChecked() && g.dataFile->IsOpen()) {
      written.fileName = PathText(g.dataFile->Path());
      written.recordNumber = session_.files()[track].recordNumber;
    }
    entry.tracks.push_back(written);
  }
  return journal_->RecordWrittenCard(entry);
}

void TForm1::RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) {
  if (!journal_) return;
  journal::ReadCard card;
  card.station = QString::fromStdString(config_.stationName);
  card.track2 = track2;
  card.track3 = track3;
  try {
    journal_->RecordReadCard(card);
  } catch (const journal::JournalError& e) {
    // Reading goes on; the operator learns that the journal misses the card.
    prompts().Error(QString::fromUtf8(e.what()));
  }
}

std::optional<std::string> TForm1::PreviousWrite(int track, const std::string& text) {
  if (!journal_ || !config_.duplicateCheck) return std::nullopt;
  const std::optional<journal::PreviousWrite> previous = journal_->FindWritten(track, text);
  if (!previous) return std::nullopt;
  return previous->localTime.toStdString();
}

bool TForm1::Ask(const std::string& question) { return prompts().Question(QString::fromUtf8(question)); }

void TForm1::StartReplyTailWait() { replyTailTimer_.start(); }

void TForm1::StopReplyTailWait() { replyTailTimer_.stop(); }

void TForm1::RecordListSave(const std::filesystem::path& file, const std::vector<std::pair<std::int64_t, int>>& lines) {
  if (!journal_) return;
  journal::ListSave save;
  save.station = QString::fromStdString(config_.stationName);
  save.filePath = PathText(file);
  for (const auto& [cardId, track] : lines) {
    if (cardId > 0) save.entries.push_back({cardId, track});
  }
  if (!save.entries.isEmpty()) journal_->RecordListSave(save);
}

void TForm1::ToolButton9Click() {
  if (!journal_) {
    prompts().Error(QStringLiteral("写卡记录未打开。"));
    return;
  }
  if (journalDialog_ == nullptr) {
    journalDialog_ = new JournalDialog(*journal_, this);
    journalDialog_->setObjectName(QStringLiteral("JournalDialog"));
  }
  journalDialog_->show();
  journalDialog_->raise();
  journalDialog_->activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!Memo1->document()->isEmpty()) {
    // A failed save keeps the lines in the journal, so the next start puts
    // them back; the window still closes.
    Guarded([this] { SaveCardLog(); });
  }
  // After the save, so a reply handled while its box was open is saved or
  // journaled; replies arriving later are dropped with the port.
  ShutDownPort();
  event->accept();
}
