#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <stdexcept>

#include "StationTestSupport.h"
#include "core/Texts.h"
#include "settings/SettingsDialog.h"
#include "ui/AfterFirstPaint.h"
#include "ui/PathText.h"
#include "ui/UpDown.h"

namespace {

QString Text(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) return memo->toPlainText();
  return {};
}

TEST(MainWindowTest, IsAFixedWindowWithItsCaption) {
  Station s;
  EXPECT_EQ(s.form.windowTitle(), QStringLiteral("读写卡程序"));
  EXPECT_EQ(s.form.size(), QSize(757, 540));
  EXPECT_EQ(s.form.minimumSize(), s.form.maximumSize());
  EXPECT_FALSE(s.form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(Find<QStatusBar>(s.form, "MainStatusBar")->isSizeGripEnabled());
  // The text font can draw the Chinese captions (no empty boxes).
  for (char32_t ch : {U'读', U'写', U'磁', U'★'}) {
    EXPECT_TRUE(QFontMetrics(Find<QCheckBox>(s.form, "TK2CheckBox")->font()).inFontUcs4(ch))
        << static_cast<unsigned>(ch);
  }
}

TEST(MainWindowTest, StartsInItsStartState) {
  Station s;
  TForm1& f = s.form;
  for (QCheckBox* box :
       {Find<QCheckBox>(f, "TK1CheckBox"), Find<QCheckBox>(f, "TK2CheckBox"), Find<QCheckBox>(f, "TK3CheckBox")}) {
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           Find<QPlainTextEdit>(f, "Track1Memo"), Find<QPlainTextEdit>(f, "Track2Memo"),
           Find<QPlainTextEdit>(f, "Track3Memo"), Find<QCheckBox>(f, "TK1AutoIncCheckBox"),
           Find<QCheckBox>(f, "TK2AutoIncCheckBox"), Find<QCheckBox>(f, "TK3AutoIncCheckBox"),
           Find<QLineEdit>(f, "TK1StepEdit"), Find<QLineEdit>(f, "TK2StepEdit"), Find<QLineEdit>(f, "TK3StepEdit"),
           Find<QCheckBox>(f, "tk1filename"), Find<QCheckBox>(f, "tk2filename"), Find<QCheckBox>(f, "tk3filename"),
           Find<QToolButton>(f, "tk1sb"), Find<QToolButton>(f, "tk2Sb"), Find<QToolButton>(f, "tk3Sb"),
           Find<QLineEdit>(f, "tk1file_step"), Find<QLineEdit>(f, "tk2file_step"),
           Find<QLineEdit>(f, "tk3file_step")}) {
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  }
  for (QLabel* label : {Find<QLabel>(f, "tk1disp"), Find<QLabel>(f, "tk2disp"), Find<QLabel>(f, "tk3disp")}) {
    EXPECT_TRUE(label->isHidden());
    EXPECT_EQ(label->text(), QStringLiteral("文件名"));
  }
  EXPECT_TRUE(Find<QLineEdit>(f, "WriteCountEdit")->isEnabled());
  EXPECT_EQ(Find<QLineEdit>(f, "WriteCountEdit")->text(), QStringLiteral("1"));
  EXPECT_EQ(Find<TUpDown>(f, "WrCouUpDown")->Position(), 1);
  EXPECT_TRUE(Find<QPushButton>(f, "BitBtn1")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>(f, "BitBtn3")->isEnabled());
  EXPECT_EQ(Find<QLabel>(f, "WriteModePanel")->text(), QStringLiteral("常规写"));
  EXPECT_EQ(Find<QLabel>(f, "WriteModePanel")->palette().color(QPalette::Window), QColor(Qt::blue));
  EXPECT_EQ(Find<QLabel>(f, "WriteModePanel")->palette().color(QPalette::WindowText), QColor(Qt::yellow));
  EXPECT_EQ(Find<QLabel>(f, "l_timer")->text(), QStringLiteral("00"));
  EXPECT_EQ(Find<QLabel>(f, "st1")->text(), QStringLiteral("★提示信息★:"));
  EXPECT_EQ(Find<QLabel>(f, "st2")->text(), QStringLiteral("★提示信息★:"));
  for (const char* panel : {"MainStatusBarPanel0", "MainStatusBarPanel1", "MainStatusBarPanel2"}) {
    EXPECT_TRUE(Find<QLabel>(f, panel)->text().isEmpty()) << panel;
  }
  EXPECT_TRUE(Find<QPlainTextEdit>(f, "Memo1")->toPlainText().isEmpty());
  EXPECT_TRUE(Find<QPlainTextEdit>(f, "Memo1")->isReadOnly());
  EXPECT_FALSE(Find<QTimer>(f, "OpenTimer")->isActive());
  EXPECT_EQ(Find<QTimer>(f, "OpenTimer")->interval(), 1000);
}

// The window's own port, as the program runs it.
TEST(MainWindowTest, PortIsSetUpForTheCardDevice) {
  Station s;
  const TSerComPort& port = s.form.port();
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.ComNumber(), 1);
  EXPECT_EQ(port.Baud(), 9600);
  EXPECT_EQ(port.Parity(), pNone);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_EQ(port.OutSize(), 8192);
  EXPECT_FALSE(port.AutoOpen());
  EXPECT_FALSE(port.DTR());
  EXPECT_FALSE(port.RTS());
  EXPECT_EQ(port.HWFlowOptions(), 0);
  EXPECT_EQ(port.SWFlowOptions(), swfNone);
  EXPECT_EQ(port.XOnChar(), 0xFF);
  EXPECT_EQ(port.XOffChar(), 0xFF);
  EXPECT_EQ(port.TraceName(), "SERIAL.TRC");
  EXPECT_FALSE(port.TraceHex());
  EXPECT_EQ(port.LogName(), "SERIAL.LOG");
  EXPECT_FALSE(port.LogHex());
}

TEST(MainWindowTest, ShowsTheHelpTextLineByLine) {
  Station s;
  const QStringList lines = Find<QTextEdit>(s.form, "RichEdit1")->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 20);
  EXPECT_EQ(lines[0], QStringLiteral("说明："));
  EXPECT_EQ(lines[1], QStringLiteral("1.读写卡前,请点击【端口打"));
  EXPECT_EQ(lines[11], QStringLiteral("不同的串口，从com1-com8,默认"));
  // Saved lists go to the folder that stands for drive C, named as it is.
  EXPECT_EQ(lines[17], QStringLiteral("8.文件放在文件夹"));
  EXPECT_EQ(lines[18], QString::fromStdString(s.folder.Path().string()) + QLatin1Char('/'));
  EXPECT_EQ(lines[19], QStringLiteral("中，以时间为文件名."));
  EXPECT_TRUE(Find<QTextEdit>(s.form, "RichEdit1")->isReadOnly());
  EXPECT_EQ(Find<QTextEdit>(s.form, "RichEdit1")->lineWrapMode(), QTextEdit::NoWrap);
}

TEST(MainWindowTest, ListLabelNamesTheFolderOfDriveCAndFitsItsPlace) {
  Station s;
  s.form.show();
  const auto* label = Find<QLabel>(s.form, "Label4");
  const QString whole =
      QStringLiteral("写入卡号信息:") + QString::fromStdString(s.folder.Path().string()) + QLatin1Char('/');
  EXPECT_EQ(label->accessibleName(), whole);
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Memo1")->accessibleName(), whole);
  // A temporary folder's path is too long for the label: cut at its end,
  // whole in the tooltip.
  EXPECT_NE(label->text(), whole);
  EXPECT_TRUE(label->text().endsWith(QChar(0x2026)));
  EXPECT_TRUE(whole.startsWith(label->text().chopped(1)));
  EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->contentsRect().width());
  EXPECT_EQ(label->toolTip(), whole);
}

TEST(MainWindowTest, FolderOfDriveCIsShortenedForTheHomeFolder) {
  struct Row {
    const char* folder;
    const char* shown;
  };
  const Row rows[] = {{"/home/op", "~/"},
                      {"/home/op/", "~/"},
                      {"/home/op/lists", "~/lists/"},
                      {"/home/operator", "/home/operator/"},
                      {"/srv/cards", "/srv/cards/"},
                      {"/", "/"}};
  for (const Row& row : rows) {
    EXPECT_EQ(ui::ListFolderCaption(row.folder, "/home/op"), QString::fromUtf8(row.shown)) << row.folder;
  }
  EXPECT_EQ(ui::ListFolderCaption("/root", "/"), QStringLiteral("/root/")) << "a home of / shortens nothing";
}

TEST(MainWindowTest, StatusBarHasThreeLabelPanels) {
  Station s;
  s.form.show();
  const QLabel* p[] = {Find<QLabel>(s.form, "MainStatusBarPanel0"), Find<QLabel>(s.form, "MainStatusBarPanel1"),
                       Find<QLabel>(s.form, "MainStatusBarPanel2")};
  EXPECT_EQ(p[0]->width(), 200);
  EXPECT_EQ(p[1]->width(), 50);
  EXPECT_TRUE(p[0]->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(p[1]->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(p[2]->alignment() & Qt::AlignLeft);
  EXPECT_LT(p[0]->x(), p[1]->x());
  EXPECT_LT(p[1]->x(), p[2]->x());
  EXPECT_GT(p[2]->width(), 400);  // panel 2 takes the rest
  for (const QLabel* panel : p) EXPECT_EQ(panel->parentWidget(), Find<QStatusBar>(s.form, "MainStatusBar"));
}

struct Caption {
  const char* name;
  const char* caption;
};

// Controls with a fixed caption: the visible text (or the label's caption for
// a field) is the accessible name.
const Caption kCaptions[] = {
    {"ToolButton5", "端口打开"},
    {"ToolButton6", "端口关闭"},
    {"ToolButton3", "复位"},
    {"ToolButton4", "取状态"},
    {"ToolButton8", "com设定"},
    {"ToolButton7", "退出"},
    {"Label3", "QV-418磁卡读写程序"},
    {"Label5", "QV-418磁卡读写程序"},
    {"SpeedButton1", "保存"},
    {"TK1CheckBox", "磁道1数据(0/76)"},
    {"TK2CheckBox", "磁道2数据(0/37)"},
    {"TK3CheckBox", "磁道3数据(0/104)"},
    {"Track1Memo", "磁道1数据"},
    {"Track2Memo", "磁道2数据"},
    {"Track3Memo", "磁道3数据"},
    {"TK2AutoIncCheckBox", "磁道2连续写卡"},
    {"TK3AutoIncCheckBox", "磁道3连续写卡"},
    {"TK2StepEdit", "增量"},
    {"TK3StepEdit", "增量"},
    {"tk2filename", "文件数据写卡"},
    {"tk3filename", "文件数据写卡"},
    {"tk2Sb", "浏览"},
    {"tk3Sb", "浏览"},
    {"tk1sb", "浏览"},
    {"tk2file_step", "开始记录号"},
    {"WriteCountEdit", "连续写卡次数:"},
    {"WrCouUpDown", "连续写卡次数:"},
    {"Label10", "连续写卡次数:"},
    {"Panel4", "写卡计时"},
    {"BitBtn1", "读卡"},
    {"BitBtn3", "写卡"},
};

TEST(MainWindowTest, ControlsAreReachableByNameAndCaption) {
  Station s;
  for (const Caption& c : kCaptions) {
    auto* w = s.form.findChild<QWidget*>(QString::fromLatin1(c.name));
    ASSERT_NE(w, nullptr) << c.name;
    EXPECT_EQ(w->accessibleName(), QString::fromUtf8(c.caption)) << c.name;
    if (!Text(w).isEmpty() && !qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(Text(w), QString::fromUtf8(c.caption)) << c.name;
    }
  }
  // Every named control carries its name as description as well.
  for (QWidget* w : s.form.findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
    EXPECT_EQ(w->accessibleDescription(), name);
  }
  // Labels whose text changes at run time are named by their current text
  // (the whole of it where the label shows it elided).
  Find<QLabel>(s.form, "l_timer")->setText(QStringLiteral("12"));
  for (QLabel* label : {Find<QLabel>(s.form, "st1"), Find<QLabel>(s.form, "st2"), Find<QLabel>(s.form, "l_timer"),
                        Find<QLabel>(s.form, "WriteModePanel"), Find<QLabel>(s.form, "tk2disp"),
                        Find<QLabel>(s.form, "MainStatusBarPanel0")}) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), label->text()) << label->objectName().toStdString();
  }
}

// --- Typing ---------------------------------------------------------------------

class TypingTest : public ::testing::Test {
 protected:
  TypingTest() {
    for (QCheckBox* box : {Find<QCheckBox>(s.form, "TK2CheckBox"), Find<QCheckBox>(s.form, "TK3CheckBox")}) {
      box->setEnabled(true);  // as an opened port does
      box->setChecked(true);
    }
  }
  Station s;
};

struct TypingCase {
  const char* name;
  const char* field;
  const char* typed;
  const char* expected;
};

void PrintTo(const TypingCase& c, std::ostream* os) { *os << c.name; }

class KeyFilterTypingTest : public TypingTest, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(KeyFilterTypingTest, KeepsOnlyAdmittedCharacters) {
  const TypingCase& c = GetParam();
  auto* field = s.form.findChild<QWidget*>(QString::fromLatin1(c.field));
  ASSERT_NE(field, nullptr);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->clear();
  Type(field, QString::fromUtf8(c.typed));
  EXPECT_EQ(Text(field), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyFilterTypingTest,
    ::testing::Values(TypingCase{"TrackRefusesLetterAndChinese", "Track2Memo", "A=中", "="},
                      TypingCase{"TrackRefusesEnter", "Track2Memo", "12\r34", "1234"},
                      TypingCase{"TrackRefusesLatin1", "Track3Memo", "5\xc3\xa9", "5"},
                      TypingCase{"TrackAdmitsCodes48To63", "Track3Memo", "/0129:;<=>?@", "0129:;<=>?"},
                      TypingCase{"TrackBackspacePasses", "Track2Memo", "123\b", "12"},
                      TypingCase{"StepRefusesZero", "TK2StepEdit", "0190", "19"},
                      TypingCase{"StepTakesNineDigits", "TK2StepEdit", "1234567899", "123456789"},
                      TypingCase{"Step3TakesOneDigit", "TK3StepEdit", "057", "5"},
                      TypingCase{"CountTakesZeroAndNineDigits", "WriteCountEdit", "0123456789", "012345678"},
                      TypingCase{"CountRefusesOthers", "WriteCountEdit", "1a-.\r中2", "12"},
                      TypingCase{"CountBackspacePasses", "WriteCountEdit", "15\b7", "17"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TypingTest, TrackFieldsRefuseTypingBeyondTheirLength) {
  Type(Find<QPlainTextEdit>(s.form, "Track2Memo"), QString(37, QLatin1Char('5')));
  Type(Find<QPlainTextEdit>(s.form, "Track2Memo"), QStringLiteral("6"));
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track2Memo")->toPlainText(), QString(37, QLatin1Char('5')));
  Type(Find<QPlainTextEdit>(s.form, "Track2Memo"), QStringLiteral("\b6"));  // room again after Backspace
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track2Memo")->toPlainText(),
            QString(36, QLatin1Char('5')) + QLatin1Char('6'));

  Type(Find<QPlainTextEdit>(s.form, "Track3Memo"), QString(104, QLatin1Char('7')));
  Type(Find<QPlainTextEdit>(s.form, "Track3Memo"), QStringLiteral("8"));
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track3Memo")->toPlainText().size(), 104);
  Find<QPlainTextEdit>(s.form, "Track3Memo")->selectAll();  // typing over a selection replaces it
  Type(Find<QPlainTextEdit>(s.form, "Track3Memo"), QStringLiteral("9"));
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track3Memo")->toPlainText(), QStringLiteral("9"));
}

// The editing keys as the platforms hand them over: X11 gives Ctrl+letter its
// control code as text, other platforms the letter itself.
TEST_F(TypingTest, EditingKeysWorkInFilteredFields) {
  const auto key = [](QWidget* field, int k, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, k, modifiers, text);
    QApplication::sendEvent(field, &press);
  };
  Type(Find<QPlainTextEdit>(s.form, "Track2Memo"), QString(37, QLatin1Char('5')));
  Find<QPlainTextEdit>(s.form, "Track2Memo")->moveCursor(QTextCursor::Start);
  key(Find<QPlainTextEdit>(s.form, "Track2Memo"), Qt::Key_Delete, Qt::NoModifier,
      QStringLiteral("\x7f"));  // even at the length limit
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track2Memo")->toPlainText(), QString(36, QLatin1Char('5')));

  for (const QString& selectAll : {QStringLiteral("\x01"), QStringLiteral("a")}) {
    Find<QLineEdit>(s.form, "TK2StepEdit")->setText(QStringLiteral("123"));
    key(Find<QLineEdit>(s.form, "TK2StepEdit"), Qt::Key_A, Qt::ControlModifier, selectAll);
    EXPECT_EQ(Find<QLineEdit>(s.form, "TK2StepEdit")->selectedText(), QStringLiteral("123")) << selectAll.toStdString();
  }
  key(Find<QLineEdit>(s.form, "TK2StepEdit"), Qt::Key_X, Qt::ControlModifier, QStringLiteral("x"));
  EXPECT_EQ(Find<QLineEdit>(s.form, "TK2StepEdit")->text(), QString());
  key(Find<QLineEdit>(s.form, "TK2StepEdit"), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("\x1a"));
  EXPECT_EQ(Find<QLineEdit>(s.form, "TK2StepEdit")->text(), QStringLiteral("123"));
  key(Find<QLineEdit>(s.form, "WriteCountEdit"), Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
  key(Find<QLineEdit>(s.form, "WriteCountEdit"), Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
  EXPECT_EQ(Find<QLineEdit>(s.form, "WriteCountEdit")->text(), QStringLiteral("123"));
  Find<QLineEdit>(s.form, "WriteCountEdit")->setCursorPosition(0);
  key(Find<QLineEdit>(s.form, "WriteCountEdit"), Qt::Key_End, Qt::NoModifier, QString());
  key(Find<QLineEdit>(s.form, "WriteCountEdit"), Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
  EXPECT_EQ(Find<QLineEdit>(s.form, "WriteCountEdit")->text(), QStringLiteral("12"));
}

TEST_F(TypingTest, ProgramTextIsNeitherFilteredNorCut) {
  const QString record = QStringLiteral("ABC") + QString(60, QLatin1Char('1'));
  Find<QPlainTextEdit>(s.form, "Track2Memo")->setPlainText(record);
  EXPECT_EQ(Find<QPlainTextEdit>(s.form, "Track2Memo")->toPlainText(), record);
}

// --- Write count arrows ----------------------------------------------------------

struct ArrowCase {
  const char* name;
  const char* start;
  bool up;
  bool byKey;  // arrow key in WriteCountEdit instead of a click on WrCouUpDown
  const char* expected;
};

void PrintTo(const ArrowCase& c, std::ostream* os) { *os << c.name; }

class WriteCountArrowTest : public ::testing::TestWithParam<ArrowCase> {};

TEST_P(WriteCountArrowTest, StepsTheCount) {
  const ArrowCase& c = GetParam();
  Station s;
  s.form.show();
  Find<QLineEdit>(s.form, "WriteCountEdit")->setText(QString::fromLatin1(c.start));
  if (c.byKey) {
    PressKey(Find<QLineEdit>(s.form, "WriteCountEdit"), c.up ? Qt::Key_Up : Qt::Key_Down);
  } else {
    QTest::mouseClick(
        c.up ? Find<TUpDown>(s.form, "WrCouUpDown")->UpButton : Find<TUpDown>(s.form, "WrCouUpDown")->DownButton,
        Qt::LeftButton);
  }
  EXPECT_EQ(Find<QLineEdit>(s.form, "WriteCountEdit")->text(), QString::fromLatin1(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteCountArrowTest,
                         ::testing::Values(ArrowCase{"UpWithoutSeparator", "999", true, false, "1000"},
                                           ArrowCase{"NoWrapAtTop", "32767", true, false, "32767"},
                                           ArrowCase{"NoWrapAtBottom", "1", false, false, "1"},
                                           ArrowCase{"Down", "20", false, false, "19"},
                                           ArrowCase{"UpKey", "999", true, true, "1000"},
                                           ArrowCase{"DownKeyStopsAtOne", "1", false, true, "1"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Handlers ---------------------------------------------------------------------

TEST(MainWindowTest, GuardShowsEscapedExceptionsAndGoesOn) {
  Station s;
  s.form.Guarded([] { throw std::runtime_error("Unable to write to /x/VavizEvu.ini"); });
  s.form.Guarded([] { throw 42; });
  bool ran = false;
  s.form.Guarded([&ran] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(s.log->errors.size(), 2);
  EXPECT_EQ(s.log->errors[0], QStringLiteral("Unable to write to /x/VavizEvu.ini"));
}

TEST(MainWindowTest, ComSettingsShowsAFreshModalDialogAndDestroysIt) {
  Station s;
  s.form.show();
  QString seenTitle;
  bool modal = false;
  int polls = 0;
  QTimer closer;
  closer.setInterval(10);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    ++polls;
    if (auto* dialog = qobject_cast<TForm2*>(QApplication::activeModalWidget())) {
      seenTitle = dialog->windowTitle();
      modal = dialog->isModal();
      dialog->findChild<QToolButton*>(QStringLiteral("SpeedButton1"))->click();
    } else if (polls > 500 && QApplication::activeModalWidget() != nullptr) {
      QApplication::activeModalWidget()->close();  // bounded: never hang the suite
    }
  });
  closer.start();
  Find<QToolButton>(s.form, "ToolButton8")->click();
  closer.stop();
  EXPECT_EQ(seenTitle, QStringLiteral("系统设置"));
  EXPECT_TRUE(modal);
  EXPECT_TRUE(s.form.findChildren<TForm2*>().isEmpty());
}

TEST(MainWindowTest, WriteHintsAfterTheWaitFitTheHintLabel) {
  Station s;
  const QLabel* st1 = Find<QLabel>(s.form, "st1");
  for (const char* hint : {station::kWriteTimedOut, station::kWriteTimedOutUndecided}) {
    EXPECT_LE(QFontMetrics(st1->font()).horizontalAdvance(QString::fromUtf8(hint)), st1->contentsRect().width())
        << hint;
  }
}

TEST(MainWindowTest, ExitClosesTheWindow) {
  Station s;
  s.form.show();
  Find<QPlainTextEdit>(s.form, "Memo1")->setPlainText(QStringLiteral("磁道1卡号:0099"));
  Find<QToolButton>(s.form, "ToolButton7")->click();
  EXPECT_FALSE(s.form.isVisible());
  EXPECT_TRUE(s.log->messages.isEmpty());  // no question asked
}

// Work held back for the first paint (the window's icon) runs once, on a turn
// after the window has been painted, and not before the window is shown.
TEST(MainWindowTest, WorkHeldForTheFirstPaintRunsOnceAfterIt) {
  struct PaintCount : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      paints += event->type() == QEvent::Paint;
      return false;
    }
  } count;
  Station s;
  s.form.installEventFilter(&count);
  int runs = 0;
  int paintsBeforeRun = 0;
  ui::AfterFirstPaint(s.form, [&] {
    ++runs;
    paintsBeforeRun = count.paints;
  });
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 0);
  s.form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 5000));
  EXPECT_GE(paintsBeforeRun, 1);
  s.form.repaint();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
}

// The banner's buttons stand in one row, in their design order, each whole
// and apart from the next, inside the banner's row and as high as each other.
TEST(MainWindowTest, BannerButtonsStandInOneRowInsideTheBanner) {
  Station s;
  s.form.show();
  const QWidget* row = Find<QWidget>(s.form, "ToolBar1");
  const QRect inside(QPoint(0, 0), row->size());
  QRect previous;
  for (const char* name : {"ToolButton1", "ToolButton5", "ToolButton6", "ToolButton3", "ToolButton4", "ToolButton8",
                           "ToolButton9", "ToolButton7"}) {
    const QWidget* w = Find<QWidget>(s.form, name);
    ASSERT_EQ(w->parentWidget(), row) << name;
    EXPECT_TRUE(w->isVisible()) << name;
    EXPECT_TRUE(inside.contains(w->geometry())) << name;
    if (const auto* button = qobject_cast<const QToolButton*>(w)) {
      EXPECT_GE(button->width(), button->sizeHint().width()) << name << ": its caption is cut";
    }
    if (previous.isValid()) {
      EXPECT_GT(w->x(), previous.right()) << name;
      EXPECT_EQ(w->geometry().top(), previous.top()) << name;
      EXPECT_EQ(w->height(), previous.height()) << name;
    }
    previous = w->geometry();
  }
}

}  // namespace
