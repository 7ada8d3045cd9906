#include "ui/FitLabel.h"

#include <QEvent>
#include <QFontMetrics>

#include <algorithm>

namespace ui {

FitLabel::FitLabel(QWidget* parent) : QLabel(parent) {}

FitLabel::FitLabel(const QString& text, QWidget* parent) : QLabel(parent) { SetFullText(text); }

void FitLabel::SetFullText(const QString& text) {
  fullText_ = text;
  setAccessibleName(text);
  Refit();
}

QSize FitLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

QSize FitLabel::sizeHint() const { return {0, QLabel::sizeHint().height()}; }

void FitLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Refit();
}

void FitLabel::showEvent(QShowEvent* event) {
  QLabel::showEvent(event);
  Refit();
}

void FitLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Refit();
}

int FitLabel::AvailableWidth() const {
  // QLabel leaves a margin on each side, and with a frame an indent of half
  // an 'x' on the side it aligns to.
  int indent = this->indent();
  if (indent < 0) indent = frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
  return contentsRect().width() - 2 * margin() - indent;
}

void FitLabel::Refit() {
  const QFontMetrics metrics = fontMetrics();
  const int width = AvailableWidth();
  // Until it is shown, a label in a layout has no width of its own yet: it
  // holds the whole text and is fitted when it appears.
  const bool fits = !isVisible() || metrics.horizontalAdvance(fullText_) <= width;
  const QString shown = fits ? fullText_ : metrics.elidedText(fullText_, Qt::ElideRight, std::max(width, 0));
  if (text() != shown) setText(shown);
  const QString tip = fits ? QString() : fullText_;
  if (toolTip() != tip) setToolTip(tip);
}

}  // namespace ui
