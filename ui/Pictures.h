#pragma once

#include <QWidget>

#include <functional>

class QPainter;

// A decoration drawn in code instead of loaded from an image file.
class TPicture : public QWidget {
  Q_OBJECT

 public:
  using Painter = std::function<void(QPainter& painter, const QRect& area)>;
  TPicture(Painter painter, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Painter painter_;
};

// A tool bar's separator between tool buttons, drawn by the style as a tool
// bar draws its own; for a row of tool buttons that is not a QToolBar.
class TToolSeparator : public QWidget {
 public:
  explicit TToolSeparator(QWidget* parent);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

namespace station {

void PaintBanner(QPainter& painter, const QRect& area);      // Panel1: the banner strip behind the toolbar
void PaintBannerCard(QPainter& painter, const QRect& area);  // Image1: a card at the banner's right end
void PaintStrip(QPainter& painter, const QRect& area);       // Image2: a thin ornamental strip
void PaintCardDevice(QPainter& painter, const QRect& area);  // DeviceImage: the card reader/writer

}  // namespace station
