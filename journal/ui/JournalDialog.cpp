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
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <optional>

namespace {

const QString kTitle = QStringLiteral("写卡记录");
const QString kFileErrorMessage = QStringLiteral("文件读写错误，请重试!");

const QString kReservationsCaption = QStringLiteral("未确认卡号");
const QString kReleaseCaption = QStringLiteral("释放");

QString ReleaseQuestion(const journal::CardNumber& number) {
  return QStringLiteral("卡号 %1（磁道%2）的写卡结果未确认，释放后其他工作站可以再写这个卡号。确定释放吗？")
      .arg(QString::fromLatin1(number.text.data(), static_cast<qsizetype>(number.text.size())))
      .arg(number.track);
}

// An unconfirmed number carries why its run ended undecided: "未确认（超时）".
QString StateCaption(const journal::NumberHolder& holder) {
  if (holder.state != journal::NumberState::unconfirmed) return QStringLiteral("写卡中");
  return QStringLiteral("未确认（%1）").arg(journal::UnconfirmedReasonCaption(holder.reason));
}

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
      confirmRelease_([](QWidget* owner, const QString& question) {
        return QMessageBox::question(owner, kTitle, question, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
      }),
      searchEdit_(new QLineEdit(this)),
      dateRangeBox_(new QCheckBox(QStringLiteral("按日期"), this)),
      fromDate_(new QDateEdit(QDate::currentDate(), this)),
      toDate_(new QDateEdit(QDate::currentDate(), this)),
      table_(new QTableWidget(this)),
      statusLabel_(new QLabel(this)),
      reservationTable_(new QTableWidget(this)),
      releaseButton_(new QPushButton(kReleaseCaption, this)),
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

  reservationTable_->setObjectName(QStringLiteral("ReservationTable"));
  reservationTable_->setColumnCount(5);
  reservationTable_->setHorizontalHeaderLabels({QStringLiteral("磁道"), QStringLiteral("卡号"), QStringLiteral("状态"),
                                                QStringLiteral("工作站"), QStringLiteral("时间")});
  reservationTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  reservationTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  reservationTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  reservationTable_->verticalHeader()->hide();
  reservationTable_->horizontalHeader()->setStretchLastSection(true);
  reservationTable_->setMaximumHeight(140);
  releaseButton_->setObjectName(QStringLiteral("ReleaseButton"));
  releaseButton_->setAccessibleName(kReleaseCaption);
  releaseButton_->setEnabled(false);

  auto* reservations = new QHBoxLayout;
  reservations->addWidget(
      FieldLabel(kReservationsCaption, QStringLiteral("ReservationLabel"), reservationTable_, this));
  reservations->addStretch(1);
  reservations->addWidget(releaseButton_);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(statusLabel_, 1);
  buttons->addWidget(exportButton_);
  buttons->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(table_, 1);
  layout->addLayout(reservations);
  layout->addWidget(reservationTable_);
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
  connect(releaseButton_, &QPushButton::clicked, this, &JournalDialog::ReleaseSelected);
  connect(reservationTable_, &QTableWidget::itemSelectionChanged, this, &JournalDialog::UpdateReleaseButton);
  // Queued: the table is brought up to date after the reply that recorded the
  // card has been handled, never inside it.
  connect(&journal_, &journal::Journal::changed, this, &JournalDialog::FollowJournal, Qt::QueuedConnection);
  connect(pollTimer_, &QTimer::timeout, this, &JournalDialog::PollForChange);
  pollTimer_->start(kPollMs);

  Refresh();
  ShowReservations();
}

void JournalDialog::SetReleaseConfirmer(std::function<bool(QWidget*, const QString&)> confirmer) {
  confirmRelease_ = std::move(confirmer);
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

void JournalDialog::FollowJournal() {
  AddNewCards();
  ShowReservations();
}

void JournalDialog::PollForChange() {
  // A server away is tried again by the next write, not by every poll: a
  // connection attempt holds the window until it gives up.
  if (isVisible() && journal_.Connected()) FollowJournal();
}

void JournalDialog::ShowReservations() {
  try {
    reservations_ = journal_.OpenReservations();
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
    return;
  }
  // The selection follows its number, not its row.
  const int selected = reservationTable_->currentRow();
  std::optional<journal::CardNumber> kept;
  if (selected >= 0 && selected < reservationTable_->rowCount()) {
    kept = journal::CardNumber{reservationTable_->item(selected, 0)->text().toInt(),
                               reservationTable_->item(selected, 1)->text().toStdString()};
  }
  const QSignalBlocker blocker(reservationTable_);
  reservationTable_->clearSelection();
  reservationTable_->setRowCount(static_cast<int>(reservations_.size()));
  for (int r = 0; r < reservations_.size(); ++r) {
    const journal::NumberHolder& holder = reservations_[r];
    const QStringList cells = {
        QString::number(holder.number.track),
        QString::fromLatin1(holder.number.text.data(), static_cast<qsizetype>(holder.number.text.size())),
        StateCaption(holder), holder.station, holder.localTime};
    for (int c = 0; c < cells.size(); ++c) reservationTable_->setItem(r, c, new QTableWidgetItem(cells[c]));
    if (kept && holder.number == *kept) reservationTable_->selectRow(r);
  }
  // The state with its reason is the widest cell; it is read whole.
  reservationTable_->resizeColumnToContents(2);
  UpdateReleaseButton();
}

void JournalDialog::UpdateReleaseButton() {
  const int row = reservationTable_->selectionModel()->selectedRows().isEmpty()
                      ? -1
                      : reservationTable_->selectionModel()->selectedRows().first().row();
  releaseButton_->setEnabled(row >= 0 && row < reservations_.size() &&
                             reservations_[row].state == journal::NumberState::unconfirmed);
}

void JournalDialog::ReleaseSelected() {
  const QModelIndexList rows = reservationTable_->selectionModel()->selectedRows();
  if (rows.isEmpty() || rows.first().row() >= reservations_.size()) return;
  const journal::NumberHolder holder = reservations_[rows.first().row()];
  if (holder.state != journal::NumberState::unconfirmed) return;
  if (!confirmRelease_(this, ReleaseQuestion(holder.number))) return;
  try {
    journal_.Release(holder.number);
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
  }
  ShowReservations();
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
