// The program's entry: the main window, the hidden settings dialog created at
// start-up, and the message loop. Nothing opens the port by itself.
#include <QApplication>

#include <memory>

#include "ui/AccessiblePress.h"
#include "settings/SettingsDialog.h"
#include "station/MainWindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cardstation"));
  // Before the windows exist, so that their tool buttons get the interface.
  settings::InstallDeferredToolButtonPress();

  // Form1 is created first and is the window whose closing ends the program.
  auto Form1 = std::make_unique<TForm1>();
  // This instance only reads the stored port on creation and is never shown.
  auto Form2 = std::make_unique<TForm2>();

  Form1->move(0, 0);
  Form1->show();
  const int result = QApplication::exec();

  Form2.reset();
  Form1.reset();  // destroying the window closes the serial port if it is open
  return result;
}
