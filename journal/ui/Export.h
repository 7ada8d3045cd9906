#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

#include "journal/Journal.h"
#include "journal/ui/Csv.h"

// Exports of the journal's cards to a file: a row source pages the rows out of
// the journal, a writer puts them into one file format, and ExportRecords
// joins the two so that no export ever holds more than a page in memory or
// leaves a partial file behind.
namespace journal {

enum class ExportFormat { csv, xlsx };

// Whether this build can write .xlsx workbooks.
bool XlsxAvailable();

// The file name with the format's suffix added when it has none.
QString WithFormatSuffix(const QString& path, ExportFormat format);

// The format a file name asks for by its suffix; fallback when it names none
// that is known.
ExportFormat FormatOfPath(const QString& path, ExportFormat fallback);

enum class CellKind { text, localTime };

struct ExportColumn {
  QString caption;
  CellKind kind = CellKind::text;
  double width = 12;  // in characters, for formats that set column widths
};

// A writer failed to write; what() says why, for the record only.
class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One file format. Begin once, Row for every row in order, Finish once; each
// throws ExportError when the file cannot be written.
class ExportWriter {
 public:
  virtual ~ExportWriter() = default;
  virtual void Begin(const QList<ExportColumn>& columns) = 0;
  virtual void Row(const QStringList& cells) = 0;
  // Everything has reached the file, which is closed.
  virtual void Finish() = 0;
};

// A writer into the file at path, which exists and is this export's own.
std::unique_ptr<ExportWriter> MakeExportWriter(ExportFormat format, const QString& path, const QString& sheetName);

// The rows of one export, newest first, a page at a time. The rows are fixed
// when the source is made: cards recorded later are not exported.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual QList<ExportColumn> Columns() const = 0;
  virtual QString Name() const = 0;
  // How many rows the pages hold in all.
  virtual qint64 Total() = 0;
  // The next page; empty when every row has been given. Throws JournalError.
  virtual QList<QStringList> NextPage() = 0;
};

inline constexpr int kExportPageRows = 2000;

// The written cards matching query (its limit aside) and the read cards.
std::unique_ptr<RowSource> WrittenCardRows(Journal& journal, CardQuery query, int pageRows = kExportPageRows);
std::unique_ptr<RowSource> ReadCardRows(Journal& journal, CardQuery query, int pageRows = kExportPageRows);

struct ExportResult {
  enum class Status {
    written,
    cancelled,
    notRegularFile,  // the target is a folder, a device, a FIFO or a link
    failed,          // a file or the journal could not be read or written
  };
  Status status = Status::failed;
  qint64 rows = 0;
  QString reason;  // failed: the cause, for the record
};

// Called after each page with the rows written so far; false cancels.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes every row of source to path: into a new file beside the target,
// renamed over it only when complete. A target that exists must be a regular
// file and not a link. Whatever ends the export early leaves the target as it
// was and no other file behind. A replaced file keeps its permissions; a new
// one is readable by its owner only.
ExportResult ExportRecords(RowSource& source, ExportFormat format, const QString& path,
                           const ExportProgress& progress = {});

}  // namespace journal
