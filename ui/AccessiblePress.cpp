#include "ui/AccessiblePress.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QToolButton>

namespace settings {

namespace {

class DeferredPressToolButton : public QAccessibleWidget {
 public:
  explicit DeferredPressToolButton(QToolButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    QString text = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && text.isEmpty()) {
      text = button()->text();
      text.remove(QLatin1Char('&'));
      if (text.isEmpty()) text = button()->toolTip();
    }
    return text;
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (button()->isDown()) state.pressed = true;
    if (button()->isCheckable()) {
      state.checkable = true;
      state.checked = button()->isChecked();
    }
    return state;
  }

  QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

  void doAction(const QString& actionName) override {
    if (actionName != pressAction()) {
      QAccessibleWidget::doAction(actionName);
      return;
    }
    if (button()->isEnabled()) button()->animateClick();
  }

 private:
  QToolButton* button() const { return static_cast<QToolButton*>(widget()); }
};

QAccessibleInterface* ToolButtonFactory(const QString& className, QObject* object) {
  if (className != QLatin1String("QToolButton")) return nullptr;
  auto* button = qobject_cast<QToolButton*>(object);
  // A button with a menu keeps Qt's interface and its menu action.
  if (button == nullptr || button->menu() != nullptr) return nullptr;
  return new DeferredPressToolButton(button);
}

}  // namespace

void InstallDeferredToolButtonPress() {
  // Qt keeps a factory only once, so a second call changes nothing.
  QAccessible::installFactory(ToolButtonFactory);
}

}  // namespace settings
