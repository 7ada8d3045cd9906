#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTextCursor>

#include <string>

// Track texts are bytes, one per character: what a track field shows is
// exactly what a write frame carries, so a byte read from a card or a record
// file goes back to the device unchanged.
namespace station {

inline std::string TrackBytes(const QPlainTextEdit& field) {
  const QByteArray bytes = field.toPlainText().toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

inline QString TrackQString(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Puts the text into the field with the caret after its last character and
// nothing selected.
inline void ShowTrackText(QPlainTextEdit& field, const std::string& bytes) {
  field.setPlainText(TrackQString(bytes));
  field.moveCursor(QTextCursor::End);
}

}  // namespace station
