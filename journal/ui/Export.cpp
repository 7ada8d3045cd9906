#include "journal/ui/Export.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "journal/ui/JournalRows.h"

namespace journal {
namespace {

const QString kCsvSuffix = QStringLiteral("csv");
const QString kXlsxSuffix = QStringLiteral("xlsx");

QString SuffixOf(ExportFormat format) { return format == ExportFormat::xlsx ? kXlsxSuffix : kCsvSuffix; }

// Wide enough for "2026-12-07 08:05:03", a 37-character track 2 and most of
// a 104-character track 3.
QList<ExportColumn> ColumnsOf(const QList<RowColumn>& rows) {
  QList<ExportColumn> columns;
  for (const RowColumn& row : rows) {
    ExportColumn column{row.caption, CellKind::text, 12};
    switch (row.role) {
      case ColumnRole::time:
        column.kind = CellKind::localTime;
        column.width = 20;
        break;
      case ColumnRole::track2: column.width = 40; break;
      case ColumnRole::track3: column.width = 60; break;
      default: break;
    }
    columns.append(column);
  }
  return columns;
}

class CsvWriter : public ExportWriter {
 public:
  explicit CsvWriter(const QString& path) : file_(path) {
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) Fail();
  }

  void Begin(const QList<ExportColumn>& columns) override {
    Write(kUtf8ByteOrderMark);
    QStringList captions;
    for (const ExportColumn& column : columns) captions << column.caption;
    Row(captions);
  }

  void Row(const QStringList& cells) override { Write(CsvLine(cells)); }

  void Finish() override {
    if (!file_.flush()) Fail();
    file_.close();
    if (file_.error() != QFileDevice::NoError) Fail();
  }

 private:
  void Write(const QByteArray& bytes) {
    if (file_.write(bytes) != bytes.size()) Fail();
  }
  [[noreturn]] void Fail() { throw ExportError(file_.errorString().toStdString()); }

  QFile file_;
};

// Pages through a table newest first, from the newest row there was when the
// source was made.
class PagedRows : public RowSource {
 public:
  struct Page {
    QList<QStringList> rows;
    qint64 lastId = 0;  // the oldest row's id
  };
  using Fetch = std::function<Page(const CardQuery&)>;
  using Count = std::function<qint64(const CardQuery&)>;

  PagedRows(QString name, QList<ExportColumn> columns, CardQuery query, qint64 newestId, int pageRows, Fetch fetch,
            Count count)
      : name_(std::move(name)),
        columns_(std::move(columns)),
        query_(std::move(query)),
        fetch_(std::move(fetch)),
        count_(std::move(count)) {
    if (query_.upToId <= 0 || query_.upToId > newestId) query_.upToId = newestId;
    // An empty table: an id bound of 0 would mean no bound at all.
    done_ = query_.upToId <= 0;
    query_.limit = pageRows;
  }

  QList<ExportColumn> Columns() const override { return columns_; }
  QString Name() const override { return name_; }
  qint64 Total() override { return done_ ? 0 : count_(query_); }

  QList<QStringList> NextPage() override {
    if (done_) return {};
    Page page = fetch_(query_);
    if (page.rows.size() < query_.limit || page.lastId <= 1) done_ = true;
    query_.upToId = page.lastId - 1;
    return std::move(page.rows);
  }

 private:
  QString name_;
  QList<ExportColumn> columns_;
  CardQuery query_;
  Fetch fetch_;
  Count count_;
  bool done_ = false;
};

// A page of a table's rows as cells: rows fetches the journal's rows, cells
// turns one into its cells.
template <typename Row>
PagedRows::Fetch PageOf(std::function<QList<Row>(const CardQuery&)> rows, QStringList (*cells)(const Row&)) {
  return [rows = std::move(rows), cells](const CardQuery& query) {
    PagedRows::Page page;
    const QList<Row> found = rows(query);
    page.rows.reserve(found.size());
    for (const Row& row : found) page.rows.append(cells(row));
    if (!found.isEmpty()) page.lastId = found.last().id;
    return page;
  };
}

// The file at path, as std::filesystem spells it on this system.
std::filesystem::path FsPath(const QString& path) { return QFileInfo(path).filesystemAbsoluteFilePath(); }

ExportResult Failed(const QString& reason) { return {ExportResult::Status::failed, 0, reason}; }

bool IsRegularOrAbsent(const QString& path) {
  const QFileInfo target(path);
  // isFile follows a link: ask about the link first. A dangling link does
  // not exist, but is still a link.
  return !target.isSymLink() && (!target.exists() || target.isFile());
}

}  // namespace

QString WithFormatSuffix(const QString& path, ExportFormat format) {
  if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
  // "name." has an empty suffix too; it takes the suffix without a second dot.
  return path + (path.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + SuffixOf(format);
}

ExportFormat FormatOfPath(const QString& path, ExportFormat fallback) {
  const QString suffix = QFileInfo(path).suffix();
  if (suffix.compare(kXlsxSuffix, Qt::CaseInsensitive) == 0) return ExportFormat::xlsx;
  if (suffix.compare(kCsvSuffix, Qt::CaseInsensitive) == 0) return ExportFormat::csv;
  return fallback;
}

std::unique_ptr<ExportWriter> MakeCsvWriter(const QString& path) { return std::make_unique<CsvWriter>(path); }

// In the writer file this build chooses (export_xlsx*.cpp).
std::unique_ptr<ExportWriter> MakeXlsxWriter(const QString& path, const QString& sheetName);

std::unique_ptr<ExportWriter> MakeExportWriter(ExportFormat format, const QString& path, const QString& sheetName) {
  if (format == ExportFormat::xlsx) return MakeXlsxWriter(path, sheetName);
  return MakeCsvWriter(path);
}

std::unique_ptr<RowSource> WrittenCardRows(Journal& journal, CardQuery query, int pageRows) {
  return std::make_unique<PagedRows>(
      WrittenCardsTitle(), ColumnsOf(CardColumns()), std::move(query), journal.LastCardId(), pageRows,
      PageOf<CardRow>([&journal](const CardQuery& page) { return journal.Cards(page); }, CardRowCells),
      [&journal](const CardQuery& all) { return journal.CountCards(all); });
}

std::unique_ptr<RowSource> ReadCardRows(Journal& journal, CardQuery query, int pageRows) {
  return std::make_unique<PagedRows>(
      ReadCardsTitle(), ColumnsOf(ReadCardColumns()), std::move(query), journal.LastReadCardId(), pageRows,
      PageOf<ReadCardRow>([&journal](const CardQuery& page) { return journal.ReadCards(page); }, ReadCardRowCells),
      [&journal](const CardQuery& all) { return journal.CountReadCards(all); });
}

ExportResult ExportRecords(RowSource& source, ExportFormat format, const QString& path,
                           const ExportProgress& progress) {
  if (!IsRegularOrAbsent(path)) return {ExportResult::Status::notRegularFile, 0, {}};
  const QFileInfo target(path);
  // Beside the target, so that the rename stays on one file system; created
  // readable by its owner only, and removed unless renamed.
  QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
  if (!temp.open()) return Failed(temp.errorString());
  if (target.exists()) temp.setPermissions(QFile::permissions(path));
  temp.close();

  qint64 done = 0;
  try {
    const std::unique_ptr<ExportWriter> writer = MakeExportWriter(format, temp.fileName(), source.Name());
    writer->Begin(source.Columns());
    const qint64 total = source.Total();
    if (progress && !progress(0, total)) return {ExportResult::Status::cancelled, 0, {}};
    for (QList<QStringList> page = source.NextPage(); !page.isEmpty(); page = source.NextPage()) {
      for (const QStringList& cells : page) writer->Row(cells);
      done += page.size();
      if (progress && !progress(done, std::max(total, done))) return {ExportResult::Status::cancelled, done, {}};
    }
    writer->Finish();
  } catch (const ExportError& e) {
    return Failed(QString::fromStdString(e.what()));
  } catch (const JournalError& e) {
    return Failed(QString::fromStdString(e.what()));
  }

  // A link or a FIFO put there meanwhile is refused too; the rename itself
  // replaces the name and never writes through what it names.
  if (!IsRegularOrAbsent(path)) return {ExportResult::Status::notRegularFile, done, {}};
  std::error_code error;
  std::filesystem::rename(FsPath(temp.fileName()), FsPath(path), error);
  if (error) return Failed(QString::fromStdString(error.message()));
  temp.setAutoRemove(false);
  return {ExportResult::Status::written, done, {}};
}

}  // namespace journal
