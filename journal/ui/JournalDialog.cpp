#include "journal/ui/JournalDialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <optional>

#include "journal/ui/JournalRows.h"

namespace {

const QString kFileErrorMessage = QStringLiteral("文件读写错误，请重试!");

const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
const QString kXlsxFilter = QStringLiteral("Excel 工作簿 (*.xlsx)");

QString ExportedMessage(qint64 rows, const QString& file) {
  return QStringLiteral("已导出 %1 条记录到 %2").arg(rows).arg(QDir::toNativeSeparators(file));
}

QString NotRegularFileMessage(const QString& file) {
  return QStringLiteral("%1 不是普通文件（可能是文件夹、设备、管道或链接），不能导出到这里。请另选文件名。")
      .arg(QDir::toNativeSeparators(file));
}

const QString kExportCancelled = QStringLiteral("已取消导出，没有写入文件。");

JournalDialog::ExportChoice AskForExportFile(QWidget* owner) {
  QFileDialog dialog(owner, QStringLiteral("导出"));
  dialog.setObjectName(QStringLiteral("ExportFileDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QStringList filters{kCsvFilter};
  if (journal::XlsxAvailable()) filters << kXlsxFilter;
  dialog.setNameFilters(filters);
  // The dialog adds the suffix itself, so that its question about replacing
  // a file asks about the file that will be written.
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter == kXlsxFilter ? QStringLiteral("xlsx") : QStringLiteral("csv"));
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return {dialog.selectedFiles().first(),
          dialog.selectedNameFilter() == kXlsxFilter ? journal::ExportFormat::xlsx : journal::ExportFormat::csv};
}

// The widest text a column of this role shows whole, if it has one.
QString WidestCell(journal::ColumnRole role) {
  switch (role) {
    case journal::ColumnRole::time: return QStringLiteral("0000-00-00 00:00:00");
    case journal::ColumnRole::track2: return QString(37, QLatin1Char('0'));
    // A track 3 of up to 104 characters is elided, its whole text in the tooltip.
    case journal::ColumnRole::track3: return QString(34, QLatin1Char('0'));
    case journal::ColumnRole::runKind: return journal::RunKindCaption(journal::RunKind::normal);
    case journal::ColumnRole::run: return QStringLiteral("第000000张");
    case journal::ColumnRole::station: return QStringLiteral("counter-00");
    case journal::ColumnRole::repeat: break;
  }
  return {};
}

// Columns wide enough for a whole time, a whole 37-digit track 2 and a
// station's name.
void SizeColumns(QTableWidget* table, const QList<journal::RowColumn>& columns) {
  const QFontMetrics metrics = table->fontMetrics();
  // The item's text margins on both sides and the grid line.
  const int margins = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 2;
  const auto fit = [&](const QString& text) { return metrics.horizontalAdvance(text) + margins; };
  for (int c = 0; c < columns.size(); ++c) {
    const int header = std::max(table->horizontalHeader()->sectionSizeHint(c), fit(columns[c].caption));
    table->setColumnWidth(c, std::max(header, fit(WidestCell(columns[c].role))));
  }
}

QTableWidget* CardTable(const QString& objectName, const QString& accessibleName,
                        const QList<journal::RowColumn>& columns, QWidget* parent) {
  const QStringList captions = journal::Captions(columns);
  auto* table = new QTableWidget(parent);
  table->setObjectName(objectName);
  table->setAccessibleName(accessibleName);
  table->setColumnCount(static_cast<int>(captions.size()));
  table->setHorizontalHeaderLabels(captions);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setTextElideMode(Qt::ElideRight);
  table->setWordWrap(false);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  SizeColumns(table, columns);
  return table;
}

// A table cell with the whole text as its tooltip, for when the column elides it.
QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setToolTip(text);
  return item;
}

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

// A new last tab named title; its page's layout comes back to be filled.
QVBoxLayout* TabPage(QTabWidget* tabs, const QString& objectName, const QString& title) {
  auto* page = new QWidget(tabs);
  page->setObjectName(objectName);
  page->setAccessibleName(title);
  tabs->addTab(page, title);
  return new QVBoxLayout(page);
}

// An export's pages, each read where the journal lives.
class RowsOnJournalThread : public journal::RowSource {
 public:
  RowsOnJournalThread(std::unique_ptr<journal::RowSource> rows, std::function<void(const std::function<void()>&)> run)
      : rows_(std::move(rows)), run_(std::move(run)) {}
  QList<journal::ExportColumn> Columns() const override { return rows_->Columns(); }
  QString Name() const override { return rows_->Name(); }
  qint64 Total() override {
    qint64 total = 0;
    run_([&] { total = rows_->Total(); });
    return total;
  }
  QList<QStringList> NextPage() override {
    QList<QStringList> page;
    run_([&] { page = rows_->NextPage(); });
    return page;
  }

 private:
  std::unique_ptr<journal::RowSource> rows_;
  std::function<void(const std::function<void()>&)> run_;
};

}  // namespace

JournalDialog::JournalDialog(journal::Journal& journal, QWidget* parent, OnJournalThread onJournalThread)
    : QDialog(parent),
      journal_(journal),
      onJournalThread_(std::move(onJournalThread)),
      prompts_{AskForExportFile,
               [](QWidget* owner, const QString& text) {
                 QMessageBox::information(owner, journal::WrittenCardsTitle(), text);
               },
               [](QWidget* owner, const QString& question) {
                 return QMessageBox::question(owner, journal::WrittenCardsTitle(), question,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
               }},
      searchEdit_(new QLineEdit(this)),
      dateRangeBox_(new QCheckBox(QStringLiteral("按日期"), this)),
      fromDate_(new QDateEdit(QDate::currentDate(), this)),
      toDate_(new QDateEdit(QDate::currentDate(), this)),
      tabs_(new QTabWidget(this)),
      table_(CardTable(QStringLiteral("JournalTable"), journal::WrittenCardsTitle(), journal::CardColumns(), this)),
      readTable_(
          CardTable(QStringLiteral("ReadCardTable"), journal::ReadCardsTitle(), journal::ReadCardColumns(), this)),
      statusLabel_(new QLabel(this)),
      reservationTable_(new QTableWidget(this)),
      releaseButton_(new QPushButton(kReleaseCaption, this)),
      exportButton_(new QPushButton(QStringLiteral("导出"), this)),
      closeButton_(new QPushButton(QStringLiteral("关闭"), this)),
      pollTimer_(new QTimer(this)) {
  setObjectName(QStringLiteral("JournalDialog"));
  setWindowTitle(journal::WrittenCardsTitle());
  setAccessibleName(journal::WrittenCardsTitle());
  setModal(false);
  resize(1000, 560);

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

  tabs_->setObjectName(QStringLiteral("RecordTabs"));
  tabs_->setAccessibleName(QStringLiteral("记录"));
  QVBoxLayout* writtenPage = TabPage(tabs_, QStringLiteral("WrittenCardsPage"), journal::WrittenCardsTitle());
  writtenPage->addWidget(table_, 1);
  writtenPage->addLayout(reservations);
  writtenPage->addWidget(reservationTable_);
  TabPage(tabs_, QStringLiteral("ReadCardsPage"), journal::ReadCardsTitle())->addWidget(readTable_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(tabs_, 1);
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
  for (int c = 0; c < cells.size(); ++c) table_->setItem(row, c, Cell(cells[c]));
}

void JournalDialog::WithJournal(const std::function<void()>& job) {
  if (onJournalThread_.run) {
    onJournalThread_.run(job);
  } else {
    job();
  }
}

void JournalDialog::Refresh() {
  if (!Reload(rows_, lastSeenId_, &journal::Journal::LastCardId, &journal::Journal::Cards)) return;
  statusLabel_->clear();
  table_->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < rows_.size(); ++r) ShowRow(r);
  RefreshReadCards();
}

void JournalDialog::RefreshReadCards() {
  if (!Reload(readRows_, lastReadId_, &journal::Journal::LastReadCardId, &journal::Journal::ReadCards)) return;
  readTable_->setRowCount(static_cast<int>(readRows_.size()));
  for (int r = 0; r < readRows_.size(); ++r) {
    const QStringList cells = journal::ReadCardRowCells(readRows_[r]);
    for (int c = 0; c < cells.size(); ++c) readTable_->setItem(r, c, Cell(cells[c]));
  }
}

template <typename Row>
bool JournalDialog::Reload(QList<Row>& shown, qint64& lastId, qint64 (journal::Journal::*newestId)(),
                           QList<Row> (journal::Journal::*read)(const journal::CardQuery&)) {
  try {
    // The id bound makes the next look for new rows start exactly where this
    // ends; an empty journal has none (0 would mean no bound).
    journal::CardQuery query = Query();
    // Read into locals: the dialog's members are the main thread's.
    QList<Row> rows;
    journal::Journal& journal = journal_;
    WithJournal([&journal, &query, &rows, newestId, read] {
      query.upToId = (journal.*newestId)();
      if (query.upToId > 0) rows = (journal.*read)(query);
    });
    shown = std::move(rows);
    lastId = query.upToId;
    return true;
  } catch (const journal::JournalError& e) {
    // The table keeps what it showed; the reason is shown beside the buttons.
    statusLabel_->setText(QString::fromUtf8(e.what()));
    return false;
  }
}

void JournalDialog::FollowReadCards() {
  try {
    qint64 last = 0;
    WithJournal([&] { last = journal_.LastReadCardId(); });
    if (last == lastReadId_) return;
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
    return;
  }
  RefreshReadCards();
}

void JournalDialog::AddNewCards() {
  journal::CardQuery query = Query();
  query.afterId = lastSeenId_;
  QList<journal::CardRow> added;
  try {
    WithJournal([&] {
      query.upToId = journal_.LastCardId();
      if (query.upToId != lastSeenId_) added = journal_.Cards(query);
    });
    if (query.upToId == lastSeenId_) return;
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
  // Left to the next poll while the owner's call waits.
  if (onJournalThread_.busy && onJournalThread_.busy()) return;
  AddNewCards();
  FollowReadCards();
  ShowReservations();
}

void JournalDialog::PollForChange() {
  // A server away is tried again by the next write, not by every poll: a
  // connection attempt holds the window until it gives up.
  if (!isVisible() || (onJournalThread_.busy && onJournalThread_.busy())) return;
  bool connected = false;
  WithJournal([&] { connected = journal_.Connected(); });
  if (connected) FollowJournal();
}

void JournalDialog::ShowReservations() {
  try {
    QList<journal::NumberHolder> reservations;
    WithJournal([&] { reservations = journal_.OpenReservations(); });
    reservations_ = std::move(reservations);
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
  if (!prompts_.confirmRelease(this, ReleaseQuestion(holder.number))) return;
  try {
    WithJournal([&] { journal_.Release(holder.number); });
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
  }
  ShowReservations();
}

void JournalDialog::Export() {
  const ExportChoice choice = prompts_.chooseExportFile(this);
  if (choice.file.isEmpty()) return;
  const QString file = journal::WithFormatSuffix(choice.file, choice.format);
  const journal::ExportFormat format = journal::FormatOfPath(file, choice.format);

  journal::CardQuery query = Query();
  std::unique_ptr<journal::RowSource> source;
  try {
    WithJournal([&] {
      source = tabs_->currentIndex() == 1 ? journal::ReadCardRows(journal_, query)
                                          : journal::WrittenCardRows(journal_, query);
    });
    if (onJournalThread_.run) source = std::make_unique<RowsOnJournalThread>(std::move(source), onJournalThread_.run);
  } catch (const journal::JournalError& e) {
    statusLabel_->setText(QString::fromUtf8(e.what()));
    prompts_.showMessage(this, kFileErrorMessage);
    return;
  }

  // Window-modal: while it runs, the progress dialog's own event processing
  // keeps the window drawn, and nothing else can start an export.
  QProgressDialog progress(QStringLiteral("正在导出……"), QStringLiteral("取消"), 0, 0, this);
  progress.setObjectName(QStringLiteral("ExportProgress"));
  progress.setWindowTitle(journal::WrittenCardsTitle());
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(progressDelayMs_);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  const auto report = [&progress](qint64 done, qint64 total) {
    progress.setMaximum(static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max())));
    progress.setValue(static_cast<int>(std::min<qint64>(done, progress.maximum())));
    return !progress.wasCanceled();
  };
  const journal::ExportResult result = journal::ExportRecords(*source, format, file, report);
  progress.close();

  switch (result.status) {
    case journal::ExportResult::Status::written: statusLabel_->setText(ExportedMessage(result.rows, file)); break;
    case journal::ExportResult::Status::cancelled: statusLabel_->setText(kExportCancelled); break;
    case journal::ExportResult::Status::notRegularFile:
      statusLabel_->clear();
      prompts_.showMessage(this, NotRegularFileMessage(file));
      break;
    case journal::ExportResult::Status::failed:
      statusLabel_->clear();
      prompts_.showMessage(this, kFileErrorMessage);
      break;
  }
}
