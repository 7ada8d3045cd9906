#include "station/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QToolButton>

#include "journal/Journal.h"
#include "journal/ui/JournalDialog.h"
#include "settings/SettingsDialog.h"
#include "settings/SettingsFile.h"
#include "ui/UiFont.h"
#include "station/Texts.h"
#include "station/TrackText.h"
#include "ui/FitLabel.h"
#include "ui/KeyFilters.h"
#include "ui/PathText.h"
#include "ui/UpDown.h"

namespace {

constexpr int kClientWidth = 757;
constexpr int kClientHeight = 540;
const QString kFileLabelIdle = QString::fromUtf8(station::kNoFileCaption);
constexpr int kReplyTailWaitMs = 200;

station::JournalLinkConfig LinkConfigOf(const StationConfig& config) {
  return {config.journalFolder, config.settingsPath, config.database, config.stationName, config.duplicateCheck};
}

// The single byte a key event types: its character when that is ASCII, 0x80
// for anything beyond (which every listed filter refuses, as it refuses the
// bytes of a Chinese character), or -1 when the key types nothing (arrows,
// Home, function keys) and is therefore not a character at all.
int TypedByte(const QKeyEvent& event) {
  const QString text = event.text();
  if (text.isEmpty()) return -1;
  if (text.size() == 1 && text.at(0).unicode() < 0x80) return text.at(0).unicode();
  return 0x80;
}

}  // namespace

StationConfig StationConfig::FromSettingsFile() {
  StationConfig config;
  config.portName = [] {
    return settings::SettingsFile(settings::SettingsPath()).ReadString("Settings", "comname", "com1");
  };
  config.devicePath = [](std::uint16_t portNumber) { return settings::DevicePathForPort(portNumber); };
  config.listFolder = [] { return settings::DriveCFolder(); };
  const std::filesystem::path settingsPath = settings::SettingsPath();
  const settings::SettingsFile file(settingsPath);
  config.journalFolder = settingsPath.parent_path().empty() ? std::filesystem::path(".") : settingsPath.parent_path();
  config.stationName = file.ReadString("Journal", "Station", "");
  if (config.stationName.empty()) config.stationName = journal::DefaultStationName().toStdString();
  config.duplicateCheck = file.ReadString("Journal", "DuplicateCheck", "1") != "0";
  config.database = file.ReadString("Journal", "Database", "");
  config.diagnostics = [] { return settings::ReadDiagnostics(settings::SettingsPath()); };
  config.settingsPath = settingsPath;
  return config;
}

TForm1::TForm1(StationConfig config, QWidget* parent)
    : QMainWindow(parent),
      prompts_(std::make_unique<DefaultPrompts>(this)),
      config_(std::move(config)),
      journalLink_(LinkConfigOf(config_), *this, this) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("读写卡程序"));
  // A fixed dialog-style window: no maximise button and no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(settings::UiFont());
  setFixedSize(kClientWidth, kClientHeight);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Form1Client"));
  client->setAccessibleDescription(client->objectName());
  setCentralWidget(client);
  BuildBanner(client);
  BuildCardList(client);
  BuildTrackPanel(client);
  BuildRightColumn(client);
  BuildBottomRow(client);
  BuildStatusBar();

  // Children of the window, so that they are found by name like its controls.
  OpenTimer.setParent(this);
  ReconnectTimer.setParent(this);
  OpenTimer.setObjectName(QStringLiteral("OpenTimer"));
  OpenTimer.setInterval(config_.timings.tick);
  ReconnectTimer.setObjectName(QStringLiteral("ReconnectTimer"));
  ReconnectTimer.setInterval(config_.timings.reconnect);
  replyTailTimer_.setObjectName(QStringLiteral("ReplyTailTimer"));
  replyTailTimer_.setSingleShot(true);
  replyTailTimer_.setInterval(kReplyTailWaitMs);

  ApplyStartState();
  WireHandlers();
  SetUpComPort1();
  FormCreate();
}

// The port goes first: its threads may still deliver a reply, and the
// handler reaches members that are destroyed after this body. The dialog
// reads the journal, which goes before the window's children do.
TForm1::~TForm1() {
  ShutDownPort();
  delete journalDialog_;
}

void TForm1::SetPrompts(std::unique_ptr<Prompts> prompts) {
  // The guard always needs somewhere to report; no prompts means the real boxes.
  prompts_ = prompts ? std::move(prompts) : std::make_unique<DefaultPrompts>(this);
}

void TForm1::ApplyStartState() {
  for (int track = 1; track <= 3; ++track) {
    const TrackGroup g = Track(track);
    g.trackBox->setChecked(false);
    for (QWidget* w : {static_cast<QWidget*>(g.trackBox), static_cast<QWidget*>(g.field),
                       static_cast<QWidget*>(g.continuousBox), static_cast<QWidget*>(g.stepField),
                       static_cast<QWidget*>(g.fileBox), static_cast<QWidget*>(g.browseButton),
                       static_cast<QWidget*>(g.startRecordField)}) {
      w->setEnabled(false);
    }
    g.fileLabel->setText(kFileLabelIdle);
    g.fileLabel->hide();
  }
  WriteCountEdit->setText(QStringLiteral("1"));
  WrCouUpDown->SetPosition(1);
  ShowWriteMode(QStringLiteral("常规写"), Qt::blue);
  OpenTimer.stop();
}

void TForm1::WireHandlers() {
  const auto onClick = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  onClick(ToolButton5, &TForm1::ToolButton5Click);
  onClick(ToolButton6, &TForm1::ToolButton6Click);
  onClick(ToolButton3, &TForm1::ToolButton3Click);
  onClick(ToolButton4, &TForm1::ToolButton4Click);
  onClick(ToolButton8, &TForm1::ToolButton8Click);
  onClick(ToolButton9, &TForm1::ToolButton9Click);
  onClick(ToolButton7, &TForm1::ToolButton7Click);
  onClick(BitBtn1, &TForm1::BitBtn1Click);
  onClick(BitBtn3, &TForm1::BitBtn3Click);
  onClick(SpeedButton1, &TForm1::SpeedButton1Click);
  onClick(tk2Sb, &TForm1::tk2SbClick);
  onClick(tk3Sb, &TForm1::tk3SbClick);

  // The rules tick and untick each other's boxes and rely on the handler firing
  // for those program-made changes too, hence toggled rather than clicked.
  const auto onTick = [this](QCheckBox* box, void (TForm1::*handler)()) {
    connect(box, &QCheckBox::toggled, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  onTick(TK1CheckBox, &TForm1::TK1CheckBoxClick);
  onTick(TK2CheckBox, &TForm1::TK2CheckBoxClick);
  onTick(TK3CheckBox, &TForm1::TK3CheckBoxClick);
  onTick(TK1AutoIncCheckBox, &TForm1::TK1AutoIncCheckBoxClick);
  onTick(TK2AutoIncCheckBox, &TForm1::TK2AutoIncCheckBoxClick);
  onTick(TK3AutoIncCheckBox, &TForm1::TK3AutoIncCheckBoxClick);
  onTick(tk1filename, &TForm1::tk2filenameClick);
  onTick(tk2filename, &TForm1::tk2filenameClick);
  onTick(tk3filename, &TForm1::tk3filenameClick);

  connect(&OpenTimer, &QTimer::timeout, this, [this] { Guarded([this] { OpenTimerTimer(); }); });
  connect(&ReconnectTimer, &QTimer::timeout, this, [this] { Guarded([this] { session_.ReconnectTick(); }); });

  for (QWidget* field : {static_cast<QWidget*>(Track2Memo), static_cast<QWidget*>(Track3Memo),
                         static_cast<QWidget*>(TK1StepEdit), static_cast<QWidget*>(TK2StepEdit),
                         static_cast<QWidget*>(TK3StepEdit), static_cast<QWidget*>(tk1file_step),
                         static_cast<QWidget*>(tk2file_step), static_cast<QWidget*>(tk3file_step),
                         static_cast<QWidget*>(WriteCountEdit), static_cast<QWidget*>(Track1Memo)}) {
    field->installEventFilter(this);
  }
}

void TForm1::FormCreate() {
  connect(&replyTailTimer_, &QTimer::timeout, this, [this] { Guarded([this] { session_.ReplyTailWaitOver(); }); });
  journalLink_.Open();
}

void TForm1::ToolButton9Click() {
  journalLink_.Retry();
  journal::Journal* journal = journalLink_.journal();
  if (journal == nullptr) {
    prompts().Warning(journalLink_.failure().empty() ? QStringLiteral("写卡记录未打开。")
                                                     : QString::fromStdString(journalLink_.failure()));
    return;
  }
  if (journalDialog_ == nullptr) {
    journalDialog_ = new JournalDialog(*journal, this);
    journalDialog_->setObjectName(QStringLiteral("JournalDialog"));
  }
  journalDialog_->show();
  journalDialog_->raise();
  journalDialog_->activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // While the port is open, so that a card on the writer can be called off.
  session_.Closing();
  if (!Memo1->document()->isEmpty()) {
    // A failed save keeps the lines in the journal, so the next start puts
    // them back; the window still closes.
    Guarded([this] { SaveCardLog(); });
  }
  // After the save, so a reply handled while its box was open is saved or
  // journaled; replies arriving later are dropped with the port.
  ShutDownPort();
  event->accept();
}

// --- What the journal link asks of the window

void TForm1::ShowJournalNews(const QString& text) { MainStatusBarPanels[2]->SetFullText(text); }

void TForm1::WarnAboutJournal(const QString& text) { prompts().Warning(text); }

void TForm1::RestoreListLine(int track, const std::string& text, std::int64_t cardId) {
  AppendWrittenCard(track, station::TrackQString(text), cardId);
}

void TForm1::RenumberListLine(std::int64_t keptId, std::int64_t cardId) {
  for (auto& line : cardLines_) {
    if (line.first == keptId) line.first = cardId;
  }
}

void TForm1::ShowJournalWait(const QString& text) {
  // The call that follows may hold the main thread up to its bound: the text
  // is painted now, and the panel's own text is back for the next paint.
  ui::FitLabel& panel = *MainStatusBarPanels[2];
  const QString before = panel.FullText();
  panel.SetFullText(text);
  panel.repaint();
  panel.SetFullText(before);
}

station::CardOrigin TForm1::CardOriginNow() {
  const station::StationForm form = Form();
  station::CardOrigin origin;
  origin.kind = (form.track2.fileBox || form.track3.fileBox)         ? journal::RunKind::file
                : (form.track2.continuous || form.track3.continuous) ? journal::RunKind::continuous
                                                                     : journal::RunKind::normal;
  origin.port = QString::fromStdString(config_.portName()).toUpper();
  origin.devicePath = QString::fromStdString(config_.devicePath(PortNumber()));
  for (int track : {2, 3}) {
    const TrackGroup g = Track(track);
    if (g.fileBox->isChecked() && g.dataFile->IsOpen()) {
      origin.fileName[track] = ui::PathToQString(g.dataFile->Path());
      origin.recordNumber[track] = session_.files()[track].recordNumber;
    }
  }
  return origin;
}

TForm1::TrackGroup TForm1::Track(int track) {
  switch (track) {
    case 1:
      return {TK1GroupBox, TK1CheckBox,  Track1Memo,   TK1AutoIncCheckBox, TK1StepEdit,
              tk1filename, tk1sb,        tk1file_step, tk1disp,            nullptr,
              nullptr};
    case 2:
      return {TK2GroupBox, TK2CheckBox, Track2Memo,   TK2AutoIncCheckBox, TK2StepEdit,
              tk2filename, tk2Sb,       tk2file_step, tk2disp,            &session_.files()[2].file,
              &session_.files()[2].chosen};
    default:
      return {TK3GroupBox, TK3CheckBox, Track3Memo,   TK3AutoIncCheckBox, TK3StepEdit,
              tk3filename, tk3Sb,       tk3file_step, tk3disp,            &session_.files()[3].file,
              &session_.files()[3].chosen};
  }
}

void TForm1::ShowWriteMode(const QString& caption, const QColor& background) {
  WriteModePanel->setText(caption);
  QPalette palette = WriteModePanel->palette();
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::WindowText, Qt::yellow);
  WriteModePanel->setPalette(palette);
}

// --- Track rules ------------------------------------------------------------

void TForm1::TrackBoxRule(int track) {
  const TrackGroup g = Track(track);
  if (g.trackBox->isChecked()) {
    g.continuousBox->setEnabled(true);
    g.stepField->setEnabled(true);
    g.field->setEnabled(true);
    g.fileBox->setEnabled(true);
    g.browseButton->setEnabled(false);
    return;
  }
  // Unticking fires the other boxes' rules (the file box's gives the field
  // back), so the field is emptied and disabled last: it must end that way
  // whatever mode the track was in.
  g.continuousBox->setChecked(false);
  g.continuousBox->setEnabled(false);
  g.stepField->setEnabled(false);
  g.fileBox->setChecked(false);
  g.fileBox->setEnabled(false);
  DropFileChoice(g);
  g.field->clear();
  g.field->setEnabled(false);
}

void TForm1::ContinuousBoxRule(int track) {
  const TrackGroup g = Track(track);
  if (g.continuousBox->isChecked()) g.fileBox->setChecked(false);
}

void TForm1::FileBoxRule(int track) {
  const TrackGroup g = Track(track);
  if (g.fileBox->isChecked()) {
    g.continuousBox->setChecked(false);
    g.browseButton->setEnabled(true);
    g.startRecordField->setEnabled(true);
    g.field->setEnabled(false);
    return;
  }
  DropFileChoice(g);
  g.startRecordField->setEnabled(false);
  g.field->setEnabled(true);
}

void TForm1::DropFileChoice(const TrackGroup& g) {
  g.browseButton->setEnabled(false);
  g.fileLabel->setText(kFileLabelIdle);
  g.fileLabel->hide();
  if (g.dataFile != nullptr) g.dataFile->Close();
  if (g.fileChosen != nullptr) *g.fileChosen = false;
}

void TForm1::TK1CheckBoxClick() { TrackBoxRule(1); }
void TForm1::TK2CheckBoxClick() { TrackBoxRule(2); }
void TForm1::TK3CheckBoxClick() { TrackBoxRule(3); }
void TForm1::TK1AutoIncCheckBoxClick() { ContinuousBoxRule(1); }
void TForm1::TK2AutoIncCheckBoxClick() { ContinuousBoxRule(2); }
void TForm1::TK3AutoIncCheckBoxClick() { ContinuousBoxRule(3); }
void TForm1::tk2filenameClick() { FileBoxRule(2); }
void TForm1::tk3filenameClick() { FileBoxRule(3); }

// --- Key filters --------------------------------------------------------------

namespace {

void Filter(char& key, bool (*admits)(unsigned char)) {
  if (!admits(static_cast<unsigned char>(key))) key = 0;
}

}  // namespace

void TForm1::Track2MemoKeyPress(char& Key) { Filter(Key, station::AdmitsTrackData); }
void TForm1::Track3MemoKeyPress(char& Key) { Filter(Key, station::AdmitsTrackData); }
void TForm1::TK1StepEditKeyPress(char& Key) { Filter(Key, station::AdmitsNonZeroDigit); }
void TForm1::TK2StepEditKeyPress(char& Key) { Filter(Key, station::AdmitsNonZeroDigit); }
void TForm1::TK3StepEditKeyPress(char& Key) { Filter(Key, station::AdmitsNonZeroDigit); }
void TForm1::WriteCountEditKeyPress(char& Key) { Filter(Key, station::AdmitsDigit); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
  const auto& keyEvent = static_cast<const QKeyEvent&>(*event);

  if (watched == WriteCountEdit && (keyEvent.key() == Qt::Key_Up || keyEvent.key() == Qt::Key_Down)) {
    WrCouUpDown->StepBy(keyEvent.key() == Qt::Key_Up ? 1 : -1);
    return true;
  }
  // The editing shortcuts work as in any field, also where the platform hands
  // them over with the letter as their text.
  for (const auto shortcut : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
                              QKeySequence::Undo, QKeySequence::Redo}) {
    if (keyEvent.matches(shortcut)) return false;
  }
  const int typed = TypedByte(keyEvent);
  if (typed < 0) return false;

  char key = static_cast<char>(typed);
  if (watched == Track1Memo) {
    // Track 1 has no character filter, only its length.
  } else if (watched == Track2Memo) {
    Track2MemoKeyPress(key);
  } else if (watched == Track3Memo) {
    Track3MemoKeyPress(key);
  } else if (watched == TK1StepEdit) {
    TK1StepEditKeyPress(key);
  } else if (watched == TK3StepEdit) {
    TK3StepEditKeyPress(key);
  } else if (watched == WriteCountEdit || watched == tk2file_step || watched == tk3file_step) {
    // A start record may hold a 0 inside it ("10"); empty or 0 means record 1.
    WriteCountEditKeyPress(key);
  } else {
    TK2StepEditKeyPress(key);
  }
  if (key == 0) return true;

  // The multi-line track fields bound typing here; the program may still put
  // longer text into them (a record from a file, for example).
  if (auto* memo = qobject_cast<QPlainTextEdit*>(watched); memo != nullptr && station::IsPrintable(static_cast<unsigned char>(key))) {
    const int limit = memo->property("maxTypedLength").toInt();
    const QTextCursor cursor = memo->textCursor();
    const int kept = memo->toPlainText().size() - (cursor.selectionEnd() - cursor.selectionStart());
    if (kept >= limit) return true;
  }
  return false;
}

// --- Settings dialog and exit ---------------------------------------------------

void TForm1::ToolButton8Click() {
  // A fresh dialog each time, so it always starts from the stored port; it is
  // destroyed when it closes, also when an error ends it.
  auto dialog = std::make_unique<TForm2>(this, config_.settingsPath);
  dialog->SetErrorBox([this](const QString& text) { prompts_->Error(text); });
  dialog->exec();
}

void TForm1::ToolButton7Click() {
  // No question: the port closes, the window closes (saving the unsaved
  // lines of the written-card list) and the program ends. The session ends
  // its run first, while the port can still call off a card on the writer.
  session_.Closing();
  const std::string failures = CloseComPort();
  if (!failures.empty()) prompts().Warning(QString::fromStdString(failures));
  close();
  QCoreApplication::quit();
}
