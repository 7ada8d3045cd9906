// The window's side of the card journal: written and read cards are committed
// as the session reports them, numbers are reserved before a card is sent,
// list saves say which cards they hold, and at start the cards that no list
// save holds come back into the written-card list. A journal on a server that
// is away is brought up to date at the next write.
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUuid>
#include <QtGlobal>

#include "core/NumberSequence.h"
#include "core/Texts.h"
#include "journal/Journal.h"
#include "journal/ui/JournalDialog.h"
#include "journal/ui/JournalRows.h"
#include "settings/SafeWrite.h"
#include "station/JournalMessages.h"
#include "station/MainWindow.h"
#include "station/TrackText.h"
#include "ui/FitLabel.h"
#include "ui/PathText.h"

namespace {

constexpr int kReplyTailWaitMs = 200;
// How often a journal that could not be opened is tried again while idle.
constexpr int kJournalRetryMs = 30000;

QString PathText(const std::filesystem::path& path) { return ui::PathToQString(path); }

QList<journal::CardNumber> NumbersOf(const station::WrittenCardRecord& card) {
  QList<journal::CardNumber> numbers;
  if ((card.tracks & 1) != 0) numbers.push_back({2, card.track2});
  if ((card.tracks & 2) != 0) numbers.push_back({3, card.track3});
  return numbers;
}

// The technical side of a journal failure, for whoever reads the log.
void LogJournalError(const journal::JournalError& error) { qWarning("card journal: %s", error.what()); }


journal::UnconfirmedReason ReasonOf(station::Undecided reason) {
  switch (reason) {
    case station::Undecided::timeout: return journal::UnconfirmedReason::timeout;
    case station::Undecided::reset: return journal::UnconfirmedReason::reset;
    case station::Undecided::lineLost: return journal::UnconfirmedReason::lineLost;
    case station::Undecided::portClosed: return journal::UnconfirmedReason::portClosed;
    case station::Undecided::programExit: return journal::UnconfirmedReason::programExit;
    case station::Undecided::readStarted: return journal::UnconfirmedReason::readStarted;
    case station::Undecided::writeRestarted: return journal::UnconfirmedReason::writeRestarted;
    case station::Undecided::notJournaled: return journal::UnconfirmedReason::notJournaled;
  }
  return journal::UnconfirmedReason::unknown;
}

station::NumberHold HoldOf(journal::NumberState state) {
  switch (state) {
    case journal::NumberState::unconfirmed: return station::NumberHold::unconfirmed;
    case journal::NumberState::written: return station::NumberHold::written;
    case journal::NumberState::reserved: break;
  }
  return station::NumberHold::reserved;
}

}  // namespace

void TForm1::OpenJournal() {
  replyTailTimer_.setObjectName(QStringLiteral("ReplyTailTimer"));
  replyTailTimer_.setSingleShot(true);
  replyTailTimer_.setInterval(kReplyTailWaitMs);
  connect(&replyTailTimer_, &QTimer::timeout, this, [this] { Guarded([this] { session_.ReplyTailWaitOver(); }); });
  journalRetryTimer_.setParent(this);
  journalRetryTimer_.setObjectName(QStringLiteral("JournalRetryTimer"));
  journalRetryTimer_.setInterval(kJournalRetryMs);
  connect(&journalRetryTimer_, &QTimer::timeout, this, [this] { Guarded([this] { RetryJournal(); }); });

  if (config_.journalFolder.empty()) return;
  if (!TryOpenJournal()) {
    // Once the window is up, so that the box stands over it.
    QTimer::singleShot(0, this, [this] { prompts().Warning(QString::fromStdString(journalFailure_)); });
  }
}

bool TForm1::TryOpenJournal() {
  // On a first start the folder of the settings and the journal is not there
  // yet. Should it fail, opening the journal below fails too and says why.
  try {
    settings::CreatePrivateFolders(config_.journalFolder);
  } catch (const std::exception& e) {
    qWarning("card journal folder: %s", e.what());
  }
  const QString file = PathText(JournalPlaceOf().file);
  try {
    journal_ = journal::Journal::Open(QString::fromStdString(config_.database), file);
    SettleJournalStart();
  } catch (const journal::JournalUnreachable&) {
    // Not fatal: the first write tries again and, still away, says why.
  } catch (const journal::JournalError& e) {
    // Writing is refused for this reason until an attempt succeeds.
    LogJournalError(e);
    journal_.reset();
    journalFailure_ = station::JournalOpenFailureText(e, JournalPlaceOf());
    journalRetryTimer_.start();
    return false;
  }
  journalFailure_.clear();
  journalRetryTimer_.stop();
  return true;
}

void TForm1::RetryJournal() {
  if (journal_ || config_.journalFolder.empty()) return;
  ui::FitLabel& panel = *statusPanels_[2];
  const QString before = panel.FullText();
  if (!TryOpenJournal()) return;
  // The start's recovery may have put its own count there.
  const QString recovered = panel.FullText() != before ? panel.FullText() : QString();
  panel.SetFullText(QString::fromUtf8(station::kJournalBack) + recovered);
  sayReadsKept_ = false;
  saidReadsKept_ = false;
  RecordKeptReads();
}

void TForm1::RecordKeptReads() {
  while (!keptReads_.empty()) {
    try {
      journal_->RecordReadCard(keptReads_.front());
    } catch (const journal::JournalError& e) {
      // Kept for the next attempt; reading goes on meanwhile.
      LogJournalError(e);
      return;
    }
    keptReads_.erase(keptReads_.begin());
  }
}

station::JournalPlace TForm1::JournalPlaceOf() const {
  station::JournalPlace place;
  place.file = config_.journalFolder / journal::kDatabaseFileName;
  place.settingsFile = config_.settingsPath;
  place.server = !QString::fromStdString(config_.database).trimmed().isEmpty();
  return place;
}

station::JournalAway TForm1::AwayFrom(const journal::JournalError& error) const {
  // A server away: the client library's own words follow "cannot connect".
  if (const auto* away = dynamic_cast<const journal::JournalUnreachable*>(&error)) {
    return station::JournalAway(station::kJournalUnreachable + away->reason().toStdString());
  }
  LogJournalError(error);
  return station::JournalAway(station::JournalUseFailureText(error, JournalPlaceOf()));
}

bool TForm1::JournalRefusesWriting() {
  if (config_.journalFolder.empty()) return false;
  if (!journal_) {
    // Every failed opening leaves its reason; this one is for a path that did not.
    if (journalFailure_.empty()) journalFailure_ = "写卡记录未打开。写卡已停用，请重新启动程序。";
    prompts().Warning(QString::fromStdString(journalFailure_));
    return true;
  }
  // A server's troubles are the session's to report, as "cannot connect"; a
  // local file that went bad is found here, before a card is armed.
  if (JournalPlaceOf().server) return false;
  try {
    journal_->LastCardId();
  } catch (const journal::JournalError& e) {
    LogJournalError(e);
    prompts().Warning(QString::fromStdString(station::JournalUseFailureText(e, JournalPlaceOf())));
    return true;
  }
  return false;
}

void TForm1::SettleJournalStart() {
  if (journalSettled_) return;
  const QString station = QString::fromStdString(config_.stationName);
  // A run that ended with the program left its card undecided.
  journal_->UnconfirmLeftoverReservations(station);
  const QList<journal::UnsavedLine> lines = journal_->UnsavedLines(station);
  journalSettled_ = true;
  for (const journal::UnsavedLine& line : lines) {
    AppendWrittenCard(line.track, station::TrackQString(line.text), line.cardId);
  }
  if (!lines.isEmpty()) {
    statusPanels_[2]->SetFullText(QString::fromUtf8(station::kRecoveredBefore) + QString::number(lines.size()) +
                                        QString::fromUtf8(station::kRecoveredAfter));
  }
}

void TForm1::CatchUpJournal() {
  // The start's recovery first: a kept card recorded before it would come
  // back into the list a second time.
  SettleJournalStart();
  while (!keptCards_.empty()) {
    const KeptCard& kept = keptCards_.front();
    const std::int64_t id = journal_->RecordWrittenCard(kept.card);
    cardList_->Renumber(kept.listId, id);
    keptCards_.erase(keptCards_.begin());
  }
  ApplyHoldChanges();
}

void TForm1::ApplyHoldChanges() {
  const QString station = QString::fromStdString(config_.stationName);
  while (!holdChanges_.empty()) {
    const HoldChange& change = holdChanges_.front();
    try {
      if (change.unconfirm) {
        journal_->MarkUnconfirmed(station, change.numbers, change.reason);
      } else {
        journal_->CancelReservation(station, change.numbers);
      }
    } catch (const journal::JournalUnreachable&) {
      throw;
    } catch (const journal::JournalError&) {
      // Not for want of a server: trying again would fail the same way. The
      // numbers stay blocked, which is the safe side.
    }
    holdChanges_.erase(holdChanges_.begin());
  }
}

std::vector<station::TakenNumber> TForm1::ReserveNumbers(const station::WrittenCardRecord& card, bool repeat) {
  if (!journal_) {
    if (config_.journalFolder.empty()) return {};  // no journal configured
    throw station::JournalAway(journalFailure_);
  }
  QList<journal::NumberHolder> holders;
  try {
    CatchUpJournal();
    holders = journal_->Reserve(QString::fromStdString(config_.stationName), NumbersOf(card), repeat);
  } catch (const journal::JournalError& e) {
    throw AwayFrom(e);
  }
  std::vector<station::TakenNumber> taken;
  for (const journal::NumberHolder& holder : holders) {
    station::TakenNumber number;
    number.track = holder.number.track;
    number.text = holder.number.text;
    number.hold = HoldOf(holder.state);
    number.station = holder.station.toStdString();
    number.localTime = holder.localTime.toStdString();
    number.ownStation = number.station == config_.stationName;
    if (number.hold == station::NumberHold::unconfirmed) {
      number.reason = journal::UnconfirmedReasonCaption(holder.reason).toStdString();
    }
    // The guard switched off lets this station write its own numbers again;
    // another station's number is still asked about.
    number.quietRepeat = number.hold == station::NumberHold::written && number.ownStation && !config_.duplicateCheck;
    taken.push_back(std::move(number));
  }
  return taken;
}

std::string TForm1::FirstFreeNumber(int track, const std::string& start, std::uint64_t step) {
  if (!journal_) return start;
  try {
    return journal_
        ->FirstFree(QString::fromStdString(config_.stationName), track, start,
                    [step](const std::string& text) { return station::IncrementTrailingNumber(text, step).text; })
        .text;
  } catch (const journal::JournalError& e) {
    throw AwayFrom(e);
  }
}

void TForm1::CancelReservation(const station::WrittenCardRecord& card) {
  if (!journal_) return;
  holdChanges_.push_back({false, NumbersOf(card), journal::UnconfirmedReason::unknown});
  try {
    ApplyHoldChanges();
  } catch (const journal::JournalError&) {
    // Kept for the next write, which reaches the journal first.
  }
}

void TForm1::MarkUnconfirmed(const station::WrittenCardRecord& card, station::Undecided reason) {
  if (!journal_) return;
  holdChanges_.push_back({true, NumbersOf(card), ReasonOf(reason)});
  try {
    ApplyHoldChanges();
  } catch (const journal::JournalError&) {
    // As above; until then the numbers stay reserved, which blocks them too.
  }
}

std::int64_t TForm1::RecordWrittenCard(const station::WrittenCardRecord& card) {
  if (!journal_) {
    if (config_.journalFolder.empty()) return 0;  // no journal configured
    throw journal::JournalError(journalFailure_);
  }
  const station::StationForm form = Form();
  journal::WrittenCard entry;
  entry.station = QString::fromStdString(config_.stationName);
  entry.port = QString::fromStdString(config_.portName()).toUpper();
  entry.devicePath = QString::fromStdString(config_.devicePath(PortNumber()));
  entry.kind = form.Mode();
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
  // The key lets a record whose commit was cut off be sent again safely.
  entry.key = QUuid::createUuid().toString(QUuid::WithoutBraces);
  try {
    return journal_->RecordWrittenCard(entry);
  } catch (const journal::JournalUnreachable& e) {
    // The card holds its numbers: recorded, and the numbers written, as soon
    // as the journal is back. Its reservation keeps them blocked meanwhile.
    entry.when = QDateTime::currentDateTimeUtc();
    keptCards_.push_back({entry, --lastKeptId_});
    throw station::JournalAway(station::kJournalUnreachable + e.reason().toStdString(), lastKeptId_);
  } catch (const journal::JournalError& e) {
    // The operator reads why in words of the journal's place, not the driver's.
    LogJournalError(e);
    throw journal::JournalError(station::JournalUseFailureText(e, JournalPlaceOf()), e.fault());
  }
}

void TForm1::RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) {
  if (config_.journalFolder.empty()) return;  // no journal configured
  journal::ReadCard card;
  card.station = QString::fromStdString(config_.stationName);
  card.track2 = track2;
  card.track3 = track3;
  if (!journal_) {
    // Kept until the journal opens; the operator hears of it once, in the
    // place where the read itself is reported next.
    card.when = QDateTime::currentDateTimeUtc();
    keptReads_.push_back(std::move(card));
    sayReadsKept_ = !saidReadsKept_;
    saidReadsKept_ = true;
    return;
  }
  try {
    journal_->RecordReadCard(card);
  } catch (const journal::JournalError& e) {
    // Reading goes on; the operator learns that the journal misses the card.
    LogJournalError(e);
    prompts().Warning(QStringLiteral("本张卡的读卡记录未保存：") +
                      QString::fromStdString(station::JournalUseFailureText(e, JournalPlaceOf())));
  }
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
  if (save.entries.isEmpty()) return;
  try {
    journal_->RecordListSave(save);
  } catch (const journal::JournalError& e) {
    LogJournalError(e);
    throw journal::JournalError("已保存到 " + ui::PathToUtf8(file) +
                                "，但写卡记录未能记下这次保存，下次启动时这些卡号会重新列出。" +
                                station::JournalUseFailureText(e, JournalPlaceOf()));
  }
}

void TForm1::OnJournalPressed() {
  RetryJournal();
  if (!journal_) {
    prompts().Warning(journalFailure_.empty() ? QStringLiteral("写卡记录未打开。")
                                              : QString::fromStdString(journalFailure_));
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
  // While the port is open, so that a card on the writer can be called off.
  session_.Closing();
  if (!cardListMemo_->document()->isEmpty()) {
    // A failed save keeps the lines in the journal, so the next start puts
    // them back; the window still closes.
    Guarded([this] { SaveCardLog(); });
  }
  // After the save, so a reply handled while its box was open is saved or
  // journaled; replies arriving later are dropped with the port.
  ShutDownPort();
  event->accept();
}
