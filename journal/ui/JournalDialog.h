#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

#include "journal/Journal.h"
#include "journal/ui/Export.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;

// "写卡记录": the journal's written cards and, on a second tab, its read cards
// as tables, newest first, narrowed by a text and a date range, with an export
// of every card of the shown tab that matches. It is not modal and never
// holds the reply path: it reads the journal when the journal says it
// changed, and polls it cheaply for cards written elsewhere. Below the
// written cards, the numbers that stations hold without a written card; an
// unconfirmed one can be released after a confirmation.
class JournalDialog : public QDialog {
  Q_OBJECT

 public:
  // Where the journal's functions run. A journal that lives on a thread of
  // its own is used there only: run(job) runs job there and returns when it
  // is done, rethrowing what it threw; busy() tells that a call of the
  // journal's owner is waiting, and the poll leaves that turn out. Unset:
  // on the dialog's thread.
  struct OnJournalThread {
    std::function<void(const std::function<void()>&)> run;
    std::function<bool()> busy;
  };

  // journal must outlive the dialog.
  JournalDialog(journal::Journal& journal, QWidget* parent = nullptr, OnJournalThread onJournalThread = {});

  // The file an export goes to and the format chosen with it.
  struct ExportChoice {
    QString file;  // empty: cancelled
    journal::ExportFormat format = journal::ExportFormat::csv;
  };

  // How the dialog asks and tells the operator; each starts as a box of its
  // own, and tests put their own answers in.
  struct Prompts {
    // Chooses the export file; by default a save dialog.
    std::function<ExportChoice(QWidget*)> chooseExportFile;
    // Tells the operator how an export went wrong; by default a box.
    std::function<void(QWidget*, const QString& text)> showMessage;
    // Whether to release a number; question is the box's text. By default a
    // question box.
    std::function<bool(QWidget*, const QString& question)> confirmRelease;
  };
  Prompts& prompts() { return prompts_; }

  // How long an export runs before its progress dialog shows.
  void SetProgressDelay(int ms) { progressDelayMs_ = ms; }

  const QList<journal::CardRow>& Rows() const { return rows_; }
  const QList<journal::ReadCardRow>& ReadRows() const { return readRows_; }

 public slots:
  void Refresh();

 private:
  void PollForChange();
  void Export();
  // Puts the cards recorded since the newest one shown on top of the table, so
  // that a card written while the dialog is open costs one small query.
  void AddNewCards();
  // Follows the journal: new cards, and the numbers held now.
  void FollowJournal();
  // Shows the reserved and unconfirmed numbers of every station.
  void ShowReservations();
  void ReleaseSelected();
  void UpdateReleaseButton();
  journal::CardQuery Query() const;
  // Runs job with the journal where the journal lives.
  void WithJournal(const std::function<void()>& job);
  void ShowRow(int row);
  // The read cards again, when one was recorded since they were read.
  void FollowReadCards();
  void RefreshReadCards();
  // Reads the newest rows the filter matches into shown (written or read
  // cards); false, with the reason shown, when the journal failed.
  template <typename Row>
  bool Reload(QList<Row>& shown, qint64& lastId, qint64 (journal::Journal::*newestId)(),
              QList<Row> (journal::Journal::*read)(const journal::CardQuery&));

  journal::Journal& journal_;
  OnJournalThread onJournalThread_;
  Prompts prompts_;
  QList<journal::NumberHolder> reservations_;
  QList<journal::CardRow> rows_;
  qint64 lastSeenId_ = -1;
  QList<journal::ReadCardRow> readRows_;
  qint64 lastReadId_ = -1;
  int progressDelayMs_ = 1000;

  QLineEdit* searchEdit_;
  QCheckBox* dateRangeBox_;
  QDateEdit* fromDate_;
  QDateEdit* toDate_;
  QTabWidget* tabs_;
  QTableWidget* table_;
  QTableWidget* readTable_;
  QLabel* statusLabel_;
  QTableWidget* reservationTable_;
  QPushButton* releaseButton_;
  QPushButton* exportButton_;
  QPushButton* closeButton_;
  QTimer* pollTimer_;
};
