#include <QApplication>

#include <gtest/gtest.h>

// The platform comes from the command line (-platform) or, under Wine, from
// WINEQT_QPA_PLATFORM: Wine hands no QT_* variable to the program.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
