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

 public slots:
  void Refresh();

 private:
  void PollForChange();
  void Export();
  // Puts the cards recorded since the newest one shown on top of the table, so
  // that a card written while the dialog is open costs one small query.
  void AddNewCards();
  journal::CardQuery Query() const;
  void ShowRow(int row);

  journal::Journal& journal_;
  std::function<QString(QWidget*)> chooseExportFile_;
  QList<journal::CardRow> rows_;
  qint64 lastSeenId_ = -1;

  QLineEdit* searchEdit_;
  QCheckBox* dateRangeBox_;
  QDateEdit* fromDate_;
  QDateEdit* toDate_;
  QTableWidget* table_;
  QLabel* statusLabel_;
  QPushButton* exportButton_;
  QPushButton* closeButton_;
  QTimer* pollTimer_;
};
