// A card station that starts a continuous run at once and runs until it is
// killed: the program side of the crash test. Arguments: the device path, the
// journal folder, the list folder, the card count and the first number.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "FindControl.h"
#include "station/MainWindow.h"

namespace {

using station::testing_support::Find;

class NoPrompts : public Prompts {
 public:
  void Message(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
  void Info(const QString& text) override { Message(text); }
  void Error(const QString& text) override { Message(text); }
  QString OpenFileName(QWidget*) override { return {}; }
  void Beep() override {}
  bool Question(const QString& text) override {
    Message(text);
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: crash_station DEVICE JOURNAL-FOLDER LIST-FOLDER COUNT FIRST\n");
    return 2;
  }
  const std::string device = argv[1];
  const std::string lists = argv[3];
  StationConfig config;
  config.portName = [] { return std::string("com1"); };
  config.devicePath = [device](std::uint16_t) { return device; };
  config.listFolder = [lists] { return std::filesystem::path(lists); };
  config.journalFolder = argv[2];
  config.stationName = "crash";
  // What is tested is the kill in mid-run, not the device's pause: a short one
  // reaches mid-run sooner.
  config.timings.afterCommand = std::chrono::milliseconds(20);

  TForm1 form(config);
  form.SetPrompts(std::make_unique<NoPrompts>());
  Find<QToolButton>(form, "ToolButton5")->click();
  if (!form.port().Open()) return 3;
  Find<QCheckBox>(form, "TK2CheckBox")->setChecked(true);
  Find<QCheckBox>(form, "TK2AutoIncCheckBox")->setChecked(true);
  Find<QLineEdit>(form, "TK2StepEdit")->setText(QStringLiteral("1"));
  Find<QLineEdit>(form, "WriteCountEdit")->setText(QString::fromLatin1(argv[4]));
  Find<QPlainTextEdit>(form, "Track2Memo")->setPlainText(QString::fromLatin1(argv[5]));
  Find<QPushButton>(form, "BitBtn3")->click();
  return QApplication::exec();
}
