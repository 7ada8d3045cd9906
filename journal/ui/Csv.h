#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "journal/Journal.h"

// The journal's CSV: UTF-8 with a byte-order mark, so that spreadsheet
// programs take it as UTF-8; comma-separated, CR LF line ends.
namespace journal {

inline constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// A CSV field: quoted when it holds a separator, a quote or a line end, and
// kept text when it starts like a spreadsheet formula.
QString CsvField(QString field);

// One line of fields, in UTF-8, with its CR LF.
QByteArray CsvLine(const QStringList& cells);

// The whole file of rows: the mark, a header line of the captions, a line per row.
QByteArray ExportCsv(const QList<CardRow>& rows);

}  // namespace journal
