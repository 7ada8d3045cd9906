#include "station/JournalLink.h"

#include <QDateTime>
#include <QUuid>
#include <QWidget>
#include <QtGlobal>

#include <chrono>
#include <map>
#include <type_traits>
#include <variant>

#include "core/NumberSequence.h"
#include "core/Texts.h"
#include "journal/ui/JournalRows.h"
#include "settings/SafeWrite.h"
#include "station/SavedLists.h"
#include "ui/AfterFirstPaint.h"
#include "ui/PathText.h"

namespace station {
namespace {

// How often a journal that could not be opened, or an outbox it could not
// take, is tried again while the station is idle.
constexpr int kRetryMs = 30000;
// The latest a shown window's journal opens when its first paint has not come.
constexpr int kOpenAfterShowBoundMs = 1000;
// A wait shorter than this goes unmentioned.
constexpr int kNoticedWaitMs = 100;

// The outbox's file beside the journal's.
constexpr char kOutboxSuffix[] = ".outbox";

QString PathText(const std::filesystem::path& path) { return ui::PathToQString(path); }

QList<journal::CardNumber> NumbersOf(const WrittenCardRecord& card) {
  QList<journal::CardNumber> numbers;
  if ((card.tracks & 1) != 0) numbers.push_back({2, card.track2});
  if ((card.tracks & 2) != 0) numbers.push_back({3, card.track3});
  return numbers;
}

// The technical side of a journal failure, for whoever reads the log.
void LogJournalError(const journal::JournalError& error) { qWarning("card journal: %s", error.what()); }

journal::UnconfirmedReason ReasonOf(Undecided reason) {
  switch (reason) {
    case Undecided::timeout: return journal::UnconfirmedReason::timeout;
    case Undecided::reset: return journal::UnconfirmedReason::reset;
    case Undecided::lineLost: return journal::UnconfirmedReason::lineLost;
    case Undecided::portClosed: return journal::UnconfirmedReason::portClosed;
    case Undecided::programExit: return journal::UnconfirmedReason::programExit;
    case Undecided::readStarted: return journal::UnconfirmedReason::readStarted;
    case Undecided::writeRestarted: return journal::UnconfirmedReason::writeRestarted;
    case Undecided::notJournaled: return journal::UnconfirmedReason::notJournaled;
  }
  return journal::UnconfirmedReason::unknown;
}

NumberHold HoldOf(journal::NumberState state) {
  switch (state) {
    case journal::NumberState::unconfirmed: return NumberHold::unconfirmed;
    case journal::NumberState::written: return NumberHold::written;
    case journal::NumberState::reserved: break;
  }
  return NumberHold::reserved;
}

QString OutboxFile(const JournalLinkConfig& config) {
  if (config.folder.empty()) return {};
  return PathText(config.folder / journal::kDatabaseFileName) + QLatin1String(kOutboxSuffix);
}

}  // namespace

// Says that a journal call waits, once it has waited long enough for the
// operator to notice: a card's reservation and record end within a few
// milliseconds, and saying so at every card would flicker the panel and
// repaint it twice a card. Where the call holds the window (no event loop
// runs during it), it is said before the call.
class JournalLink::WaitShown {
 public:
  explicit WaitShown(JournalLinkView& view) : view_(view) {
    if constexpr (!JournalWorker::kOwnThread) {
      Show();
    } else {
      delay_.setSingleShot(true);
      QObject::connect(&delay_, &QTimer::timeout, [this] { Show(); });
      delay_.start(kNoticedWaitMs);
    }
  }
  ~WaitShown() {
    if (shown_) view_.ShowJournalWait(QString());
  }
  WaitShown(const WaitShown&) = delete;
  WaitShown& operator=(const WaitShown&) = delete;

 private:
  void Show() {
    shown_ = true;
    view_.ShowJournalWait(QString::fromUtf8(kJournalWait));
  }

  JournalLinkView& view_;
  QTimer delay_;
  bool shown_ = false;
};

JournalLink::JournalLink(JournalLinkConfig config, JournalLinkView& view, QObject* timerOwner, SessionGate& gate)
    : config_(std::move(config)),
      view_(view),
      gate_(gate),
      outbox_(OutboxFile(config_)),
      retryTimer_(std::make_unique<QTimer>(timerOwner)) {
  retryTimer_->setObjectName(QStringLiteral("JournalRetryTimer"));
  retryTimer_->setInterval(kRetryMs);
  // Through the gate: a retry must not start inside a call that waits.
  QObject::connect(retryTimer_.get(), &QTimer::timeout, retryTimer_.get(), [this] {
    gate_.Pass([this] {
      if (journal_) {
        journal::Journal& open = *journal_;
        OnJournalThread([&open] { open.TryAgainNow(); });
        DrainQuietly();
      } else {
        RetryNow();
      }
    });
  });
}

JournalLink::~JournalLink() {
  // The retry timer goes first, so that it never calls into a link that is going.
  retryTimer_.reset();
  DropJournal();
}

void JournalLink::DropJournal() {
  if (!journal_) return;
  // Its connections close on the thread that made them; jobs run in order,
  // so nothing queued after this finds it.
  worker_.Post([doomed = std::shared_ptr<journal::Journal>(std::move(journal_))]() mutable { doomed.reset(); });
}

void JournalLink::Open() {
  if (!configured()) return;
  openDue_ = true;
  // Through the gate, and first in it: a press that comes while the open
  // waits is held until the journal has decided.
  const auto open = [this] { gate_.Pass([this] { AwaitOpen(); }); };
  QTimer::singleShot(0, retryTimer_.get(), [this, open] {
    // A window on screen is drawn before the open loads the SQL driver and
    // checks the file on the journal's thread, which would share the
    // processor with the drawing; one not shown opens the journal now. The
    // open comes within a second in any case, also for a window that is never
    // painted (started minimized); a use before then opens it at once.
    auto* window = qobject_cast<QWidget*>(retryTimer_->parent());
    if (window == nullptr || !window->isVisible()) return open();
    ui::AfterFirstPaint(*window, open);
    QTimer::singleShot(kOpenAfterShowBoundMs, retryTimer_.get(), open);
  });
}

void JournalLink::AwaitOpen() {
  if (!openDue_) return;
  openDue_ = false;
  OpenNow();
}

void JournalLink::OpenNow() {
  const bool opened = TryOpen();
  // Cards an earlier run could not journal are on the list again, after the
  // ones the journal puts back, until the journal takes them.
  behind_ = !outbox_.empty();
  for (const journal::OutboxEntry& entry : outbox_.entries()) {
    if (const auto* written = std::get_if<journal::OutboxWrittenCard>(&entry)) {
      for (const journal::WrittenTrack& track : written->card.tracks) {
        view_.RestoreListLine(track.track, track.text, written->listId);
      }
    }
  }
  // The open runs once the window is up, so the box stands over it.
  if (!opened) {
    view_.WarnAboutJournal(QString::fromStdString(failure_));
    return;
  }
  DrainQuietly();
  if (!journal_) return;
  const int restored = RestoreFromSavedLists();
  journal::Journal& open = *journal_;
  QString text;
  const QString finding = OnJournalThread([&open] { return open.OpenCheckFinding(); });
  if (!finding.isEmpty()) {
    text = QString::fromUtf8(kJournalIncomplete) + finding +
           QStringLiteral("。请检查已保存的卡号清单，必要时与维护人员联系。");
  }
  if (restored > 0) {
    if (text.isEmpty()) text = QString::fromUtf8(kJournalIncomplete);
    text +=
        QString::fromUtf8(kListsRestoredBefore) + QString::number(restored) + QString::fromUtf8(kListsRestoredAfter);
  }
  if (!text.isEmpty()) view_.WarnAboutJournal(text);
}

bool JournalLink::TryOpen() {
  // On a first start the folder of the settings and the journal is not there
  // yet. Should it fail, opening the journal below fails too and says why.
  try {
    settings::CreatePrivateFolders(config_.folder);
  } catch (const std::exception& e) {
    qWarning("card journal folder: %s", e.what());
  }
  try {
    const QString database = QString::fromStdString(config_.database);
    const QString file = PathText(Place().file);
    journal_ = OnJournalThread([&database, &file] { return journal::Journal::Open(database, file); });
    // Said on the journal's thread; the cards are kept on this one once the call that found it is over.
    QObject::connect(
        journal_.get(), &journal::Journal::fileLost, journal_.get(), [this] { fileLost_ = true; },
        Qt::DirectConnection);
    SettleStart();
  } catch (const journal::JournalUnreachable&) {
    // Not fatal: the first write tries again and, still away, says why.
  } catch (const journal::JournalError& e) {
    // Writing is refused for this reason until an attempt succeeds.
    LogJournalError(e);
    DropJournal();
    failure_ = JournalOpenFailureText(e, Place());
    retryTimer_->start();
    return false;
  }
  failure_.clear();
  retryTimer_->stop();
  return true;
}

void JournalLink::Retry() {
  AwaitOpen();
  if (journal_) {
    // The operator's action tries a server that was away at once.
    journal::Journal& open = *journal_;
    OnJournalThread([&open] { open.TryAgainNow(); });
    return;
  }
  if (configured()) RetryNow();
}

void JournalLink::RetryNow() {
  if (journal_ || !configured()) return;
  if (!TryOpen()) return;
  behind_ = false;
  DrainQuietly();
  if (const int restored = RestoreFromSavedLists(); restored > 0) {
    view_.WarnAboutJournal(QString::fromUtf8(kJournalIncomplete) + QString::fromUtf8(kListsRestoredBefore) +
                           QString::number(restored) + QString::fromUtf8(kListsRestoredAfter));
  }
  view_.ShowJournalNews(QString::fromUtf8(kJournalBack));
  sayReadsKept_ = false;
  saidReadsKept_ = false;
}

JournalPlace JournalLink::Place() const {
  JournalPlace place;
  place.file = config_.folder / journal::kDatabaseFileName;
  place.settingsFile = config_.settingsFile;
  place.server = !QString::fromStdString(config_.database).trimmed().isEmpty();
  return place;
}

JournalAway JournalLink::AwayFrom(const journal::JournalError& error) const {
  // A server away: the client library's own words follow "cannot connect".
  if (const auto* away = dynamic_cast<const journal::JournalUnreachable*>(&error)) {
    return JournalAway(kJournalUnreachable + away->reason().toStdString());
  }
  LogJournalError(error);
  return JournalAway(JournalUseFailureText(error, Place()));
}

bool JournalLink::RefusesWriting() {
  if (!configured()) return false;
  AwaitOpen();
  if (!journal_) {
    // Every failed opening leaves its reason; this one is for a path that did not.
    if (failure_.empty()) failure_ = "写卡记录未打开。写卡已停用，请重新启动程序。";
    view_.WarnAboutJournal(QString::fromStdString(failure_));
    return true;
  }
  // A server's troubles are the session's to report, as "cannot connect"; a
  // local file that went bad is found here, before a card is armed.
  if (Place().server) return false;
  try {
    journal::Journal& open = *journal_;
    OnJournalThread([&open] { return open.LastCardId(); });
  } catch (const journal::JournalError& e) {
    LogJournalError(e);
    view_.WarnAboutJournal(QString::fromStdString(JournalUseFailureText(e, Place())));
    return true;
  }
  return false;
}

void JournalLink::SettleStart() {
  if (settled_) return;
  const QString station = QString::fromStdString(config_.stationName);
  journal::Journal& open = *journal_;
  // The start's lookups, the costly part of a large journal's open, run
  // while the window is already drawn.
  const QList<journal::UnsavedLine> lines = OnJournalThread([&open, &station] {
    // A run that ended with the program left its card undecided.
    open.UnconfirmLeftoverReservations(station);
    return open.UnsavedLines(station);
  });
  settled_ = true;
  for (const journal::UnsavedLine& line : lines) view_.RestoreListLine(line.track, line.text, line.cardId);
  if (!lines.isEmpty()) {
    view_.ShowJournalNews(QString::fromUtf8(kRecoveredBefore) + QString::number(lines.size()) +
                          QString::fromUtf8(kRecoveredAfter));
  }
}

void JournalLink::Drain() {
  // The start's recovery first: a kept card recorded before it would come
  // back into the list a second time.
  SettleStart();
  const QString station = QString::fromStdString(config_.stationName);
  journal::Journal& open = *journal_;
  while (!outbox_.empty()) {
    std::visit(
        [&](const auto& entry) {
          using Entry = std::decay_t<decltype(entry)>;
          if constexpr (std::is_same_v<Entry, journal::OutboxWrittenCard>) {
            // Its key makes a second send after a cut-off commit harmless.
            const std::int64_t id = OnJournalThread([&] { return open.RecordWrittenCard(entry.card); });
            Committed(id, entry.card);
            view_.RenumberListLine(entry.listId, id);
            recordedKept_[entry.listId] = id;
          } else if constexpr (std::is_same_v<Entry, journal::ReadCard>) {
            OnJournalThread([&] { open.RecordReadCard(entry); });
          } else if (entry.unconfirm) {
            OnJournalThread([&] { open.MarkUnconfirmed(station, entry.numbers, entry.reason); });
          } else {
            OnJournalThread([&] { open.CancelReservation(station, entry.numbers); });
          }
        },
        outbox_.front());
    outbox_.PopFront();
  }
  retryTimer_->stop();
  if (behind_) {
    // The journal took what it had missed.
    behind_ = false;
    view_.ShowJournalNews(QString::fromUtf8(kJournalBack));
    sayReadsKept_ = false;
    saidReadsKept_ = false;
  }
}

void JournalLink::DrainQuietly() {
  if (!journal_) return;
  try {
    Drain();
  } catch (const journal::JournalError& e) {
    // Kept for the next attempt; the station goes on meanwhile.
    LogJournalError(e);
    behind_ = true;
  }
}

void JournalLink::Queue(journal::OutboxEntry entry) {
  if (!outbox_.Push(std::move(entry)) && !saidOutboxUnsaved_) {
    saidOutboxUnsaved_ = true;
    qWarning("card journal: the outbox %s cannot be written", qPrintable(outbox_.file()));
  }
  // While the journal is open but cannot take the outbox, it is tried again
  // while idle, as a shut journal is.
  if (!retryTimer_->isActive()) retryTimer_->start();
}

TakenNumber JournalLink::TakenOf(const journal::NumberHolder& holder) const {
  TakenNumber number;
  number.track = holder.number.track;
  number.text = holder.number.text;
  number.hold = HoldOf(holder.state);
  number.station = holder.station.toStdString();
  number.localTime = holder.localTime.toStdString();
  number.ownStation = number.station == config_.stationName;
  if (number.hold == NumberHold::unconfirmed) {
    number.reason = journal::UnconfirmedReasonCaption(holder.reason).toStdString();
  }
  // The guard switched off lets this station write its own numbers again;
  // another station's number is still asked about.
  number.quietRepeat = number.hold == NumberHold::written && number.ownStation && !config_.duplicateCheck;
  return number;
}

NumbersReserved JournalLink::ReserveNumbers(const WrittenCardRecord& card, const NumberStep& step, bool repeat) {
  AwaitOpen();
  if (!journal_) {
    if (!configured()) return {};
    throw JournalAway(failure_);
  }
  journal::Reservation reservation;
  const WaitShown waiting(view_);
  try {
    // What the journal missed goes in first: a card kept in the outbox must
    // hold its numbers before anything is reserved.
    Drain();
    journal::Journal& open = *journal_;
    const QString station = QString::fromStdString(config_.stationName);
    const QList<journal::CardNumber> numbers = NumbersOf(card);
    reservation = OnJournalThread([&] { return open.ReserveOrStep(station, numbers, repeat, step); });
  } catch (const journal::JournalError& e) {
    throw AwayFrom(e);
  }
  NumbersReserved result;
  for (const journal::NumberHolder& holder : reservation.taken) result.taken.push_back(TakenOf(holder));
  for (const journal::SteppedNumber& number : reservation.stepped) {
    result.stepped.push_back({TakenOf(number.skipped), number.text});
  }
  return result;
}

void JournalLink::CancelReservation(const WrittenCardRecord& card) {
  AwaitOpen();
  if (!journal_) return;
  Queue(journal::OutboxHoldChange{false, NumbersOf(card), journal::UnconfirmedReason::unknown});
  // Until it goes in, the numbers stay reserved, which blocks them too.
  DrainQuietly();
}

void JournalLink::MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason) {
  AwaitOpen();
  if (!journal_) return;
  Queue(journal::OutboxHoldChange{true, NumbersOf(card), ReasonOf(reason)});
  DrainQuietly();
}

std::int64_t JournalLink::RecordWrittenCard(const WrittenCardRecord& card, const CardOrigin& origin) {
  if (!configured()) return 0;
  AwaitOpen();
  journal::WrittenCard entry;
  entry.station = QString::fromStdString(config_.stationName);
  entry.port = origin.port;
  entry.devicePath = origin.devicePath;
  entry.kind = origin.kind;
  entry.cardIndex = card.cardIndex;
  entry.deliberateRepeat = card.deliberateRepeat;
  for (int track : {2, 3}) {
    if ((card.tracks & (track == 2 ? 1 : 2)) == 0) continue;
    journal::WrittenTrack written;
    written.track = track;
    written.text = track == 2 ? card.track2 : card.track3;
    written.fileName = origin.fileName[track];
    written.recordNumber = origin.fileName[track].isEmpty() ? 0 : origin.recordNumber[track];
    entry.tracks.push_back(written);
  }
  // The key lets a record whose commit was cut off be sent again safely.
  entry.key = QUuid::createUuid().toString(QUuid::WithoutBraces);
  entry.when = QDateTime::currentDateTimeUtc();
  // The card holds its numbers whatever happens below: a record that fails
  // keeps the card in the outbox, so that it is journaled, and its numbers
  // known as written, as soon as the journal takes it.
  const auto keep = [&](const std::string& text) {
    const std::int64_t listId = outbox_.NextListId();
    Queue(journal::OutboxWrittenCard{entry, listId});
    behind_ = true;
    return JournalAway(text, listId);
  };
  if (!journal_) throw keep(kWriteNotJournaled + failure_);
  const WaitShown waiting(view_);
  try {
    Drain();
    journal::Journal& open = *journal_;
    const std::int64_t id = OnJournalThread([&] { return open.RecordWrittenCard(entry); });
    Committed(id, entry);
    return id;
  } catch (const journal::JournalUnreachable& e) {
    throw keep(kJournalUnreachable + e.reason().toStdString());
  } catch (const journal::JournalError& e) {
    // The operator reads why in words of the journal's place, not the driver's.
    LogJournalError(e);
    throw keep(kWriteNotJournaled + JournalUseFailureText(e, Place()));
  }
}

void JournalLink::RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) {
  if (!configured()) return;
  AwaitOpen();
  journal::ReadCard card;
  card.station = QString::fromStdString(config_.stationName);
  card.track2 = track2;
  card.track3 = track3;
  card.when = QDateTime::currentDateTimeUtc();
  if (journal_) {
    try {
      Drain();
      journal::Journal& open = *journal_;
      OnJournalThread([&] { open.RecordReadCard(card); });
      return;
    } catch (const journal::JournalError& e) {
      LogJournalError(e);
    }
  }
  // Kept until the journal takes it; the operator hears of it once, in the
  // place where the read itself is reported next.
  Queue(std::move(card));
  behind_ = true;
  sayReadsKept_ = !saidReadsKept_;
  saidReadsKept_ = true;
}

QString JournalLink::OperationText(const QString& text) {
  if (!sayReadsKept_) return text;
  sayReadsKept_ = false;
  return QString::fromUtf8(kReadsKept);
}

void JournalLink::RecordListSave(const std::filesystem::path& file,
                                 const std::vector<std::pair<std::int64_t, int>>& lines) {
  AwaitOpen();
  if (!journal_) return;
  // Kept cards that go in now get their ids, so that the save can name them.
  DrainQuietly();
  journal::ListSave save;
  save.station = QString::fromStdString(config_.stationName);
  save.filePath = PathText(file);
  for (const auto& [listId, track] : lines) {
    const auto recorded = recordedKept_.find(listId);
    const std::int64_t cardId = recorded != recordedKept_.end() ? recorded->second : listId;
    if (cardId > 0) save.entries.push_back({cardId, track});
  }
  if (save.entries.isEmpty()) return;
  try {
    journal::Journal& open = *journal_;
    OnJournalThread([&] { open.RecordListSave(save); });
    for (const journal::ListEntry& entry : save.entries) committedUnsaved_.erase(entry.cardId);
  } catch (const journal::JournalError& e) {
    LogJournalError(e);
    throw journal::JournalError("已保存到 " + ui::PathToUtf8(file) +
                                "，但写卡记录未能记下这次保存，下次启动时这些卡号会重新列出。" +
                                JournalUseFailureText(e, Place()));
  }
}

void JournalLink::Committed(std::int64_t id, const journal::WrittenCard& card) {
  if (!Place().server) committedUnsaved_.insert_or_assign(id, card);
}

void JournalLink::KeepLostCards() {
  // Their keys make them harmless where the main file holds them after all
  // (a checkpoint moved them there): the journal stores a key once.
  if (committedUnsaved_.empty()) return;
  std::vector<journal::OutboxEntry> kept;
  std::int64_t listId = outbox_.NextListId();
  for (const auto& [id, card] : std::exchange(committedUnsaved_, {})) {
    kept.emplace_back(journal::OutboxWrittenCard{card, listId--});
  }
  // One save of the outbox for them all: a long run may have many.
  if (!outbox_.PushAll(std::move(kept)) && !saidOutboxUnsaved_) {
    saidOutboxUnsaved_ = true;
    qWarning("card journal: the outbox %s cannot be written", qPrintable(outbox_.file()));
  }
  if (!retryTimer_->isActive()) retryTimer_->start();
  behind_ = true;
}

int JournalLink::RestoreFromSavedLists() {
  // Only a local file loses cards this way; and the outbox goes in first, or
  // its cards would be put back twice, once from a list.
  if (!journal_ || Place().server || !outbox_.empty() || !config_.listFolder) return 0;
  // Lists saved since the journal's last known save may hold cards it lost.
  // A new or damaged journal knows no save it can be trusted with: the most
  // recent lists are read. Either way a bounded number of them, so that a
  // start stays quick beside thousands of files.
  constexpr std::size_t kMaxLists = 20;
  const QString station = QString::fromStdString(config_.stationName);
  const std::filesystem::path folder = config_.listFolder();
  journal::Journal& open = *journal_;
  try {
    // On the journal's thread as a whole: the lists are few and small.
    return OnJournalThread([&] {
      int restored = 0;
      std::optional<std::chrono::system_clock::time_point> since;
      const bool trusted = !open.Created() && open.OpenCheckFinding().isEmpty();
      if (const std::optional<QDateTime> last = trusted ? open.LastListSave(station) : std::nullopt) {
        since = std::chrono::system_clock::time_point(std::chrono::milliseconds(last->toMSecsSinceEpoch()));
      }
      try {
        for (const SavedListFile& file : RecentSavedLists(folder, since, kMaxLists)) {
          journal::ListedNumbers listed;
          listed.filePath = PathText(file.path);
          listed.when = QDateTime::fromMSecsSinceEpoch(
              std::chrono::duration_cast<std::chrono::milliseconds>(file.written.time_since_epoch()).count(), Qt::UTC);
          for (const SavedListLine& line : file.lines) listed.numbers.push_back({line.track, line.text});
          if (!listed.numbers.isEmpty()) restored += open.RestoreListedNumbers(station, listed);
        }
      } catch (const journal::JournalError& e) {
        // What went in stays; the rest is tried at the next start.
        LogJournalError(e);
      }
      return restored;
    });
  } catch (const journal::JournalError& e) {
    LogJournalError(e);
    return 0;
  }
}

}  // namespace station
