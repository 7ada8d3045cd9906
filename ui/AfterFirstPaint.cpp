#include "AfterFirstPaint.h"

#include <QEvent>
#include <QTimer>

#include <utility>

namespace ui {
namespace {

// Watches the window for its first paint event; the backing store is flushed
// to the screen in the same turn, so the work is queued for the next one.
class FirstPaintWatch : public QObject {
 public:
  FirstPaintWatch(QWidget& window, std::function<void()> then) : QObject(&window), then_(std::move(then)) {
    window.installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !queued_) {
      queued_ = true;
      watched->removeEventFilter(this);
      QTimer::singleShot(0, this, [this] {
        then_();
        deleteLater();
      });
    }
    return false;
  }

 private:
  std::function<void()> then_;
  bool queued_ = false;
};

}  // namespace

void AfterFirstPaint(QWidget& window, std::function<void()> then) {
  new FirstPaintWatch(window, std::move(then));  // owned by the window until it has run
}

}  // namespace ui
