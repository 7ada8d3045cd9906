// The yardstick of startup_bench: a bare Qt window with one Chinese label,
// started and shown the way the station starts and shows its window.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("读写卡程序"));
  label.move(0, 0);
  label.show();
  return QApplication::exec();
}
