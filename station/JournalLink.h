#pragma once

#include <QList>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/CardSession.h"
#include "journal/Journal.h"
#include "journal/Outbox.h"
#include "station/JournalMessages.h"
#include "station/JournalWorker.h"
#include "station/SessionGate.h"

class QObject;

// The station's side of the card journal: opening it (and trying again while
// it stays shut), reserving numbers before a card is sent, recording written
// and read cards and list saves, and one outbox for whatever the journal could
// not take, sent in order once it can. The duplicate policy (which taken
// numbers are asked about) is decided here alone.
//
// The journal itself lives on a worker thread that the link owns; each call
// below hands its work there and waits for it within the journal's bounds (a
// busy file, a server's timeouts) with the event loop running, holding the
// session's events at the gate meanwhile, so the window keeps answering.
//
// Threads: main thread only.
namespace station {

// What the link asks of the window.
class JournalLinkView {
 public:
  virtual ~JournalLinkView() = default;
  // Panel 2, the operation messages (UTF-8).
  virtual void ShowJournalNews(const QString& text) = 0;
  // A box with the warning icon.
  virtual void WarnAboutJournal(const QString& text) = 0;
  // Puts a written card's line back into the written-card list at start.
  virtual void RestoreListLine(int track, const std::string& text, std::int64_t cardId) = 0;
  // A card the list shows under a kept id has been recorded under cardId.
  virtual void RenumberListLine(std::int64_t keptId, std::int64_t cardId) = 0;
  // Said and painted at once, before a call that may have to wait for the
  // journal, and shown while it waits; an empty text when the wait is over
  // puts back what panel 2 said before.
  virtual void ShowJournalWait(const QString& text) = 0;
};

struct JournalLinkConfig {
  std::filesystem::path folder;        // the journal's folder; empty: no journal
  std::filesystem::path settingsFile;  // where [Journal] is set
  std::string database;                // a PostgreSQL URI, or empty for the file
  std::string stationName;
  bool duplicateCheck = true;
  // Where the written-card lists are saved; none: lists are not read back.
  std::function<std::filesystem::path()> listFolder;
};

// Where a written card came from, beyond its numbers.
struct CardOrigin {
  journal::RunKind kind = journal::RunKind::normal;
  QString port;
  QString devicePath;
  // Per track (index 2 and 3): the record file and its 1-based record, for
  // tracks written from a file; empty otherwise.
  std::array<QString, 4> fileName;
  std::array<int, 4> recordNumber{};
};

class JournalLink {
 public:
  // The retry timer is a child of timerOwner, so that it is found by name;
  // gate holds the session's events while a call waits.
  JournalLink(JournalLinkConfig config, JournalLinkView& view, QObject* timerOwner, SessionGate& gate);
  ~JournalLink();
  JournalLink(const JournalLink&) = delete;
  JournalLink& operator=(const JournalLink&) = delete;

  // At start: opens the journal once the window is drawn (once the event
  // loop runs when it is not shown); any use before then waits for the open.
  // A journal that cannot be opened is said and tried again every 30 s.
  void Open();
  // At 写卡, 读卡 and 记录: a shut journal is tried again; when it opens, the
  // outbox goes in and panel 2 says so.
  void Retry();
  // Whether 写卡 must be refused for the journal's sake; the reason is shown.
  bool RefusesWriting();

  // Null while no journal is open. Its functions are called through
  // WithJournal only: they run on the journal's thread.
  journal::Journal* journal() {
    AwaitOpen();
    return journal_.get();
  }
  // Runs job(journal) on the journal's thread and returns what it returns, or
  // throws what it threw; the window keeps answering meanwhile. The journal
  // must be open.
  template <typename Job>
  auto WithJournal(Job&& job) {
    AwaitOpen();
    if (!journal_) throw journal::JournalError("写卡记录未打开。");
    journal::Journal& open = *journal_;
    return OnJournalThread([&job, &open] { return job(open); });
  }
  bool configured() const { return !config_.folder.empty(); }
  // Why the journal cannot be used now, in the operator's words; empty when it can.
  const std::string& failure() const { return failure_; }
  const journal::Outbox& outbox() const { return outbox_; }

  // --- The session's journal role (see SessionEffects)
  NumbersReserved ReserveNumbers(const WrittenCardRecord& card, const NumberStep& step, bool repeat);
  void CancelReservation(const WrittenCardRecord& card);
  void MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason);
  // Commits the card and returns its id. When it cannot, the card goes to the
  // outbox and JournalAway carries the operator's text and the card's kept id.
  std::int64_t RecordWrittenCard(const WrittenCardRecord& card, const CardOrigin& origin);
  // Never throws: a card the journal cannot take now goes to the outbox.
  void RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3);
  // Replaces an operation text by the note that read cards are kept, once
  // after the journal shut.
  QString OperationText(const QString& text);

  // Tells the journal which journaled cards a saved list holds; throws
  // journal::JournalError with the operator's text when it could not.
  void RecordListSave(const std::filesystem::path& file, const std::vector<std::pair<std::int64_t, int>>& lines);

 private:
  // Once a call that found the journal's file lost is over, and before its
  // failure is handled, keeps the cards the lost file held (on this thread).
  class LostFileCheck {
   public:
    explicit LostFileCheck(JournalLink& link) : link_(link) {}
    LostFileCheck(const LostFileCheck&) = delete;
    LostFileCheck& operator=(const LostFileCheck&) = delete;
    ~LostFileCheck() {
      if (!link_.fileLost_.exchange(false)) return;
      try {
        link_.KeepLostCards();
      } catch (const std::exception& e) {
        qWarning("card journal: keeping the cards of a lost file: %s", e.what());
      }
    }

   private:
    JournalLink& link_;
  };
  template <typename Job>
  std::invoke_result_t<Job&> OnJournalThread(Job&& job) {
    const SessionGate::Hold hold(gate_);
    const LostFileCheck check(*this);
    return worker_.Call(std::forward<Job>(job));
  }
  // The open that Open left for the event loop, done now if it is still due.
  void AwaitOpen();
  void OpenNow();
  // Closes the journal on its own thread.
  void DropJournal();
  bool TryOpen();
  void RetryNow();
  void SettleStart();
  // Sends the outbox in order; throws journal::JournalError while the journal
  // cannot take the next entry.
  void Drain();
  // Drains what it can now, quietly.
  void DrainQuietly();
  void Queue(journal::OutboxEntry entry);
  JournalPlace Place() const;
  TakenNumber TakenOf(const journal::NumberHolder& holder) const;
  JournalAway AwayFrom(const journal::JournalError& error) const;
  // A journal file deleted or replaced stops writing until the program starts
  // again: the journal is closed and the reason kept.
  void NoteFailure(const journal::JournalError& error);
  // The journal's file or WAL went away: every card committed in this run
  // that no list save holds may have gone with it, so each goes into the
  // outbox now, and a kill afterwards loses none.
  void KeepLostCards();
  // At start, once the outbox went in: numbers of recent saved lists that
  // the journal lacks go back in as written cards; returns how many.
  int RestoreFromSavedLists();
  void Committed(std::int64_t id, const journal::WrittenCard& card);
  // Panel 2 says "waiting for the journal" while one lives.
  class WaitShown;

  JournalLinkConfig config_;
  JournalLinkView& view_;
  SessionGate& gate_;
  // Declared before the journal, whose end it carries out.
  JournalWorker worker_;
  // Made, used and deleted on worker_'s thread; the pointer is the main
  // thread's.
  std::unique_ptr<journal::Journal> journal_;
  // Set on the journal's thread when it finds its file lost.
  std::atomic<bool> fileLost_{false};
  bool openDue_ = false;
  journal::Outbox outbox_;
  // Why the journal is shut, for the operator; writing stays refused with it.
  std::string failure_;
  // The file was deleted or replaced: no new journal is opened in its place.
  bool replaced_ = false;
  // Whether the start's work on the journal is done (a server away at start
  // leaves it for the first write).
  bool settled_ = false;
  // A child of the window, so that it is found by name; the link deletes it
  // first, so that it never calls into a link that is gone.
  std::unique_ptr<QTimer> retryTimer_;
  // The ids kept cards got when they went in, by the list id they had.
  std::map<std::int64_t, std::int64_t> recordedKept_;
  // Whether panel 2 is still to say that read cards are kept, and whether it
  // said so since the journal shut.
  bool sayReadsKept_ = false;
  bool saidReadsKept_ = false;
  bool saidOutboxUnsaved_ = false;
  // The cards committed in this run that no list save holds yet, by id: what
  // a lost WAL may have taken with it.
  std::map<std::int64_t, journal::WrittenCard> committedUnsaved_;
  // Something the journal should hold waits in the outbox after a failure;
  // panel 2 says so once the journal takes it.
  bool behind_ = false;
};

}  // namespace station
