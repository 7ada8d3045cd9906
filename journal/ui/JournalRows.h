#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "journal/Journal.h"

// The journal's rows as the operator reads them: the columns and cells that
// the 写卡记录 dialog shows and the exports write, so that a file holds what
// the table shows.
namespace journal {

// The tab and sheet titles of the two kinds of record.
QString WrittenCardsTitle();  // "写卡记录"
QString ReadCardsTitle();     // "读卡记录"

// What a column holds: widths and cell kinds follow the role, never the caption.
enum class ColumnRole { time, station, runKind, track2, track3, run, repeat };

struct RowColumn {
  ColumnRole role = ColumnRole::time;
  QString caption;
};

QList<RowColumn> CardColumns();
QList<RowColumn> ReadCardColumns();
QStringList Captions(const QList<RowColumn>& columns);

QStringList CardColumnCaptions();
// One cell per column of CardColumns(); track texts keep their bytes, one
// character each.
QStringList CardRowCells(const CardRow& row);

QStringList ReadCardColumnCaptions();
// One cell per column of ReadCardColumns(); a track not read is empty.
QStringList ReadCardRowCells(const ReadCardRow& row);

// The words the operator reads for a reason, as in "未确认（超时）".
QString UnconfirmedReasonCaption(UnconfirmedReason reason);

}  // namespace journal
