// The .xlsx writer over libxlsxwriter, in its constant-memory mode: each row
// goes to a temporary file as it is written, so a million rows cost no more
// memory than ten. The library is loaded at the first .xlsx export, not at
// every start of the program.
#include <QFile>
#include <QLibrary>

#include <xlsxwriter.h>

#include <optional>
#include <utility>

#include "journal/LoadedOnUse.h"
#include "journal/ui/Export.h"

namespace journal {
namespace {

// The library's calls the writer makes.
struct LibXlsx {
  decltype(&::workbook_new_opt) workbookNew = nullptr;
  decltype(&::workbook_add_format) addFormat = nullptr;
  decltype(&::format_set_num_format) setNumFormat = nullptr;
  decltype(&::lxw_workbook_free) workbookFree = nullptr;
  decltype(&::workbook_close) workbookClose = nullptr;
  decltype(&::workbook_add_worksheet) addWorksheet = nullptr;
  decltype(&::worksheet_set_column) setColumn = nullptr;
  decltype(&::worksheet_write_string) writeString = nullptr;
  decltype(&::worksheet_write_datetime) writeDatetime = nullptr;
  decltype(&::lxw_strerror) strerror = nullptr;
};

std::optional<LibXlsx> LoadXlsx() {
  // Stays loaded for the rest of the run: QLibrary unloads only when asked.
  QLibrary library(QStringLiteral("xlsxwriter"), 4);
  LibXlsx x;
  if (!Resolve(library, "workbook_new_opt", x.workbookNew) || !Resolve(library, "workbook_add_format", x.addFormat) ||
      !Resolve(library, "format_set_num_format", x.setNumFormat) ||
      !Resolve(library, "lxw_workbook_free", x.workbookFree) || !Resolve(library, "workbook_close", x.workbookClose) ||
      !Resolve(library, "workbook_add_worksheet", x.addWorksheet) ||
      !Resolve(library, "worksheet_set_column", x.setColumn) ||
      !Resolve(library, "worksheet_write_string", x.writeString) ||
      !Resolve(library, "worksheet_write_datetime", x.writeDatetime) || !Resolve(library, "lxw_strerror", x.strerror)) {
    return std::nullopt;
  }
  return x;
}

// Null when the library is not installed.
const LibXlsx* Xlsx() { return LoadedOnce<LibXlsx, LoadXlsx>(); }

// Reads "yyyy-MM-dd HH:mm:ss"; false for any other text.
bool ParseLocalTime(const QString& text, lxw_datetime& when) {
  if (text.size() != 19) return false;
  const auto number = [&text](int from, int length, int& value) {
    value = 0;
    for (int i = from; i < from + length; ++i) {
      const QChar c = text[i];
      if (!c.isDigit() || c.unicode() > '9') return false;
      value = value * 10 + (c.unicode() - '0');
    }
    return true;
  };
  int second = 0;
  const bool digits = number(0, 4, when.year) && number(5, 2, when.month) && number(8, 2, when.day) &&
                      number(11, 2, when.hour) && number(14, 2, when.min) && number(17, 2, second);
  when.sec = second;
  return digits && text[4] == QLatin1Char('-') && text[7] == QLatin1Char('-') && text[10] == QLatin1Char(' ') &&
         text[13] == QLatin1Char(':') && text[16] == QLatin1Char(':') && when.year >= 1900 && when.month >= 1 &&
         when.month <= 12 && when.day >= 1 && when.day <= 31 && when.hour <= 23 && when.min <= 59 && second <= 59;
}

class XlsxWriter : public ExportWriter {
 public:
  XlsxWriter(const QString& path, const QString& sheetName) : x_(*Xlsx()), sheetName_(sheetName) {
    const QByteArray file = QFile::encodeName(path);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    book_ = x_.workbookNew(file.constData(), &options);
    if (book_ == nullptr) throw ExportError("Cannot start the workbook");
    timeFormat_ = x_.addFormat(book_);
    x_.setNumFormat(timeFormat_, "yyyy-mm-dd hh:mm:ss");
  }

  ~XlsxWriter() override {
    // Not finished: the file is dropped, so nothing needs to be written.
    if (book_ != nullptr) x_.workbookFree(book_);
  }

  XlsxWriter(const XlsxWriter&) = delete;
  XlsxWriter& operator=(const XlsxWriter&) = delete;

  void Begin(const QList<ExportColumn>& columns) override {
    columns_ = columns;
    NewSheet();
  }

  void Row(const QStringList& cells) override {
    // A sheet holds at most LXW_ROW_MAX rows, the captions' row among them.
    if (row_ >= LXW_ROW_MAX) NewSheet();
    for (int c = 0; c < cells.size() && c < columns_.size(); ++c) {
      lxw_datetime when{};
      if (columns_[c].kind == CellKind::localTime && ParseLocalTime(cells[c], when)) {
        Check(x_.writeDatetime(sheet_, static_cast<lxw_row_t>(row_), static_cast<lxw_col_t>(c), &when, timeFormat_));
      } else if (!cells[c].isEmpty()) {
        // Card numbers stay text: a leading zero is part of the number.
        WriteText(c, cells[c]);
      }
    }
    ++row_;
  }

  void Finish() override {
    lxw_workbook* book = std::exchange(book_, nullptr);
    Check(x_.workbookClose(book));
  }

 private:
  void NewSheet() {
    ++sheets_;
    const QString name = sheets_ == 1 ? sheetName_ : QStringLiteral("%1 %2").arg(sheetName_).arg(sheets_);
    const QByteArray utf8 = name.toUtf8();
    sheet_ = x_.addWorksheet(book_, utf8.constData());
    if (sheet_ == nullptr) throw ExportError("Cannot add a worksheet");
    row_ = 0;
    for (int c = 0; c < columns_.size(); ++c) {
      const auto column = static_cast<lxw_col_t>(c);
      Check(x_.setColumn(sheet_, column, column, columns_[c].width,
                         columns_[c].kind == CellKind::localTime ? timeFormat_ : nullptr));
      WriteText(c, columns_[c].caption);
    }
    ++row_;
  }

  void WriteText(int column, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    Check(x_.writeString(sheet_, static_cast<lxw_row_t>(row_), static_cast<lxw_col_t>(column), utf8.constData(),
                         nullptr));
  }

  void Check(lxw_error error) const {
    if (error != LXW_NO_ERROR) throw ExportError(x_.strerror(error));
  }

  const LibXlsx& x_;
  QString sheetName_;
  QList<ExportColumn> columns_;
  lxw_workbook* book_ = nullptr;
  lxw_format* timeFormat_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  qint64 row_ = 0;
  int sheets_ = 0;
};

}  // namespace

bool XlsxAvailable() { return Xlsx() != nullptr; }

std::unique_ptr<ExportWriter> MakeXlsxWriter(const QString& path, const QString& sheetName) {
  if (Xlsx() == nullptr) throw ExportError("The .xlsx library (libxlsxwriter.so.4) is not installed");
  return std::make_unique<XlsxWriter>(path, sheetName);
}

}  // namespace journal
