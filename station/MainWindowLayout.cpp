// Construction of the main window's controls, area by area. Positions are
// fixed because the window itself has a fixed size.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include "core/Texts.h"
#include "settings/SettingsLocation.h"
#include "station/MainWindow.h"
#include "ui/FitLabel.h"
#include "ui/PathText.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"
#include "ui/UpDown.h"

namespace {

const QString kPromptStart = QStringLiteral("★提示信息★:");
const QString kFileLabelIdle = QString::fromUtf8(station::kNoFileCaption);

// The help text's last item, naming where saved lists go: the drive's root as
// ever, or the folder that takes its place (on a line of its own, as a path
// may be long).
QStringList HelpListFolderLines(const std::filesystem::path& folder, const QString& caption) {
  if (ui::ListFolderIsDriveRoot(folder)) {
    return {QStringLiteral("8.文件放在") + caption + QStringLiteral("根目录下，以时间"), QStringLiteral("为文件名.")};
  }
  return {QStringLiteral("8.文件放在文件夹"), caption, QStringLiteral("中，以时间为文件名.")};
}

// Every control carries its design name as objectName and accessible
// description, and the caption an operator sees (or the caption of its label)
// as accessible name. Labels whose text changes at run time get no fixed
// accessible name: Qt then reports their current text.
template <typename W>
W* Named(W* widget, const QString& name, const QString& caption) {
  widget->setObjectName(name);
  widget->setAccessibleDescription(name);
  widget->setAccessibleName(caption);
  return widget;
}

template <typename W>
W* NamedLive(W* widget, const QString& name) {
  widget->setObjectName(name);
  widget->setAccessibleDescription(name);
  return widget;
}

QLabel* StaticLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
  auto* label = Named(new QLabel(text, parent), name, text);
  label->setGeometry(geometry);
  return label;
}

QPalette WithColours(QPalette palette, QPalette::ColorRole role, const QColor& colour) {
  palette.setColor(role, colour);
  return palette;
}

QToolButton* ToolbarButton(QToolBar* bar, const QString& name, const QString& caption, QStyle::StandardPixmap icon) {
  auto* button = Named(new QToolButton(bar), name, caption);
  button->setText(caption);
  button->setIcon(bar->style()->standardIcon(icon));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setMinimumWidth(54);
  bar->addWidget(button);
  return button;
}

// One-line field; max length bounds typing (QLineEdit cuts set text to it too,
// which none of these fields ever receives).
QLineEdit* LineField(QWidget* parent, const QString& name, const QString& caption, const QString& text, int maxLength,
                     const QRect& geometry) {
  auto* edit = Named(new QLineEdit(text, parent), name, caption);
  edit->setMaxLength(maxLength);
  edit->setGeometry(geometry);
  return edit;
}

}  // namespace

void TForm1::BuildBanner(QWidget* client) {
  Panel1 = Named(new TPicture(station::PaintBanner, client), QStringLiteral("Panel1"), QString());
  Panel1->setGeometry(0, 0, 757, 44);

  const QFont titleFont = settings::UiFont(16, true);
  const QString title = QStringLiteral("QV-418磁卡读写程序");
  Label5 = Named(new QLabel(title, Panel1), QStringLiteral("Label5"), title);
  Label5->setFont(titleFont);
  Label5->setPalette(WithColours(Label5->palette(), QPalette::WindowText, Qt::white));
  Label5->setGeometry(11, 12, 190, 22);
  Label3 = Named(new QLabel(title, Panel1), QStringLiteral("Label3"), title);
  Label3->setFont(titleFont);
  Label3->setPalette(WithColours(Label3->palette(), QPalette::WindowText, QColor(0, 0, 128)));
  Label3->setGeometry(10, 11, 190, 22);

  Image1 = Named(new TPicture(station::PaintBannerCard, Panel1), QStringLiteral("Image1"), QString());
  Image1->setGeometry(657, 0, 100, 44);

  ToolBar1 = Named(new QToolBar(Panel1), QStringLiteral("ToolBar1"), QString());
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(16, 16));
  ToolBar1->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; }"));
  ToolButton1 = ToolBar1->addSeparator();
  ToolButton1->setObjectName(QStringLiteral("ToolButton1"));
  ToolButton5 = ToolbarButton(ToolBar1, QStringLiteral("ToolButton5"), QStringLiteral("端口打开"), QStyle::SP_MediaPlay);
  ToolButton6 = ToolbarButton(ToolBar1, QStringLiteral("ToolButton6"), QStringLiteral("端口关闭"), QStyle::SP_MediaStop);
  ToolButton3 = ToolbarButton(ToolBar1, QStringLiteral("ToolButton3"), QStringLiteral("复位"), QStyle::SP_BrowserReload);
  ToolButton4 =
      ToolbarButton(ToolBar1, QStringLiteral("ToolButton4"), QStringLiteral("取状态"), QStyle::SP_MessageBoxQuestion);
  ToolButton8 = ToolbarButton(ToolBar1, QStringLiteral("ToolButton8"), QStringLiteral("com设定"), QStyle::SP_ComputerIcon);
  ToolButton9 =
      ToolbarButton(ToolBar1, QStringLiteral("ToolButton9"), QStringLiteral("记录"), QStyle::SP_FileDialogDetailedView);
  ToolButton7 =
      ToolbarButton(ToolBar1, QStringLiteral("ToolButton7"), QStringLiteral("退出"), QStyle::SP_DialogCloseButton);
  ToolBar1->setGeometry(215, 1, 500, 42);

  Panel2 = Named(new QWidget(client), QStringLiteral("Panel2"), QString());
  Panel2->setAutoFillBackground(true);
  Panel2->setPalette(WithColours(Panel2->palette(), QPalette::Window, QColor(255, 128, 0)));
  Panel2->setGeometry(0, 44, 757, 5);
}

QString TForm1::ListFolderCaption() const {
  return ui::ListFolderCaption(ListFolder(), settings::CurrentSettingsPlaces().home);
}

void TForm1::BuildCardList(QWidget* client) {
  const QString heading = QStringLiteral("写入卡号信息:") + ListFolderCaption();
  Label4 = NamedLive(new ui::FitLabel(client), QStringLiteral("Label4"));
  Label4->setGeometry(6, 56, 112, 20);
  Label4->SetFullText(heading);

  SpeedButton1 = Named(new QToolButton(client), QStringLiteral("SpeedButton1"), QStringLiteral("保存"));
  SpeedButton1->setText(QStringLiteral("保存"));
  SpeedButton1->setGeometry(120, 54, 44, 22);

  Memo1 = Named(new QPlainTextEdit(client), QStringLiteral("Memo1"), heading);
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setGeometry(6, 78, 163, 392);
}

void TForm1::BuildTrackPanel(QWidget* client) {
  Panel3 = Named(new QWidget(client), QStringLiteral("Panel3"), QString());
  Panel3->setGeometry(170, 50, 366, 422);
  for (int track = 1; track <= 3; ++track) BuildTrackGroup(track, Panel3, 2 + (track - 1) * 124);

  const QString countCaption = QStringLiteral("连续写卡次数:");
  Label10 = StaticLabel(Panel3, QStringLiteral("Label10"), countCaption, QRect(70, 386, 90, 20));
  WriteCountEdit = LineField(Panel3, QStringLiteral("WriteCountEdit"), countCaption, QStringLiteral("1"), 9,
                             QRect(160, 384, 80, 22));
  WrCouUpDown = Named(new TUpDown(WriteCountEdit, 1, 32767, Panel3), QStringLiteral("WrCouUpDown"), countCaption);
  WrCouUpDown->setGeometry(240, 384, 16, 22);
  Named(WrCouUpDown->UpButton, QStringLiteral("WrCouUpDownUp"), countCaption);
  Named(WrCouUpDown->DownButton, QStringLiteral("WrCouUpDownDown"), countCaption);
  StaticLabel(Panel3, QStringLiteral("WriteCountUnitLabel"), QStringLiteral("次"), QRect(262, 386, 20, 20));
}

void TForm1::BuildTrackGroup(int track, QWidget* panel, int top) {
  const QString n = QString::number(track);
  const int limit = track == 2 ? 37 : 104;
  const int shownLimit = track == 1 ? 76 : limit;
  const QString caption = QStringLiteral("磁道%1数据").arg(n);

  auto* group = Named(new QGroupBox(panel), QStringLiteral("TK%1GroupBox").arg(n), caption);
  group->setGeometry(4, top, 358, 120);

  const QString boxText = QStringLiteral("%1(0/%2)").arg(caption).arg(shownLimit);
  auto* trackBox = Named(new QCheckBox(boxText, group), QStringLiteral("TK%1CheckBox").arg(n), boxText);
  trackBox->setAutoFillBackground(true);  // covers the frame line, so the box reads as the group's title
  trackBox->setGeometry(8, 0, 130, 18);

  auto* fileLabel = NamedLive(new QLabel(kFileLabelIdle, group), QStringLiteral("tk%1disp").arg(n));
  fileLabel->setGeometry(144, 1, 208, 16);

  auto* field = Named(new QPlainTextEdit(group), QStringLiteral("Track%1Memo").arg(n), caption);
  field->setGeometry(8, 20, 342, 36);
  field->setTabChangesFocus(true);
  field->setAttribute(Qt::WA_InputMethodEnabled, false);  // only directly typed characters reach a track field
  field->setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
  field->setProperty("maxTypedLength", track == 1 ? 104 : limit);

  const QString stepCaption = QStringLiteral("增量");
  const QString startCaption = QStringLiteral("开始记录号");
  StaticLabel(group, QStringLiteral("TK%1StepLabel").arg(n), stepCaption, QRect(150, 58, 60, 14));
  StaticLabel(group, QStringLiteral("TK%1FileStepLabel").arg(n), startCaption, QRect(250, 58, 80, 14));

  const QString continuousText = QStringLiteral("磁道%1连续写卡").arg(n);
  auto* continuousBox =
      Named(new QCheckBox(continuousText, group), QStringLiteral("TK%1AutoIncCheckBox").arg(n), continuousText);
  continuousBox->setGeometry(8, 74, 136, 20);
  auto* stepField = LineField(group, QStringLiteral("TK%1StepEdit").arg(n), stepCaption, QStringLiteral("1"),
                              track == 2 ? 9 : 1, QRect(150, 73, 90, 20));
  auto* startField = LineField(group, QStringLiteral("tk%1file_step").arg(n), startCaption, QStringLiteral("1"),
                               track == 1 ? 1 : 7, QRect(250, 73, 50, 20));

  const QString fileText = QStringLiteral("文件数据写卡");
  auto* fileBox = Named(new QCheckBox(fileText, group), QStringLiteral("tk%1filename").arg(n), fileText);
  fileBox->setGeometry(8, 96, 136, 20);
  const QString browseName = track == 1 ? QStringLiteral("tk1sb") : QStringLiteral("tk%1Sb").arg(n);
  auto* browse = Named(new QToolButton(group), browseName, QStringLiteral("浏览"));
  browse->setText(QStringLiteral("浏览"));
  browse->setGeometry(150, 96, 50, 20);

  for (QLineEdit* edit : {stepField, startField}) {
    // Typed letters would become capitals; the key filters admit none anyway.
    edit->setInputMethodHints(Qt::ImhPreferUppercase | Qt::ImhDigitsOnly);
  }

  switch (track) {
    case 1:
      TK1GroupBox = group, TK1CheckBox = trackBox, Track1Memo = field, TK1AutoIncCheckBox = continuousBox;
      TK1StepEdit = stepField, tk1filename = fileBox, tk1sb = browse, tk1file_step = startField, tk1disp = fileLabel;
      break;
    case 2:
      TK2GroupBox = group, TK2CheckBox = trackBox, Track2Memo = field, TK2AutoIncCheckBox = continuousBox;
      TK2StepEdit = stepField, tk2filename = fileBox, tk2Sb = browse, tk2file_step = startField, tk2disp = fileLabel;
      break;
    default:
      TK3GroupBox = group, TK3CheckBox = trackBox, Track3Memo = field, TK3AutoIncCheckBox = continuousBox;
      TK3StepEdit = stepField, tk3filename = fileBox, tk3Sb = browse, tk3file_step = startField, tk3disp = fileLabel;
      break;
  }
}

void TForm1::BuildRightColumn(QWidget* client) {
  static const char* const kHelpLines[] = {
      "说明：",
      "1.读写卡前,请点击【端口打",
      "开】.",
      "2.按写卡按钮一次，写一张卡，",
      "如果不刷卡，系统等待20秒自动",
      "复位。",
      "3.可以设定连续号功能，自动跳",
      "到下一张。",
      "4.刷卡出错，号码不变，自动复",
      "位写卡",
      "5.串口设定可按设定按钮来选择",
      "不同的串口，从com1-com8,默认",
      "com1.",
      "6.当大于2000个时，系统自动刷",
      "新",
      "显示卡号的信息。",
      "7.手工保存请按保存按钮。",
  };
  QStringList help;
  for (const char* line : kHelpLines) help << QString::fromUtf8(line);
  help << HelpListFolderLines(ListFolder(), ListFolderCaption());

  RichEdit1 = Named(new QTextEdit(client), QStringLiteral("RichEdit1"), QString());
  RichEdit1->setReadOnly(true);
  RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
  RichEdit1->setPlainText(help.join(QLatin1Char('\n')));
  QPalette palette = RichEdit1->palette();
  palette.setColor(QPalette::Base, QColor(212, 208, 200));
  palette.setColor(QPalette::Text, QColor(0, 128, 128));
  RichEdit1->setPalette(palette);
  RichEdit1->setGeometry(540, 54, 211, 336);

  Image2 = Named(new TPicture(station::PaintStrip, client), QStringLiteral("Image2"), QString());
  Image2->setGeometry(540, 394, 211, 5);

  DeviceImage = Named(new TPicture(station::PaintCardDevice, client), QStringLiteral("DeviceImage"), QString());
  DeviceImage->setGeometry(540, 402, 104, 70);

  WriteModePanel = NamedLive(new QLabel(client), QStringLiteral("WriteModePanel"));
  WriteModePanel->setAlignment(Qt::AlignCenter);
  WriteModePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  WriteModePanel->setAutoFillBackground(true);
  WriteModePanel->setFont(settings::UiFont(14, true));
  WriteModePanel->setGeometry(650, 404, 101, 28);

  const QString timerCaption = QStringLiteral("写卡计时");
  Panel4 = Named(new QFrame(client), QStringLiteral("Panel4"), timerCaption);
  Panel4->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel4->setGeometry(650, 438, 101, 30);
  StaticLabel(Panel4, QStringLiteral("Panel4TimerLabel"), timerCaption, QRect(4, 7, 50, 16));
  l_timer = NamedLive(new QLabel(QStringLiteral("00"), Panel4), QStringLiteral("l_timer"));
  l_timer->setFont(settings::UiFont(16, true));
  l_timer->setPalette(WithColours(l_timer->palette(), QPalette::WindowText, Qt::red));
  l_timer->setAlignment(Qt::AlignCenter);
  l_timer->setGeometry(54, 3, 28, 24);
  StaticLabel(Panel4, QStringLiteral("Panel4SecondsLabel"), QStringLiteral("秒"), QRect(84, 7, 14, 16));
}

void TForm1::BuildBottomRow(QWidget* client) {
  st2 = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st2"));
  st2->setGeometry(6, 484, 228, 20);

  BitBtn1 = Named(new QPushButton(QStringLiteral("读卡"), client), QStringLiteral("BitBtn1"), QStringLiteral("读卡"));
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  BitBtn1->setGeometry(250, 478, 90, 32);

  BitBtn3 = Named(new QPushButton(QStringLiteral("写卡"), client), QStringLiteral("BitBtn3"), QStringLiteral("写卡"));
  BitBtn3->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  BitBtn3->setGeometry(400, 478, 90, 32);

  st1 = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st1"));
  st1->setGeometry(520, 484, 231, 20);
}

void TForm1::BuildStatusBar() {
  MainStatusBar = Named(new QStatusBar(this), QStringLiteral("MainStatusBar"), QString());
  MainStatusBar->setSizeGripEnabled(false);
  MainStatusBar->setFixedHeight(20);
  setStatusBar(MainStatusBar);
  for (int i = 0; i < 3; ++i) {
    auto* panel = NamedLive(new ui::FitLabel(MainStatusBar), QStringLiteral("MainStatusBarPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    MainStatusBarPanels[static_cast<std::size_t>(i)] = panel;
  }
  MainStatusBarPanels[0]->setFixedWidth(200);
  MainStatusBarPanels[0]->setAlignment(Qt::AlignCenter);
  MainStatusBarPanels[1]->setFixedWidth(50);
  MainStatusBarPanels[1]->setAlignment(Qt::AlignCenter);
  MainStatusBarPanels[2]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  MainStatusBar->addWidget(MainStatusBarPanels[0]);
  MainStatusBar->addWidget(MainStatusBarPanels[1]);
  MainStatusBar->addWidget(MainStatusBarPanels[2], 1);
}
