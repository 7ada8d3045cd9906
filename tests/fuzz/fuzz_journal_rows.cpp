// The journal's rows as the operator reads them back: the cells of written
// and read cards, and the CSV export of them.
// Invariants: a row has one cell per column; a track cell holds the track's
// bytes unchanged; the CSV parses back, strictly (a field that needs quotes
// has them), into the captions and the cells, a cell that starts like a
// formula with its apostrophe; the file grows at most linearly with the cells.
#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "journal/Journal.h"
#include "journal/ui/Csv.h"
#include "journal/ui/JournalRows.h"

namespace {

using Record = std::vector<std::string>;

// RFC 4180 with CR LF line ends; nullopt for anything else, an unquoted field
// holding a quote or a line end included.
std::optional<std::vector<Record>> ParseCsv(std::string_view text) {
  std::vector<Record> records;
  Record record;
  std::size_t at = 0;
  while (at < text.size()) {
    std::string field;
    if (text[at] == '"') {
      for (++at;; ++at) {
        if (at >= text.size()) return std::nullopt;
        if (text[at] == '"') {
          if (at + 1 < text.size() && text[at + 1] == '"') {
            field += '"';
            ++at;
            continue;
          }
          ++at;
          break;
        }
        field += text[at];
      }
    } else {
      while (at < text.size() && text[at] != ',' && text[at] != '\r') {
        if (text[at] == '"' || text[at] == '\n') return std::nullopt;
        field += text[at++];
      }
    }
    record.push_back(std::move(field));
    if (at < text.size() && text[at] == ',') {
      ++at;
      continue;
    }
    if (text.substr(at, 2) != "\r\n") return std::nullopt;
    at += 2;
    records.push_back(std::move(record));
    record.clear();
  }
  return records;
}

// A cell as a spreadsheet program reads it back from the file.
std::string AsRead(const QString& cell) {
  const bool formula = !cell.isEmpty() && QStringLiteral("=+-@").contains(cell.front());
  return (formula ? QStringLiteral("'") + cell : cell).toStdString();
}

std::vector<std::string> AsRead(const QStringList& cells) {
  std::vector<std::string> read;
  for (const QString& cell : cells) read.push_back(AsRead(cell));
  return read;
}

QString Text(FuzzedDataProvider& input) { return QString::fromStdString(input.ConsumeRandomLengthString(64)); }

std::optional<journal::WrittenTrack> Track(FuzzedDataProvider& input, int track) {
  if (!input.ConsumeBool()) return std::nullopt;
  journal::WrittenTrack written;
  written.track = track;
  written.text = input.ConsumeRandomLengthString(128);
  written.fileName = Text(input);
  written.recordNumber = input.ConsumeIntegral<int>();
  return written;
}

std::optional<std::string> ReadTrack(FuzzedDataProvider& input) {
  if (!input.ConsumeBool()) return std::nullopt;
  return input.ConsumeRandomLengthString(128);
}

int ColumnOf(const QList<journal::RowColumn>& columns, journal::ColumnRole role) {
  for (int c = 0; c < columns.size(); ++c) {
    if (columns[c].role == role) return c;
  }
  return -1;
}

std::string Bytes(const QString& cell) {
  const QByteArray bytes = cell.toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// The bytes a spreadsheet program reads for cells, plus what quoting, an
// apostrophe, the separators and the line end may add.
qsizetype Bound(const QStringList& cells) {
  qsizetype bound = 2;
  for (const QString& cell : cells) bound += 2 * cell.toUtf8().size() + 4;
  return bound;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const QList<journal::RowColumn> columns = journal::CardColumns();
  const QStringList captions = journal::Captions(columns);
  const int track2 = ColumnOf(columns, journal::ColumnRole::track2);
  const int track3 = ColumnOf(columns, journal::ColumnRole::track3);

  QList<journal::CardRow> rows;
  std::vector<Record> expected{AsRead(captions)};
  qsizetype bound = 3 + Bound(captions);
  const int count = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    journal::CardRow row;
    row.localTime = Text(input);
    row.station = Text(input);
    row.kind = input.PickValueInArray({journal::RunKind::normal, journal::RunKind::continuous, journal::RunKind::file});
    row.cardIndex = input.ConsumeIntegral<int>();
    row.deliberateRepeat = input.ConsumeBool();
    row.track2 = Track(input, 2);
    row.track3 = Track(input, 3);
    const QStringList cells = journal::CardRowCells(row);
    FUZZ_CHECK(cells.size() == captions.size());
    FUZZ_CHECK(Bytes(cells[track2]) == (row.track2 ? row.track2->text : std::string()));
    FUZZ_CHECK(Bytes(cells[track3]) == (row.track3 ? row.track3->text : std::string()));
    expected.push_back(AsRead(cells));
    bound += Bound(cells);
    rows.append(row);
  }

  const QByteArray csv = journal::ExportCsv(rows);
  FUZZ_CHECK(csv.startsWith(journal::kUtf8ByteOrderMark));
  FUZZ_CHECK(csv.size() <= bound);
  const auto records = ParseCsv(std::string_view(csv.constData(), static_cast<std::size_t>(csv.size())).substr(3));
  FUZZ_CHECK(records.has_value());
  FUZZ_CHECK(*records == expected);

  journal::ReadCardRow read;
  read.localTime = Text(input);
  read.station = Text(input);
  read.track2 = ReadTrack(input);
  read.track3 = ReadTrack(input);
  const QList<journal::RowColumn> readColumns = journal::ReadCardColumns();
  const QStringList cells = journal::ReadCardRowCells(read);
  FUZZ_CHECK(cells.size() == readColumns.size());
  FUZZ_CHECK(Bytes(cells[ColumnOf(readColumns, journal::ColumnRole::track2)]) == read.track2.value_or(std::string()));
  FUZZ_CHECK(Bytes(cells[ColumnOf(readColumns, journal::ColumnRole::track3)]) == read.track3.value_or(std::string()));
  const QByteArray line = journal::CsvLine(cells);
  const auto readBack = ParseCsv(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
  FUZZ_CHECK(readBack.has_value() && readBack->size() == 1);
  FUZZ_CHECK(readBack->front() == AsRead(cells));
  return 0;
}
