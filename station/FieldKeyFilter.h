#pragma once

#include <QObject>

#include <map>

class TUpDown;
class QWidget;

namespace station {

// Keeps typing in the window's fields to what each can hold: a typed key the
// field does not admit is dropped, the multi-line track fields stop at their
// typed length, and Up and Down in the write count step its up-down control.
// The editing shortcuts and keys that type nothing always pass.
class FieldKeyFilter : public QObject {
 public:
  using Admits = bool (*)(unsigned char key);

  explicit FieldKeyFilter(QObject* parent) : QObject(parent) {}

  // Watches the field; a null admits every key. A multi-line field's
  // "maxTypedLength" property bounds typing there.
  void Watch(QWidget* field, Admits admits);
  // Watches a field whose Up and Down keys step upDown.
  void WatchCounter(QWidget* field, Admits admits, TUpDown* upDown);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::map<const QObject*, Admits> fields_;
  const QObject* counterField_ = nullptr;
  TUpDown* upDown_ = nullptr;
};

}  // namespace station
