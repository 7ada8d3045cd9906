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

#include "core/Texts.h"
#include "journal/Journal.h"
#include "journal/ui/JournalDialog.h"
#include "settings/SettingsDialog.h"
#include "settings/SettingsFile.h"
#include "station/TrackText.h"
#include "ui/FitLabel.h"
#include "ui/KeyFilters.h"
#include "ui/PathText.h"
#include "ui/UiFont.h"
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
      journalLink_(LinkConfigOf(config_), *this, this, gate_) {
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
  operationTimer_.setParent(this);
  operationTimer_.setObjectName(QStringLiteral("OpenTimer"));
  operationTimer_.setInterval(config_.timings.tick);
  replyTailTimer_.setObjectName(QStringLiteral("ReplyTailTimer"));
  replyTailTimer_.setSingleShot(true);
  replyTailTimer_.setInterval(kReplyTailWaitMs);

  ApplyStartState();
  WireHandlers();
  connect(&replyTailTimer_, &QTimer::timeout, this, [this] { Forward([this] { session_.ReplyTailWaitOver(); }); });
  journalLink_.Open();
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
    const TrackGroup& g = Track(track);
    g.trackBox->setChecked(false);
    for (QWidget* w :
         {static_cast<QWidget*>(g.trackBox), static_cast<QWidget*>(g.memo), static_cast<QWidget*>(g.continuousBox),
          static_cast<QWidget*>(g.stepField), static_cast<QWidget*>(g.fileBox), static_cast<QWidget*>(g.browseButton),
          static_cast<QWidget*>(g.startRecordField)}) {
      w->setEnabled(false);
    }
    g.fileLabel->setText(kFileLabelIdle);
    g.fileLabel->hide();
  }
  writeCountField_->setText(QStringLiteral("1"));
  writeCountUpDown_->SetPosition(1);
  ShowWriteMode(station::WriteMode::normal);
  operationTimer_.stop();
}

void TForm1::WireHandlers() {
  const auto onClick = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { Forward([this, handler] { (this->*handler)(); }); });
  };
  onClick(openPortButton_, &TForm1::OnOpenPortPressed);
  onClick(closePortButton_, &TForm1::OnClosePortPressed);
  onClick(resetButton_, &TForm1::OnResetPressed);
  onClick(statusButton_, &TForm1::OnStatusPressed);
  onClick(settingsButton_, &TForm1::OnSettingsPressed);
  onClick(journalButton_, &TForm1::OnJournalPressed);
  onClick(exitButton_, &TForm1::OnExitPressed);
  onClick(readButton_, &TForm1::OnReadPressed);
  onClick(writeButton_, &TForm1::OnWritePressed);
  onClick(saveListButton_, &TForm1::OnSaveListPressed);
  for (int track : {2, 3}) {
    connect(Track(track).browseButton, &QAbstractButton::clicked, this,
            [this, track] { Forward([this, track] { OnBrowsePressed(track); }); });
  }

  // The rules tick and untick each other's boxes and rely on the handler firing
  // for those program-made changes too, hence toggled rather than clicked.
  const auto onTick = [this](QCheckBox* box, void (TForm1::*rule)(int), int track) {
    connect(box, &QCheckBox::toggled, this, [this, rule, track] { Guarded([&] { (this->*rule)(track); }); });
  };
  for (int track = 1; track <= 3; ++track) {
    onTick(Track(track).trackBox, &TForm1::TrackBoxRule, track);
    onTick(Track(track).continuousBox, &TForm1::ContinuousBoxRule, track);
    // Track 1 has no record file; its file box follows track 2's rule, as it always has.
    onTick(Track(track).fileBox, &TForm1::FileBoxRule, track == 1 ? 2 : track);
  }

  connect(&operationTimer_, &QTimer::timeout, this, [this] { Forward([this] { OnOperationTick(); }); });

  for (const TrackGroup& g : trackGroups_) {
    if (g.group == nullptr) continue;
    for (QWidget* field : {static_cast<QWidget*>(g.memo), static_cast<QWidget*>(g.stepField),
                           static_cast<QWidget*>(g.startRecordField)}) {
      field->installEventFilter(this);
    }
  }
  for (QWidget* field : {static_cast<QWidget*>(writeCountField_)}) {
    field->installEventFilter(this);
  }
}

station::DeviceLink::Hooks TForm1::DeviceHooks() {
  station::DeviceLink::Hooks hooks;
  hooks.portName = [this] { return config_.portName(); };
  hooks.devicePath = [this](std::uint16_t portNumber) { return config_.devicePath(portNumber); };
  hooks.diagnostics = [this] { return config_.diagnostics ? config_.diagnostics() : settings::Diagnostics{}; };
  hooks.replyBytes = [this](const std::string& bytes) { gate_.Pass([this, bytes] { session_.ReplyBytes(bytes); }); };
  hooks.lineLost = [this] { Forward([this] { session_.PortLost(); }); };
  hooks.reconnectTick = [this] { Forward([this] { session_.ReconnectTick(); }); };
  hooks.warning = [this](const std::string& text) { prompts().Warning(QString::fromStdString(text)); };
  return hooks;
}

void TForm1::OnJournalPressed() {
  journalLink_.Retry();
  journal::Journal* journal = journalLink_.journal();
  if (journal == nullptr) {
    prompts().Warning(journalLink_.failure().empty() ? QStringLiteral("写卡记录未打开。")
                                                     : QString::fromStdString(journalLink_.failure()));
    return;
  }
  if (journalDialog_ == nullptr) {
    JournalDialog::OnJournalThread onJournalThread{
        [this](const std::function<void()>& job) { journalLink_.WithJournal([&job](journal::Journal&) { job(); }); },
        [this] { return gate_.Holding(); }};
    journalDialog_ = new JournalDialog(*journal, this, std::move(onJournalThread));
    journalDialog_->setObjectName(QStringLiteral("JournalDialog"));
  }
  journalDialog_->show();
  journalDialog_->raise();
  journalDialog_->activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (gate_.Holding()) {
    // The close box pressed while a journal call waits: closed after it.
    event->ignore();
    gate_.Pass([this] { close(); });
    return;
  }
  // While the port is open, so that a card on the writer can be called off.
  session_.Closing();
  if (!cardListMemo_->document()->isEmpty()) {
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

void TForm1::ShowJournalNews(const QString& text) { statusPanels_[2]->SetFullText(text); }

void TForm1::WarnAboutJournal(const QString& text) { prompts().Warning(text); }

void TForm1::RestoreListLine(int track, const std::string& text, std::int64_t cardId) {
  AppendWrittenCard(track, station::TrackQString(text), cardId);
}

void TForm1::RenumberListLine(std::int64_t keptId, std::int64_t cardId) { cardList_->Renumber(keptId, cardId); }

void TForm1::ShowJournalWait(const QString& text) {
  // Shown while the call waits (the window keeps painting); the panel's own
  // text is back when it is over, unless news of the journal replaced it.
  ui::FitLabel& panel = *statusPanels_[2];
  if (text.isEmpty()) {
    if (panel.FullText() == QString::fromUtf8(station::kJournalWait)) panel.SetFullText(textBeforeWait_);
    return;
  }
  textBeforeWait_ = panel.FullText();
  panel.SetFullText(text);
  panel.repaint();
}

station::CardOrigin TForm1::CardOriginNow() {
  station::CardOrigin origin;
  origin.kind = Form().Mode();
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

void TForm1::ShutDownPort() noexcept {
  operationTimer_.stop();
  deviceLink_.ShutDown();
}

void TForm1::ShowWriteMode(const QString& caption, const QColor& background) {
  writeModePanel_->setText(caption);
  QPalette palette = writeModePanel_->palette();
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::WindowText, Qt::yellow);
  writeModePanel_->setPalette(palette);
}

// --- Track rules ------------------------------------------------------------

void TForm1::TrackBoxRule(int track) {
  const TrackGroup& g = Track(track);
  if (g.trackBox->isChecked()) {
    g.continuousBox->setEnabled(true);
    g.stepField->setEnabled(true);
    g.memo->setEnabled(true);
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
  DropFileChoice(track);
  g.memo->clear();
  g.memo->setEnabled(false);
}

void TForm1::ContinuousBoxRule(int track) {
  const TrackGroup& g = Track(track);
  if (g.continuousBox->isChecked()) g.fileBox->setChecked(false);
}

void TForm1::FileBoxRule(int track) {
  const TrackGroup& g = Track(track);
  if (g.fileBox->isChecked()) {
    g.continuousBox->setChecked(false);
    g.browseButton->setEnabled(true);
    g.startRecordField->setEnabled(true);
    g.memo->setEnabled(false);
    return;
  }
  DropFileChoice(track);
  g.startRecordField->setEnabled(false);
  g.memo->setEnabled(true);
}

void TForm1::DropFileChoice(int track) {
  const TrackGroup& g = Track(track);
  g.browseButton->setEnabled(false);
  g.fileLabel->setText(kFileLabelIdle);
  g.fileLabel->hide();
  if (g.dataFile != nullptr) recordFiles_.Drop(track);
}

void TForm1::OnBrowsePressed(int track) {
  session_.FileChosen(track);
  recordFiles_.Choose(track, FileControls(track), this);
}

station::RecordFileSources::TrackControls TForm1::FileControls(int track) {
  const TrackGroup& g = Track(track);
  return {g.memo, g.startRecordField, g.fileLabel};
}

// --- Key filters --------------------------------------------------------------

bool TForm1::Admits(const QObject* field, unsigned char key) const {
  // Track 1 has no character filter, only its length.
  if (field == Track(1).memo) return true;
  if (field == Track(2).memo || field == Track(3).memo) return station::AdmitsTrackData(key);
  // A start record may hold a 0 inside it ("10"); empty or 0 means record 1.
  if (field == writeCountField_ || field == Track(2).startRecordField || field == Track(3).startRecordField) {
    return station::AdmitsDigit(key);
  }
  return station::AdmitsNonZeroDigit(key);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
  const auto& keyEvent = static_cast<const QKeyEvent&>(*event);

  if (watched == writeCountField_ && (keyEvent.key() == Qt::Key_Up || keyEvent.key() == Qt::Key_Down)) {
    writeCountUpDown_->StepBy(keyEvent.key() == Qt::Key_Up ? 1 : -1);
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

  const auto key = static_cast<unsigned char>(typed);
  if (!Admits(watched, key)) return true;

  // The multi-line track fields bound typing here; the program may still put
  // longer text into them (a record from a file, for example).
  if (auto* memo = qobject_cast<QPlainTextEdit*>(watched); memo != nullptr && station::IsPrintable(key)) {
    const int limit = memo->property("maxTypedLength").toInt();
    const QTextCursor cursor = memo->textCursor();
    const int kept = memo->toPlainText().size() - (cursor.selectionEnd() - cursor.selectionStart());
    if (kept >= limit) return true;
  }
  return false;
}

// --- Written-card list -----------------------------------------------------------

void TForm1::SaveCardLog() {
  const station::CardList::Saved saved = cardList_->Save(ListFolder());
  journalLink_.RecordListSave(saved.file, saved.lines);
  statusPanels_[2]->SetFullText(QStringLiteral("已保存到 ") + ui::PathToQString(saved.file));
}

void TForm1::OnSaveListPressed() { SaveCardLog(); }

void TForm1::EnforceCardLogLimit() {
  if (!cardList_->AtLimit()) return;
  try {
    SaveCardLog();
  } catch (const std::exception& e) {
    // Runs inside reply handling, whose errors are dropped silently; a failed
    // save must still reach the operator, and the lines stay for the next try.
    prompts().Error(QString::fromUtf8(e.what()));
  }
}

// --- Settings dialog and exit ---------------------------------------------------

void TForm1::OnSettingsPressed() {
  // A fresh dialog each time, so it always starts from the stored port; it is
  // destroyed when it closes, also when an error ends it.
  auto dialog = std::make_unique<TForm2>(this, config_.settingsPath);
  dialog->SetErrorBox([this](const QString& text) { prompts_->Error(text); });
  dialog->exec();
}

void TForm1::OnExitPressed() {
  // No question: the port closes, the window closes (saving the unsaved
  // lines of the written-card list) and the program ends. The session ends
  // its run first, while the port can still call off a card on the writer.
  session_.Closing();
  const std::string failures = deviceLink_.CloseAndRecord();
  if (!failures.empty()) prompts().Warning(QString::fromStdString(failures));
  close();
  QCoreApplication::quit();
}
