#include "journal/ui/Csv.h"

#include "journal/ui/JournalRows.h"

namespace journal {

QString CsvField(QString field) {
  // A cell that starts like a formula would be run by a spreadsheet program;
  // an apostrophe keeps it text.
  if (!field.isEmpty() && QStringLiteral("=+-@").contains(field.front())) field.prepend(QLatin1Char('\''));
  if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) || field.contains(QLatin1Char('\n')) ||
      field.contains(QLatin1Char('\r'))) {
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
  }
  return field;
}

QByteArray CsvLine(const QStringList& cells) {
  QStringList fields;
  fields.reserve(cells.size());
  for (const QString& cell : cells) fields << CsvField(cell);
  return fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray ExportCsv(const QList<CardRow>& rows) {
  QByteArray out(kUtf8ByteOrderMark);
  out += CsvLine(CardColumnCaptions());
  for (const CardRow& row : rows) out += CsvLine(CardRowCells(row));
  return out;
}

}  // namespace journal
