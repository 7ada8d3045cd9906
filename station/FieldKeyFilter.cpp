#include "station/FieldKeyFilter.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "ui/KeyFilters.h"
#include "ui/UpDown.h"

namespace station {

namespace {

// The single byte a key event types: its character when that is ASCII, 0x80
// for anything beyond (which every listed filter refuses, as it refuses the
// bytes of a Chinese character), or -1 when the key types nothing (arrows,
// Home, function keys) and is therefore not a character at all.
int TypedByte(const QKeyEvent& event) {
  const QString text = event.text();
  if (text.isEmpty()) return -1;
  if (text.size() == 1 && text.at(0).unicode() < 0x80) return text.at(0).unicode();
  return 0x80;
}

}  // namespace

void FieldKeyFilter::Watch(QWidget* field, Admits admits) {
  fields_[field] = admits;
  field->installEventFilter(this);
}

void FieldKeyFilter::WatchCounter(QWidget* field, Admits admits, TUpDown* upDown) {
  Watch(field, admits);
  counterField_ = field;
  upDown_ = upDown;
}

bool FieldKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  const auto found = fields_.find(watched);
  if (event->type() != QEvent::KeyPress || found == fields_.end()) return QObject::eventFilter(watched, event);
  const auto& keyEvent = static_cast<const QKeyEvent&>(*event);

  if (watched == counterField_ && (keyEvent.key() == Qt::Key_Up || keyEvent.key() == Qt::Key_Down)) {
    upDown_->StepBy(keyEvent.key() == Qt::Key_Up ? 1 : -1);
    return true;
  }
  // The editing shortcuts work as in any field, also where the platform hands
  // them over with the letter as their text.
  for (const auto shortcut : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
                              QKeySequence::Undo, QKeySequence::Redo}) {
    if (keyEvent.matches(shortcut)) return false;
  }
  const int typed = TypedByte(keyEvent);
  if (typed < 0) return false;

  const auto key = static_cast<unsigned char>(typed);
  if (found->second != nullptr && !found->second(key)) return true;

  // The multi-line track fields bound typing here; the program may still put
  // longer text into them (a record from a file, for example).
  if (auto* memo = qobject_cast<QPlainTextEdit*>(watched); memo != nullptr && IsPrintable(key)) {
    const int limit = memo->property("maxTypedLength").toInt();
    const QTextCursor cursor = memo->textCursor();
    const int kept = memo->toPlainText().size() - (cursor.selectionEnd() - cursor.selectionStart());
    if (kept >= limit) return true;
  }
  return false;
}

}  // namespace station
