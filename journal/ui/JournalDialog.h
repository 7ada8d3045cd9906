#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

#include "journal/Journal.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

// "写卡记录": the journal's written cards as a table, newest first, narrowed
// by a text and a date range, with an export of what the table shows. It is
// not modal and never holds the reply path: it reads the journal when the
// journal says it changed, and polls it cheaply for cards written elsewhere.
// Below the cards, the numbers that stations hold without a written card; an
// unconfirmed one can be released after a confirmation.
class JournalDialog : public QDialog {
  Q_OBJECT

 public:
  // journal must outlive the dialog.
  JournalDialog(journal::Journal& journal, QWidget* parent = nullptr);

  // Chooses the export file; the default asks with a save dialog. Empty: cancelled.
  void SetExportFileChooser(std::function<QString(QWidget*)> chooser);

  // Writes the rows now shown to file; false (and a message box) on failure.
  bool ExportTo(const QString& file);

  const QList<journal::CardRow>& Rows() const { return rows_; }

  // Asks the operator whether to release a number; the default asks with a
  // question box. question is the box's text.
  void SetReleaseConfirmer(std::function<bool(QWidget*, const QString& question)> confirmer);

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
  void ShowRow(int row);

  journal::Journal& journal_;
  std::function<QString(QWidget*)> chooseExportFile_;
  std::function<bool(QWidget*, const QString&)> confirmRelease_;
  QList<journal::NumberHolder> reservations_;
  QList<journal::CardRow> rows_;
  qint64 lastSeenId_ = -1;

  QLineEdit* searchEdit_;
  QCheckBox* dateRangeBox_;
  QDateEdit* fromDate_;
  QDateEdit* toDate_;
  QTableWidget* table_;
  QLabel* statusLabel_;
  QTableWidget* reservationTable_;
  QPushButton* releaseButton_;
  QPushButton* exportButton_;
  QPushButton* closeButton_;
  QTimer* pollTimer_;
};
