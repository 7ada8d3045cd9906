// Construction of the main window's controls, area by area. Positions are
// fixed because the window itself has a fixed size.
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
#include <QToolButton>

#include <algorithm>
#include <vector>

#include "core/Texts.h"
#include "station/ControlNaming.h"
#include "station/HelpText.h"
#include "station/MainWindowControls.h"
#include "ui/FitLabel.h"
#include "ui/PathText.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"
#include "ui/UpDown.h"

namespace station {
namespace {

const QString kPromptStart = QStringLiteral("★提示信息★:");

QPalette WithColours(QPalette palette, QPalette::ColorRole role, const QColor& colour) {
  palette.setColor(role, colour);
  return palette;
}

QToolButton* ToolbarButton(QWidget* row, const QString& name, const QString& caption, QStyle::StandardPixmap icon) {
  auto* button = Named(new QToolButton(row), name, caption);
  button->setText(caption);
  button->setIcon(row->style()->standardIcon(icon));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setMinimumWidth(54);
  return button;
}

// Places a row's widgets left to right as the banner's borderless tool bar
// did: the style's item margin all round, its item spacing between them, each
// as wide as it asks and all as high as the highest, cut to the row.
void LayOutToolRow(QWidget* row, const std::vector<QWidget*>& widgets) {
  const QStyle* style = row->style();
  const int margin = style->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, row);
  const int spacing = style->pixelMetric(QStyle::PM_ToolBarItemSpacing, nullptr, row);
  int height = 0;
  for (const QWidget* w : widgets) height = std::max(height, w->sizeHint().height());
  height = std::min(height, row->height() - 2 * margin);
  int left = margin;
  for (QWidget* w : widgets) {
    const int width = std::max(w->sizeHint().width(), w->minimumWidth());
    w->setGeometry(left, margin, width, height);
    left += width + spacing;
  }
}

QPushButton* BottomButton(QWidget* client, const QString& name, const QString& caption, QStyle::StandardPixmap icon,
                          int left) {
  auto* button = Named(new QPushButton(caption, client), name, caption);
  button->setIcon(client->style()->standardIcon(icon));
  button->setGeometry(left, 478, 90, 32);
  return button;
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

  // A plain row rather than a QToolBar: the tool bar needed a style sheet to
  // lose its frame, which put every button under Qt's style-sheet style at
  // start, and it builds an extension button the banner never shows.
  auto* toolRow = Named(new QWidget(banner), QStringLiteral("ToolBar1"), QString());
  toolRow->setGeometry(215, 1, 500, 42);
  // The buttons' captions keep the application's font, as the tool bar gave
  // them, not the window's.
  toolRow->setFont(QApplication::font());
  std::vector<QWidget*> rowWidgets{Named(new TToolSeparator(toolRow), QStringLiteral("ToolButton1"), QString())};
  for (const ToolbarEntry& entry : kToolbar) {
    c.button(entry.press) =
        ToolbarButton(toolRow, QString::fromLatin1(entry.name), QString::fromUtf8(entry.caption), entry.icon);
    rowWidgets.push_back(c.button(entry.press));
  }
  LayOutToolRow(toolRow, rowWidgets);

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

void BuildTrackPanel(QWidget* client, MainWindowControls& c) {
  auto* trackPanel = Named(new QWidget(client), QStringLiteral("Panel3"), QString());
  trackPanel->setGeometry(170, 50, 366, 422);
  for (int track = 1; track <= 3; ++track)
    c.tracks[track] = TrackGroup::Build(track, trackPanel, 2 + (track - 1) * 124);

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

void BuildRightColumn(QWidget* client, MainWindowControls& c, const QString& help) {
  auto* helpText = Named(new QTextEdit(client), QStringLiteral("RichEdit1"), QString());
  helpText->setReadOnly(true);
  helpText->setLineWrapMode(QTextEdit::NoWrap);
  helpText->setPlainText(help);
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
  BuildRightColumn(client, controls, HelpText(listFolder, listFolderCaption));
  BuildBottomRow(client, controls);
  BuildStatusBar(window, controls);
}

}  // namespace station
