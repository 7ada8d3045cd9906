#include "journal/ui/JournalRows.h"

#include <QFileInfo>

#include <optional>
#include <string>
#include <string_view>

namespace journal {
namespace {

// Track texts are bytes; Latin-1 shows each byte as one character.
QString Latin1(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString TrackCell(const std::optional<std::string>& text) { return text ? Latin1(*text) : QString(); }
QString TrackCell(const std::optional<WrittenTrack>& track) { return track ? Latin1(track->text) : QString(); }

}  // namespace

QString WrittenCardsTitle() { return QStringLiteral("写卡记录"); }
QString ReadCardsTitle() { return QStringLiteral("读卡记录"); }

QList<RowColumn> CardColumns() {
  return {{ColumnRole::time, QStringLiteral("时间")},    {ColumnRole::station, QStringLiteral("工作站")},
          {ColumnRole::runKind, QStringLiteral("方式")}, {ColumnRole::track2, QStringLiteral("磁道2")},
          {ColumnRole::track3, QStringLiteral("磁道3")}, {ColumnRole::run, QStringLiteral("批次")},
          {ColumnRole::repeat, QStringLiteral("重复")}};
}

QList<RowColumn> ReadCardColumns() {
  QList<RowColumn> columns;
  for (const RowColumn& column : CardColumns()) {
    if (column.role == ColumnRole::time || column.role == ColumnRole::station || column.role == ColumnRole::track2 ||
        column.role == ColumnRole::track3) {
      columns.append(column);
    }
  }
  return columns;
}

QStringList Captions(const QList<RowColumn>& columns) {
  QStringList captions;
  captions.reserve(columns.size());
  for (const RowColumn& column : columns) captions << column.caption;
  return captions;
}

QStringList CardColumnCaptions() { return Captions(CardColumns()); }
QStringList ReadCardColumnCaptions() { return Captions(ReadCardColumns()); }

QStringList CardRowCells(const CardRow& row) {
  // The run: the card's place in it and, for tracks from files, the record.
  QString run = QStringLiteral("第%1张").arg(row.cardIndex);
  for (const auto* track : {&row.track2, &row.track3}) {
    if (*track && !(*track)->fileName.isEmpty()) {
      run += QStringLiteral(" %1:%2").arg(QFileInfo((*track)->fileName).fileName()).arg((*track)->recordNumber);
    }
  }
  return {row.localTime,
          row.station,
          RunKindCaption(row.kind),
          TrackCell(row.track2),
          TrackCell(row.track3),
          run,
          row.deliberateRepeat ? QStringLiteral("是") : QString()};
}

QStringList ReadCardRowCells(const ReadCardRow& row) {
  return {row.localTime, row.station, TrackCell(row.track2), TrackCell(row.track3)};
}

QString UnconfirmedReasonCaption(UnconfirmedReason reason) {
  switch (reason) {
    case UnconfirmedReason::timeout: return QStringLiteral("超时");
    case UnconfirmedReason::reset: return QStringLiteral("复位");
    case UnconfirmedReason::lineLost: return QStringLiteral("设备断开");
    case UnconfirmedReason::portClosed: return QStringLiteral("端口关闭");
    case UnconfirmedReason::programExit: return QStringLiteral("程序退出");
    case UnconfirmedReason::interrupted: return QStringLiteral("程序中断");
    case UnconfirmedReason::readStarted: return QStringLiteral("改为读卡");
    case UnconfirmedReason::writeRestarted: return QStringLiteral("重新写卡");
    case UnconfirmedReason::notJournaled: return QStringLiteral("写卡记录未保存");
    case UnconfirmedReason::unknown: break;
  }
  return QStringLiteral("原因未记录");
}

}  // namespace journal
