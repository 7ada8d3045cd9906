// The program's entry: the command line, the display check, Qt's Chinese
// translations, the main window and the message loop. Nothing opens the port
// by itself. The settings dialog is built only when "com设定" is pressed: a
// hidden one built at start would be read by nothing and would only slow the
// first paint.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <memory>
#include <string_view>

#include "Platform.h"
#include "settings/SettingsFile.h"
#include "station/MainWindow.h"
#include "ui/AccessiblePress.h"
#include "ui/AfterFirstPaint.h"
#include "ui/PathText.h"

namespace {

constexpr char kNoDisplay[] = "无法打开显示：请在图形桌面中运行本程序。 (cannot open a display)\n";

void PrintHelp() {
  std::printf(
      "用法：cardstation [--help | --version]\n"
      "读写卡程序：通过串口读写器在磁卡的第2、3磁道写入和读出卡号。\n"
      "\n"
      "  --help      显示本说明后退出\n"
      "  --version   显示版本后退出\n"
      "\n"
      "设置文件：%s\n"
      "  [Settings] comname=COM1 ... COM8     使用的端口\n"
      "%s"
      "  [Drives] C=<文件夹>                  保存已写卡号列表的文件夹（默认：主文件夹）\n"
      "  [Journal] Database=postgresql://...  几个工作站共用的写卡记录数据库（默认：cards.db）\n"
      "  [Journal] Station=<名字>             本工作站在写卡记录中的名字（默认：主机名）\n"
      "  [Journal] DuplicateCheck=0           再写本工作站写过的卡号时不询问\n"
      "  [Diagnostics] Trace=1 Log=1          记录串口通信（SERIAL.TRC、SERIAL.LOG）\n"
      "\n"
      "写卡记录：设置文件旁边的 cards.db（设了 [Journal] Database 时在数据库服务器上）。\n"
      "  每张写入和读出的卡都记在这里；按“记录”打开“写卡记录”，可以查找和导出。\n",
      ui::PathToUtf8(settings::SettingsPath()).c_str(), HelpPortsExample());
}

// Standard buttons, the file dialog and Qt's other texts in Chinese, whatever
// the machine's language: every other text of the program is Chinese.
void LoadQtChinese(QApplication& app, QTranslator& translator) {
  if (translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    app.installTranslator(&translator);
  }
}

// The exit status after printing: 1 when the text could not be written (to a
// full disk, say), which a script must not take for success.
int OutputWritten() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1; }

}  // namespace

int main(int argc, char* argv[]) {
  UseStartingConsole();
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return OutputWritten();
    }
    if (arg == "--version") {
      std::printf("cardstation %s\n", CARDSTATION_VERSION);
      return OutputWritten();
    }
    // Single-dash arguments are Qt's own (-platform, -display, ...).
    if (arg.substr(0, 2) == "--") {
      std::fprintf(stderr, "cardstation：未知选项 %s（见 cardstation --help）\n", argv[i]);
      return 2;
    }
  }
  DisplayCheck display = CheckDisplay();
  if (!display.usable) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }

  QApplication app(argc, argv);
  display.hold.reset();  // the application is connected now
  QApplication::setApplicationName(QStringLiteral("cardstation"));
  QApplication::setApplicationVersion(QStringLiteral(CARDSTATION_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("cardstation"));
  QTranslator qtChinese;
  LoadQtChinese(app, qtChinese);
  // With no icon theme of the desktop's, Qt falls back to hicolor, which
  // holds programs' own icons only: looking the buttons' icons up there
  // parses its 55 KB index for nothing, a sixth of the start's work. A search
  // path that holds no theme leaves the buttons the style's own pictures,
  // which they would get anyway.
  if (QIcon::themeName() == QLatin1String("hicolor")) QIcon::setThemeSearchPaths({QStringLiteral(":/icons")});
  // Before the windows exist, so that their tool buttons get the interface.
  settings::InstallDeferredToolButtonPress();

  // Form1 is created first and is the window whose closing ends the program.
  auto Form1 = std::make_unique<TForm1>();

  Form1->move(0, 0);
  Form1->show();
  // Decoding the icon's 256-pixel picture is a twentieth of the start's
  // work: the window shows first and takes its icon a moment later.
  ui::AfterFirstPaint(*Form1, [] { QApplication::setWindowIcon(QIcon(QStringLiteral(":/cardstation.png"))); });
  const int result = QApplication::exec();

  Form1.reset();  // destroying the window closes the serial port if it is open
  return result;
}
