#pragma once
// How the main window and its track groups create their controls.

#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <QString>

namespace station {

// Every control carries its design name as objectName and accessible
// description, and the caption an operator sees (or the caption of its label)
// as accessible name. Labels whose text changes at run time get no fixed
// accessible name: Qt then reports their current text.
template <typename W>
W* Named(W* widget, const QString& name, const QString& caption) {
  widget->setObjectName(name);
  widget->setAccessibleDescription(name);
  widget->setAccessibleName(caption);
  return widget;
}

template <typename W>
W* NamedLive(W* widget, const QString& name) {
  widget->setObjectName(name);
  widget->setAccessibleDescription(name);
  return widget;
}

inline QLabel* StaticLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
  auto* label = Named(new QLabel(text, parent), name, text);
  label->setGeometry(geometry);
  return label;
}

// One-line field; max length bounds typing (QLineEdit cuts set text to it too,
// which none of these fields ever receives).
inline QLineEdit* LineField(QWidget* parent, const QString& name, const QString& caption, const QString& text,
                            int maxLength, const QRect& geometry) {
  auto* edit = Named(new QLineEdit(text, parent), name, caption);
  edit->setMaxLength(maxLength);
  edit->setGeometry(geometry);
  return edit;
}

}  // namespace station
