#include "journal/ui/JournalDialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("写卡记录");
const QString kFileErrorMessage = QStringLiteral("文件读写错误，请重试!");

// Cards written by other stations show up within this time.
constexpr int kPollMs = 2000;

// A label for a field; the field takes the label's words as its accessible name.
QLabel* FieldLabel(const QString& caption, const QString& objectName, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(objectName);
  label->setBuddy(field);
  label->setAccessibleName(caption);
  field->setAccessibleName(caption);
  return label;
}

}  // namespace

JournalDialog::JournalDialog(journal::Journal& journal, QWidget* parent)
    : QDialog(parent),
      journal_(journal),
      chooseExportFile_([](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QString(), QString(), QStringLiteral("CSV (*.csv)"));
      }),
      searchEdit_(new QLineEdit(this)),
      dateRangeBox_(new QCheckBox(QStringLiteral("按日期"), this)),
      fromDate_(new QDateEdit(QDate::currentDate(), this)),
      toDate_(new QDateEdit(QDate::currentDate(), this)),
      table_(new QTableWidget(this)),
      statusLabel_(new QLabel(this)),
      exportButton_(new QPushButton(QStringLiteral("导出"), this)),
      closeButton_(new QPushButton(QStringLiteral("关闭"), this)),
      pollTimer_(new QTimer(this)) {
  setObjectName(QStringLiteral("JournalDialog"));
  setWindowTitle(kTitle);
  setAccessibleName(kTitle);
  setModal(false);
  resize(760, 480);

  searchEdit_->setObjectName(QStringLiteral("SearchEdit"));
  dateRangeBox_->setObjectName(QStringLiteral("DateRangeCheckBox"));
  dateRangeBox_->setAccessibleName(dateRangeBox_->text());
  fromDate_->setObjectName(QStringLiteral("FromDateEdit"));
  toDate_->setObjectName(QStringLiteral("ToDateEdit"));
  for (QDateEdit* edit : {fromDate_, toDate_}) {
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
  }
  statusLabel_->setObjectName(QStringLiteral("StatusLabel"));
  exportButton_->setObjectName(QStringLiteral("ExportButton"));
  exportButton_->setAccessibleName(exportButton_->text());
  closeButton_->setObjectName(QStringLiteral("CloseButton"));
  closeButton_->setAccessibleName(closeButton_->text());

  table_->setObjectName(QStringLiteral("JournalTable"));
  table_->setAccessibleName(kTitle);
  table_->setColumnCount(static_cast<int>(journal::CardColumnCaptions().size()));
  table_->setHorizontalHeaderLabels(journal::CardColumnCaptions());
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);

  auto* filters = new QHBoxLayout;
  filters->addWidget(FieldLabel(QStringLiteral("查找"), QStringLiteral("SearchLabel"), searchEdit_, this));
  filters->addWidget(searchEdit_, 1);
  filters->addWidget(dateRangeBox_);
  filters->addWidget(FieldLabel(QStringLiteral("从"), QStringLiteral("FromDateLabel"), fromDate_, this));
  filters->addWidget(fromDate_);
  filters->addWidget(FieldLabel(QStringLiteral("到"), QStringLiteral("ToDateLabel"), toDate_, this));
  filters->addWidget(toDate_);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(statusLabel_, 1);
  buttons->addWidget(exportButton_);
  buttons->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);

  connect(searchEdit_, &QLineEdit::textChanged, this, &JournalDialog::Refresh);
  connect(dateRangeBox_, &QCheckBox::toggled, this, [this](bool on) {
    fromDate_->setEnabled(on);
    toDate_->setEnabled(on);
    Refresh();
  });
  connect(fromDate_, &QDateEdit::dateChanged, this, &JournalDialog::Refresh);
  connect(toDate_, &QDateEdit::dateChanged, this, &JournalDialog::Refresh);
  connect(exportButton_, &QPushButton::clicked, this, &JournalDialog::Export);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::close);
  // Queued: the table is brought up to date after the reply that recorded the
  // card has been handled, never inside it.
  connect(&journal_, &journal::Journal::changed, this, &JournalDialog::AddNewCards, Qt::QueuedConnection);
  connect(pollTimer_, &QTimer::timeout, this, &JournalDialog::PollForChange);
  pollTimer_->start(kPollMs);

  Refresh();
}

void JournalDialog::SetExportFileChooser(std::function<QString(QWidget*)> chooser) {
  chooseExportFile_ = std::move(chooser);
}

journal::CardQuery JournalDialog::Query() const {
  journal::CardQuery query;
  query.text = searchEdit_->text().trimmed();
  if (dateRangeBox_->isChecked()) {
    query.from = fromDate_->date();
    query.to = toDate_->date();
  }
  return query;
}

void JournalDialog::ShowRow(int row) {
  const QStringList cells = journal::CardRowCells(rows_[row]);
  for (int c = 0; c < cells.size(); ++c) table_->setItem(row, c, new QTableWidgetItem(cells[c]));
}

void JournalDialog::Refresh() {
  try {
    // The id bound makes the next AddNewCards start exactly where this ends.
    journal::CardQuery query = Query();
    query.upToId = journal_.LastCardId();
    rows_ = journal_.Cards(query);
    lastSeenId_ = query.upToId;
    statusLabel_->clear();
  } catch (const journal::JournalError& e) {
    // The table keeps what it showed; the reason is shown beside the buttons.
    statusLabel_->setText(QString::fromUtf8(e.what()));
    return;
  }
  table_->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < rows_.size(); ++r) ShowRow(r);
}

void JournalDialog::AddNewCards() {
  journal::CardQuery query = Query();
  query.afterId = lastSeenId_;
  QList<journal::CardRow> added;
  try {
    query.upToId = journal_.LastCardId();
    if (query.upToId == lastSeenId_) return;
    added = journal_.Cards(query);
    lastSeenId_ = query.upToId;
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
    return;
  }
  if (added.isEmpty()) return;
  const int count = static_cast<int>(added.size());
  rows_ = added + rows_;
  for (int r = 0; r < count; ++r) table_->insertRow(0);
  for (int r = 0; r < count; ++r) ShowRow(r);
  if (rows_.size() > query.limit) {
    rows_.resize(query.limit);
    table_->setRowCount(query.limit);
  }
}

void JournalDialog::PollForChange() {
  if (isVisible()) AddNewCards();
}

bool JournalDialog::ExportTo(const QString& file) {
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = journal::ExportCsv(rows_);
  if (out.write(bytes) != bytes.size()) return false;
  return out.commit();
}

void JournalDialog::Export() {
  const QString file = chooseExportFile_(this);
  if (file.isEmpty()) return;
  if (!ExportTo(file)) QMessageBox::information(this, windowTitle(), kFileErrorMessage);
}
