#include "ui/AccessiblePress.h"

#include <QAccessible>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// The press action as an assistive tool invokes it over the accessibility bus.
void PressThroughAccessibility(QWidget* button) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
  ASSERT_NE(iface, nullptr);
  ASSERT_NE(iface->actionInterface(), nullptr);
  ASSERT_TRUE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
  iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

class AccessiblePressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::InstallDeferredToolButtonPress();
    button = new QToolButton(&window);
    button->setText(QStringLiteral("com设定"));
    button->setAccessibleName(QStringLiteral("com设定"));
    button->setAccessibleDescription(QStringLiteral("ToolButton8"));
    QObject::connect(button, &QToolButton::clicked, [this] { ++clicks; });
  }

  QWidget window;
  QToolButton* button = nullptr;
  int clicks = 0;
};

// A handler that opens a modal box must not run inside the accessibility
// call, or the caller waits until the box is closed and cannot reach it.
TEST_F(AccessiblePressTest, PressClicksAfterTheCallHasReturned) {
  PressThroughAccessibility(button);
  EXPECT_EQ(clicks, 0);
  QTRY_COMPARE_WITH_TIMEOUT(clicks, 1, 5000);
}

TEST_F(AccessiblePressTest, DisabledButtonIgnoresThePress) {
  button->setEnabled(false);
  PressThroughAccessibility(button);
  QTest::qWait(400);  // longer than the click animation: a click would have come
  EXPECT_EQ(clicks, 0);
}

TEST_F(AccessiblePressTest, ButtonKeepsItsRoleNameAndDescription) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Button);
  EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("com设定"));
  EXPECT_EQ(iface->text(QAccessible::Description), QStringLiteral("ToolButton8"));
  EXPECT_FALSE(iface->state().disabled);

  auto* unnamed = new QToolButton(&window);
  unnamed->setText(QStringLiteral("&Back"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(unnamed)->text(QAccessible::Name), QStringLiteral("Back"));
}

}  // namespace
