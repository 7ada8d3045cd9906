#include "ui/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

TPicture::TPicture(Painter painter, QWidget* parent) : QWidget(parent), painter_(std::move(painter)) {}

void TPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter_(painter, rect());
}

TToolSeparator::TToolSeparator(QWidget* parent) : QWidget(parent) {}

QSize TToolSeparator::sizeHint() const {
  QStyleOption option;
  option.initFrom(this);
  const int extent = style()->pixelMetric(QStyle::PM_ToolBarSeparatorExtent, &option, parentWidget());
  return {extent, extent};
}

void TToolSeparator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  // A separator in a horizontal row stands upright.
  option.state |= QStyle::State_Horizontal;
  style()->drawPrimitive(QStyle::PE_IndicatorToolBarSeparator, &option, &painter, parentWidget());
}

namespace station {
namespace {

const QColor kNavy(0, 0, 128);
const QColor kSky(166, 202, 240);

// A magnetic-stripe card: rounded white body, black stripe, a few digits.
void DrawCard(QPainter& painter, const QRectF& card, qreal angle) {
  painter.save();
  painter.translate(card.center());
  painter.rotate(angle);
  const QRectF body(-card.width() / 2, -card.height() / 2, card.width(), card.height());
  QLinearGradient fill(body.topLeft(), body.bottomRight());
  fill.setColorAt(0, QColor(255, 255, 255));
  fill.setColorAt(1, QColor(200, 220, 245));
  painter.setPen(QPen(kNavy, 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(body, card.height() * 0.12, card.height() * 0.12);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(30, 30, 30));
  painter.drawRect(QRectF(body.left(), body.top() + body.height() * 0.18, body.width(), body.height() * 0.2));
  painter.setBrush(QColor(220, 170, 40));
  painter.drawRoundedRect(QRectF(body.left() + body.width() * 0.1, body.top() + body.height() * 0.5,
                                 body.width() * 0.18, body.height() * 0.22),
                          2, 2);
  painter.restore();
}

}  // namespace

void PaintBanner(QPainter& painter, const QRect& area) {
  QLinearGradient fill(area.topLeft(), area.bottomLeft());
  fill.setColorAt(0, QColor(232, 242, 255));
  fill.setColorAt(1, kSky);
  painter.fillRect(area, fill);
  painter.setPen(QPen(QColor(120, 150, 200), 1));
  painter.drawLine(area.bottomLeft(), area.bottomRight());
}

void PaintBannerCard(QPainter& painter, const QRect& area) {
  const qreal h = area.height() * 0.62;
  DrawCard(painter, QRectF(area.width() * 0.18, area.height() * 0.2, h * 1.58, h), -8);
  DrawCard(painter, QRectF(area.width() * 0.42, area.height() * 0.16, h * 1.58, h), 6);
}

void PaintStrip(QPainter& painter, const QRect& area) {
  QLinearGradient fill(area.topLeft(), area.topRight());
  fill.setColorAt(0, QColor(255, 128, 0));
  fill.setColorAt(0.5, QColor(255, 200, 80));
  fill.setColorAt(1, QColor(255, 128, 0));
  painter.fillRect(area, fill);
}

void PaintCardDevice(QPainter& painter, const QRect& area) {
  const QRectF r = QRectF(area).adjusted(4, 4, -4, -4);
  // The body of the reader/writer with its swipe slot along the top.
  const QRectF body(r.left(), r.top() + r.height() * 0.3, r.width(), r.height() * 0.62);
  QLinearGradient fill(body.topLeft(), body.bottomLeft());
  fill.setColorAt(0, QColor(110, 110, 120));
  fill.setColorAt(1, QColor(40, 40, 48));
  painter.setPen(QPen(QColor(20, 20, 20), 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(body, 6, 6);
  painter.setBrush(QColor(15, 15, 15));
  painter.drawRect(QRectF(body.left() + 6, body.top() + 4, body.width() - 12, 5));
  // Two lamps: power and write.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(60, 220, 60));
  painter.drawEllipse(QPointF(body.left() + 12, body.bottom() - 12), 3.5, 3.5);
  painter.setBrush(QColor(230, 60, 40));
  painter.drawEllipse(QPointF(body.left() + 24, body.bottom() - 12), 3.5, 3.5);
  painter.setPen(QColor(200, 200, 210));
  QFont font = painter.font();
  font.setPixelSize(9);
  painter.setFont(font);
  painter.drawText(QRectF(body.left() + 32, body.bottom() - 20, body.width() - 36, 14),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("QV-418"));
  // A card half way through the slot.
  const qreal cardH = r.height() * 0.42;
  DrawCard(painter, QRectF(r.left() + r.width() * 0.2, r.top(), cardH * 1.58, cardH), 0);
}

}  // namespace station
