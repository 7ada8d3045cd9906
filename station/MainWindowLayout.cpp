// Construction of the main window's controls, area by area. Positions are
// fixed because the window itself has a fixed size.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include "core/Texts.h"
#include "station/MainWindowControls.h"
#include "ui/FitLabel.h"
#include "ui/PathText.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"
#include "ui/UpDown.h"

namespace station {
namespace {

const QString kPromptStart = QStringLiteral("★提示信息★:");
const QString kFileLabelIdle = QString::fromUtf8(kNoFileCaption);

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

QPushButton* BottomButton(QWidget* client, const QString& name, const QString& caption, QStyle::StandardPixmap icon,
                          int left) {
  auto* button = Named(new QPushButton(caption, client), name, caption);
  button->setIcon(client->style()->standardIcon(icon));
  button->setGeometry(left, 478, 90, 32);
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

struct ToolbarEntry {
  const char* name;
  const char* caption;
  QStyle::StandardPixmap icon;
  Press press;
};

const ToolbarEntry kToolbar[] = {
    {"ToolButton5", "端口打开", QStyle::SP_MediaPlay, Press::openPort},
    {"ToolButton6", "端口关闭", QStyle::SP_MediaStop, Press::closePort},
    {"ToolButton3", "复位", QStyle::SP_BrowserReload, Press::reset},
    {"ToolButton4", "取状态", QStyle::SP_MessageBoxQuestion, Press::status},
    {"ToolButton8", "com设定", QStyle::SP_ComputerIcon, Press::settings},
    {"ToolButton9", "记录", QStyle::SP_FileDialogDetailedView, Press::journal},
    {"ToolButton7", "退出", QStyle::SP_DialogCloseButton, Press::exit},
};

void BuildBanner(QWidget* client, MainWindowControls& c) {
  auto* banner = Named(new TPicture(PaintBanner, client), QStringLiteral("Panel1"), QString());
  banner->setGeometry(0, 0, 757, 44);

  const QFont titleFont = settings::UiFont(16, true);
  const QString title = QStringLiteral("QV-418磁卡读写程序");
  auto* titleShadow = Named(new QLabel(title, banner), QStringLiteral("Label5"), title);
  titleShadow->setFont(titleFont);
  titleShadow->setPalette(WithColours(titleShadow->palette(), QPalette::WindowText, Qt::white));
  titleShadow->setGeometry(11, 12, 190, 22);
  auto* titleLabel = Named(new QLabel(title, banner), QStringLiteral("Label3"), title);
  titleLabel->setFont(titleFont);
  titleLabel->setPalette(WithColours(titleLabel->palette(), QPalette::WindowText, QColor(0, 0, 128)));
  titleLabel->setGeometry(10, 11, 190, 22);

  auto* bannerCard = Named(new TPicture(PaintBannerCard, banner), QStringLiteral("Image1"), QString());
  bannerCard->setGeometry(657, 0, 100, 44);

  auto* toolBar = Named(new QToolBar(banner), QStringLiteral("ToolBar1"), QString());
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setIconSize(QSize(16, 16));
  toolBar->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; }"));
  toolBar->addSeparator()->setObjectName(QStringLiteral("ToolButton1"));
  for (const ToolbarEntry& entry : kToolbar) {
    c.button(entry.press) =
        ToolbarButton(toolBar, QString::fromLatin1(entry.name), QString::fromUtf8(entry.caption), entry.icon);
  }
  toolBar->setGeometry(215, 1, 500, 42);

  auto* bannerStripe = Named(new QWidget(client), QStringLiteral("Panel2"), QString());
  bannerStripe->setAutoFillBackground(true);
  bannerStripe->setPalette(WithColours(bannerStripe->palette(), QPalette::Window, QColor(255, 128, 0)));
  bannerStripe->setGeometry(0, 44, 757, 5);
}

void BuildCardList(QWidget* client, MainWindowControls& c, const QString& listFolderCaption) {
  const QString heading = QStringLiteral("写入卡号信息:") + listFolderCaption;
  auto* cardListLabel = NamedLive(new ui::FitLabel(client), QStringLiteral("Label4"));
  cardListLabel->setGeometry(6, 56, 112, 20);
  cardListLabel->SetFullText(heading);

  auto* saveButton = Named(new QToolButton(client), QStringLiteral("SpeedButton1"), QStringLiteral("保存"));
  saveButton->setText(QStringLiteral("保存"));
  saveButton->setGeometry(120, 54, 44, 22);
  c.button(Press::saveList) = saveButton;

  c.cardListMemo = Named(new QPlainTextEdit(client), QStringLiteral("Memo1"), heading);
  c.cardListMemo->setReadOnly(true);
  c.cardListMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.cardListMemo->setGeometry(6, 78, 163, 392);
}

void BuildTrackGroup(int track, QWidget* panel, int top, TrackGroup& g) {
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

  g = {group, trackBox, field, continuousBox, stepField, fileBox, browse, startField, fileLabel};
}

void BuildTrackPanel(QWidget* client, MainWindowControls& c) {
  auto* trackPanel = Named(new QWidget(client), QStringLiteral("Panel3"), QString());
  trackPanel->setGeometry(170, 50, 366, 422);
  for (int track = 1; track <= 3; ++track) BuildTrackGroup(track, trackPanel, 2 + (track - 1) * 124, c.tracks[track]);

  const QString countCaption = QStringLiteral("连续写卡次数:");
  StaticLabel(trackPanel, QStringLiteral("Label10"), countCaption, QRect(70, 386, 90, 20));
  c.writeCountField = LineField(trackPanel, QStringLiteral("WriteCountEdit"), countCaption, QStringLiteral("1"), 9,
                                QRect(160, 384, 80, 22));
  c.writeCountUpDown =
      Named(new TUpDown(c.writeCountField, 1, 32767, trackPanel), QStringLiteral("WrCouUpDown"), countCaption);
  c.writeCountUpDown->setGeometry(240, 384, 16, 22);
  Named(c.writeCountUpDown->UpButton, QStringLiteral("WrCouUpDownUp"), countCaption);
  Named(c.writeCountUpDown->DownButton, QStringLiteral("WrCouUpDownDown"), countCaption);
  StaticLabel(trackPanel, QStringLiteral("WriteCountUnitLabel"), QStringLiteral("次"), QRect(262, 386, 20, 20));
}

void BuildRightColumn(QWidget* client, MainWindowControls& c, const QStringList& listFolderHelp) {
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
  help << listFolderHelp;

  auto* helpText = Named(new QTextEdit(client), QStringLiteral("RichEdit1"), QString());
  helpText->setReadOnly(true);
  helpText->setLineWrapMode(QTextEdit::NoWrap);
  helpText->setPlainText(help.join(QLatin1Char('\n')));
  QPalette palette = helpText->palette();
  palette.setColor(QPalette::Base, QColor(212, 208, 200));
  palette.setColor(QPalette::Text, QColor(0, 128, 128));
  helpText->setPalette(palette);
  helpText->setGeometry(540, 54, 211, 336);

  auto* strip = Named(new TPicture(PaintStrip, client), QStringLiteral("Image2"), QString());
  strip->setGeometry(540, 394, 211, 5);

  auto* deviceImage = Named(new TPicture(PaintCardDevice, client), QStringLiteral("DeviceImage"), QString());
  deviceImage->setGeometry(540, 402, 104, 70);

  c.writeModePanel = NamedLive(new QLabel(client), QStringLiteral("WriteModePanel"));
  c.writeModePanel->setAlignment(Qt::AlignCenter);
  c.writeModePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  c.writeModePanel->setAutoFillBackground(true);
  c.writeModePanel->setFont(settings::UiFont(14, true));
  c.writeModePanel->setGeometry(650, 404, 101, 28);

  const QString timerCaption = QStringLiteral("写卡计时");
  auto* timerPanel = Named(new QFrame(client), QStringLiteral("Panel4"), timerCaption);
  timerPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  timerPanel->setGeometry(650, 438, 101, 30);
  StaticLabel(timerPanel, QStringLiteral("Panel4TimerLabel"), timerCaption, QRect(4, 7, 50, 16));
  c.secondsLabel = NamedLive(new QLabel(QStringLiteral("00"), timerPanel), QStringLiteral("l_timer"));
  c.secondsLabel->setFont(settings::UiFont(16, true));
  c.secondsLabel->setPalette(WithColours(c.secondsLabel->palette(), QPalette::WindowText, Qt::red));
  c.secondsLabel->setAlignment(Qt::AlignCenter);
  c.secondsLabel->setGeometry(54, 3, 28, 24);
  StaticLabel(timerPanel, QStringLiteral("Panel4SecondsLabel"), QStringLiteral("秒"), QRect(84, 7, 14, 16));
}

void BuildBottomRow(QWidget* client, MainWindowControls& c) {
  c.textPlace(TextSlot::readPrompt) = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st2"));
  c.textPlace(TextSlot::readPrompt)->setGeometry(6, 484, 228, 20);

  c.button(Press::read) =
      BottomButton(client, QStringLiteral("BitBtn1"), QStringLiteral("读卡"), QStyle::SP_ArrowDown, 250);
  c.button(Press::write) =
      BottomButton(client, QStringLiteral("BitBtn3"), QStringLiteral("写卡"), QStyle::SP_DialogSaveButton, 400);

  c.textPlace(TextSlot::writePrompt) = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st1"));
  c.textPlace(TextSlot::writePrompt)->setGeometry(520, 484, 231, 20);
}

void BuildStatusBar(QMainWindow& window, MainWindowControls& c) {
  auto* statusBar = Named(new QStatusBar(&window), QStringLiteral("MainStatusBar"), QString());
  statusBar->setSizeGripEnabled(false);
  statusBar->setFixedHeight(20);
  window.setStatusBar(statusBar);
  std::array<ui::FitLabel*, 3> panels{};
  for (std::size_t i = 0; i < panels.size(); ++i) {
    panels[i] = NamedLive(new ui::FitLabel(statusBar), QStringLiteral("MainStatusBarPanel%1").arg(i));
    panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  }
  // Left to right: the port's state, a panel left empty, the operation's messages.
  panels[0]->setFixedWidth(200);
  panels[0]->setAlignment(Qt::AlignCenter);
  panels[1]->setFixedWidth(50);
  panels[1]->setAlignment(Qt::AlignCenter);
  panels[2]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  statusBar->addWidget(panels[0]);
  statusBar->addWidget(panels[1]);
  statusBar->addWidget(panels[2], 1);
  c.textPlace(TextSlot::portState) = panels[0];
  c.textPlace(TextSlot::operation) = panels[2];
}

}  // namespace

void BuildMainWindow(QMainWindow& window, MainWindowControls& controls, const std::filesystem::path& listFolder,
                     const QString& listFolderCaption) {
  auto* client = new QWidget(&window);
  client->setObjectName(QStringLiteral("Form1Client"));
  client->setAccessibleDescription(client->objectName());
  window.setCentralWidget(client);
  BuildBanner(client, controls);
  BuildCardList(client, controls, listFolderCaption);
  BuildTrackPanel(client, controls);
  BuildRightColumn(client, controls, HelpListFolderLines(listFolder, listFolderCaption));
  BuildBottomRow(client, controls);
  BuildStatusBar(window, controls);
}

}  // namespace station
