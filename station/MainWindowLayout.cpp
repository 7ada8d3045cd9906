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
  banner_ = Named(new TPicture(station::PaintBanner, client), QStringLiteral("Panel1"), QString());
  banner_->setGeometry(0, 0, 757, 44);

  const QFont titleFont = settings::UiFont(16, true);
  const QString title = QStringLiteral("QV-418磁卡读写程序");
  titleShadow_ = Named(new QLabel(title, banner_), QStringLiteral("Label5"), title);
  titleShadow_->setFont(titleFont);
  titleShadow_->setPalette(WithColours(titleShadow_->palette(), QPalette::WindowText, Qt::white));
  titleShadow_->setGeometry(11, 12, 190, 22);
  title_ = Named(new QLabel(title, banner_), QStringLiteral("Label3"), title);
  title_->setFont(titleFont);
  title_->setPalette(WithColours(title_->palette(), QPalette::WindowText, QColor(0, 0, 128)));
  title_->setGeometry(10, 11, 190, 22);

  bannerCard_ = Named(new TPicture(station::PaintBannerCard, banner_), QStringLiteral("Image1"), QString());
  bannerCard_->setGeometry(657, 0, 100, 44);

  toolBar_ = Named(new QToolBar(banner_), QStringLiteral("ToolBar1"), QString());
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; }"));
  toolbarSeparator_ = toolBar_->addSeparator();
  toolbarSeparator_->setObjectName(QStringLiteral("ToolButton1"));
  openPortButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton5"), QStringLiteral("端口打开"), QStyle::SP_MediaPlay);
  closePortButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton6"), QStringLiteral("端口关闭"), QStyle::SP_MediaStop);
  resetButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton3"), QStringLiteral("复位"), QStyle::SP_BrowserReload);
  statusButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton4"), QStringLiteral("取状态"), QStyle::SP_MessageBoxQuestion);
  settingsButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton8"), QStringLiteral("com设定"), QStyle::SP_ComputerIcon);
  journalButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton9"), QStringLiteral("记录"), QStyle::SP_FileDialogDetailedView);
  exitButton_ =
      ToolbarButton(toolBar_, QStringLiteral("ToolButton7"), QStringLiteral("退出"), QStyle::SP_DialogCloseButton);
  toolBar_->setGeometry(215, 1, 500, 42);

  bannerStripe_ = Named(new QWidget(client), QStringLiteral("Panel2"), QString());
  bannerStripe_->setAutoFillBackground(true);
  bannerStripe_->setPalette(WithColours(bannerStripe_->palette(), QPalette::Window, QColor(255, 128, 0)));
  bannerStripe_->setGeometry(0, 44, 757, 5);
}

QString TForm1::ListFolderCaption() const {
  return ui::ListFolderCaption(ListFolder(), settings::CurrentSettingsPlaces().home);
}

void TForm1::BuildCardList(QWidget* client) {
  const QString heading = QStringLiteral("写入卡号信息:") + ListFolderCaption();
  cardListLabel_ = NamedLive(new ui::FitLabel(client), QStringLiteral("Label4"));
  cardListLabel_->setGeometry(6, 56, 112, 20);
  cardListLabel_->SetFullText(heading);

  saveListButton_ = Named(new QToolButton(client), QStringLiteral("SpeedButton1"), QStringLiteral("保存"));
  saveListButton_->setText(QStringLiteral("保存"));
  saveListButton_->setGeometry(120, 54, 44, 22);

  cardListMemo_ = Named(new QPlainTextEdit(client), QStringLiteral("Memo1"), heading);
  cardListMemo_->setReadOnly(true);
  cardListMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  cardListMemo_->setGeometry(6, 78, 163, 392);
  cardList_ = std::make_unique<station::CardList>(*cardListMemo_);
}

void TForm1::BuildTrackPanel(QWidget* client) {
  trackPanel_ = Named(new QWidget(client), QStringLiteral("Panel3"), QString());
  trackPanel_->setGeometry(170, 50, 366, 422);
  for (int track = 1; track <= 3; ++track) BuildTrackGroup(track, trackPanel_, 2 + (track - 1) * 124);

  const QString countCaption = QStringLiteral("连续写卡次数:");
  writeCountLabel_ = StaticLabel(trackPanel_, QStringLiteral("Label10"), countCaption, QRect(70, 386, 90, 20));
  writeCountField_ = LineField(trackPanel_, QStringLiteral("WriteCountEdit"), countCaption, QStringLiteral("1"), 9,
                               QRect(160, 384, 80, 22));
  writeCountUpDown_ =
      Named(new TUpDown(writeCountField_, 1, 32767, trackPanel_), QStringLiteral("WrCouUpDown"), countCaption);
  writeCountUpDown_->setGeometry(240, 384, 16, 22);
  Named(writeCountUpDown_->UpButton, QStringLiteral("WrCouUpDownUp"), countCaption);
  Named(writeCountUpDown_->DownButton, QStringLiteral("WrCouUpDownDown"), countCaption);
  StaticLabel(trackPanel_, QStringLiteral("WriteCountUnitLabel"), QStringLiteral("次"), QRect(262, 386, 20, 20));
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

  station::RecordFile* dataFile = track == 1 ? nullptr : &session_.files()[track].file;
  trackGroups_[static_cast<std::size_t>(track)] = {group,   trackBox, field,      continuousBox, stepField,
                                                   fileBox, browse,   startField, fileLabel,     dataFile};
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

  helpText_ = Named(new QTextEdit(client), QStringLiteral("RichEdit1"), QString());
  helpText_->setReadOnly(true);
  helpText_->setLineWrapMode(QTextEdit::NoWrap);
  helpText_->setPlainText(help.join(QLatin1Char('\n')));
  QPalette palette = helpText_->palette();
  palette.setColor(QPalette::Base, QColor(212, 208, 200));
  palette.setColor(QPalette::Text, QColor(0, 128, 128));
  helpText_->setPalette(palette);
  helpText_->setGeometry(540, 54, 211, 336);

  strip_ = Named(new TPicture(station::PaintStrip, client), QStringLiteral("Image2"), QString());
  strip_->setGeometry(540, 394, 211, 5);

  deviceImage_ = Named(new TPicture(station::PaintCardDevice, client), QStringLiteral("DeviceImage"), QString());
  deviceImage_->setGeometry(540, 402, 104, 70);

  writeModePanel_ = NamedLive(new QLabel(client), QStringLiteral("WriteModePanel"));
  writeModePanel_->setAlignment(Qt::AlignCenter);
  writeModePanel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  writeModePanel_->setAutoFillBackground(true);
  writeModePanel_->setFont(settings::UiFont(14, true));
  writeModePanel_->setGeometry(650, 404, 101, 28);

  const QString timerCaption = QStringLiteral("写卡计时");
  timerPanel_ = Named(new QFrame(client), QStringLiteral("Panel4"), timerCaption);
  timerPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  timerPanel_->setGeometry(650, 438, 101, 30);
  StaticLabel(timerPanel_, QStringLiteral("Panel4TimerLabel"), timerCaption, QRect(4, 7, 50, 16));
  secondsLabel_ = NamedLive(new QLabel(QStringLiteral("00"), timerPanel_), QStringLiteral("l_timer"));
  secondsLabel_->setFont(settings::UiFont(16, true));
  secondsLabel_->setPalette(WithColours(secondsLabel_->palette(), QPalette::WindowText, Qt::red));
  secondsLabel_->setAlignment(Qt::AlignCenter);
  secondsLabel_->setGeometry(54, 3, 28, 24);
  StaticLabel(timerPanel_, QStringLiteral("Panel4SecondsLabel"), QStringLiteral("秒"), QRect(84, 7, 14, 16));
}

void TForm1::BuildBottomRow(QWidget* client) {
  readPrompt_ = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st2"));
  readPrompt_->setGeometry(6, 484, 228, 20);

  readButton_ =
      Named(new QPushButton(QStringLiteral("读卡"), client), QStringLiteral("BitBtn1"), QStringLiteral("读卡"));
  readButton_->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  readButton_->setGeometry(250, 478, 90, 32);

  writeButton_ =
      Named(new QPushButton(QStringLiteral("写卡"), client), QStringLiteral("BitBtn3"), QStringLiteral("写卡"));
  writeButton_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  writeButton_->setGeometry(400, 478, 90, 32);

  writePrompt_ = NamedLive(new ui::FitLabel(kPromptStart, client), QStringLiteral("st1"));
  writePrompt_->setGeometry(520, 484, 231, 20);
}

void TForm1::BuildStatusBar() {
  statusBar_ = Named(new QStatusBar(this), QStringLiteral("MainStatusBar"), QString());
  statusBar_->setSizeGripEnabled(false);
  statusBar_->setFixedHeight(20);
  setStatusBar(statusBar_);
  for (int i = 0; i < 3; ++i) {
    auto* panel = NamedLive(new ui::FitLabel(statusBar_), QStringLiteral("MainStatusBarPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusPanels_[static_cast<std::size_t>(i)] = panel;
  }
  statusPanels_[0]->setFixedWidth(200);
  statusPanels_[0]->setAlignment(Qt::AlignCenter);
  statusPanels_[1]->setFixedWidth(50);
  statusPanels_[1]->setAlignment(Qt::AlignCenter);
  statusPanels_[2]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  statusBar_->addWidget(statusPanels_[0]);
  statusBar_->addWidget(statusPanels_[1]);
  statusBar_->addWidget(statusPanels_[2], 1);
}
