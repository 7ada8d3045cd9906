#include "station/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include <utility>

#include "core/Texts.h"
#include "journal/ui/JournalDialog.h"
#include "settings/SettingsDialog.h"
#include "settings/SettingsLocation.h"
#include "station/MainWindowControls.h"
#include "station/TrackText.h"
#include "ui/FitLabel.h"
#include "ui/KeyFilters.h"
#include "ui/PathText.h"
#include "ui/UiFont.h"
#include "ui/UpDown.h"

namespace {

constexpr int kClientWidth = 757;
constexpr int kClientHeight = 540;

}  // namespace

TForm1::TForm1(StationConfig config, QWidget* parent)
    : QMainWindow(parent),
      prompts_(std::make_unique<DefaultPrompts>(this)),
      controls_(std::make_unique<station::MainWindowControls>()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("读写卡程序"));
  // A fixed dialog-style window: no maximise button and no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(settings::UiFont());
  setFixedSize(kClientWidth, kClientHeight);

  station::MainWindowControls& c = *controls_;
  station::StationView& view = *this;
  c.station = std::make_unique<station::SessionAdapter>(std::move(config), view, this,
                                                        [this]() -> Prompts& { return *prompts_; });
  station::BuildMainWindow(*this, c, c.station->ListFolder(), ListFolderCaption());
  c.cardList = std::make_unique<station::CardList>(*c.cardListMemo);
  c.rules = std::make_unique<station::TrackRules>(c.tracks, [&c](int track) { c.station->recordFiles().Drop(track); });

  c.rules->SetStartState();
  c.writeCountField->setText(QStringLiteral("1"));
  c.writeCountUpDown->SetPosition(1);
  ShowWriteMode(station::WriteMode::normal);
  WireHandlers();
  c.station->Start();
}

// The port goes first: its threads may still deliver a reply, and the
// handler reaches controls that are destroyed after this body. The dialog
// reads the journal, which goes before the window's children do.
TForm1::~TForm1() {
  controls_->station->ShutDown();
  delete controls_->journalDialog;
}

void TForm1::SetPrompts(std::unique_ptr<Prompts> prompts) {
  // The guard always needs somewhere to report; no prompts means the real boxes.
  prompts_ = prompts ? std::move(prompts) : std::make_unique<DefaultPrompts>(this);
}

station::CardSession& TForm1::session() { return controls_->station->session(); }
const station::CardSession& TForm1::session() const { return controls_->station->session(); }
const TSerComPort& TForm1::port() const { return controls_->station->deviceLink().port(); }
station::DeviceLink& TForm1::deviceLink() { return controls_->station->deviceLink(); }
station::CardList& TForm1::cardList() { return *controls_->cardList; }
station::RecordFileSources& TForm1::recordFiles() { return controls_->station->recordFiles(); }
journal::Journal* TForm1::journal() { return controls_->station->journalLink().journal(); }
JournalDialog* TForm1::journalDialog() { return controls_->journalDialog; }
station::JournalLink& TForm1::journalLink() { return controls_->station->journalLink(); }
bool TForm1::SendCommand(const std::string& command) { return session().SendCommand(command); }
void TForm1::EnforceCardLogLimit() { controls_->station->KeepCardListInBounds(); }
void TForm1::SetCardListFolder(std::filesystem::path folder) { controls_->station->SetListFolder(std::move(folder)); }

QString TForm1::ListFolderCaption() const {
  return ui::ListFolderCaption(controls_->station->ListFolder(), settings::CurrentSettingsPlaces().home);
}

void TForm1::WireHandlers() {
  station::MainWindowControls& c = *controls_;
  station::SessionAdapter& adapter = *c.station;
  const auto onClick = [this](QAbstractButton* button, std::function<void()> handler) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] { controls_->station->Forward(handler); });
  };
  // Every press that is the session's goes to the station behind the window.
  using station::Press;
  using Adapter = station::SessionAdapter;
  const std::pair<Press, void (Adapter::*)()> sessionPresses[] = {
      {Press::openPort, &Adapter::OpenPressed},     {Press::closePort, &Adapter::ClosePressed},
      {Press::reset, &Adapter::ResetPressed},       {Press::status, &Adapter::StatusPressed},
      {Press::read, &Adapter::ReadPressed},         {Press::write, &Adapter::WritePressed},
      {Press::saveList, &Adapter::SaveListPressed},
  };
  for (const auto& press : sessionPresses) {
    const auto event = press.second;
    onClick(c.button(press.first), [&adapter, event] { (adapter.*event)(); });
  }
  for (int track : {2, 3}) {
    onClick(c.tracks[track].browseButton, [this, &adapter, track] { adapter.BrowsePressed(track, this); });
  }
  onClick(c.button(Press::settings), [this] { OnSettingsPressed(); });
  onClick(c.button(Press::journal), [this] { OnJournalPressed(); });
  onClick(c.button(Press::exit), [this] { OnExitPressed(); });

  c.rules->Follow(this, [this](const std::function<void()>& rule) { Guarded(rule); });
  c.keyFilter = new station::FieldKeyFilter(this);
  for (int track = 1; track <= 3; ++track) c.tracks[track].FilterKeys(*c.keyFilter, track);
  c.keyFilter->WatchCounter(c.writeCountField, station::AdmitsDigit, c.writeCountUpDown);
}

void TForm1::OnJournalPressed() {
  station::JournalLink& link = controls_->station->journalLink();
  link.Retry();
  journal::Journal* journal = link.journal();
  if (journal == nullptr) {
    prompts_->Warning(link.failure().empty() ? QStringLiteral("写卡记录未打开。")
                                             : QString::fromStdString(link.failure()));
    return;
  }
  JournalDialog*& dialog = controls_->journalDialog;
  if (dialog == nullptr) {
    JournalDialog::OnJournalThread onJournalThread{
        [&link](const std::function<void()>& job) { link.WithJournal([&job](journal::Journal&) { job(); }); },
        [this] { return controls_->station->Waiting(); }};
    dialog = new JournalDialog(*journal, this, std::move(onJournalThread));
    dialog->setObjectName(QStringLiteral("JournalDialog"));
  }
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

void TForm1::OnSettingsPressed() {
  // A fresh dialog each time, so it always starts from the stored port; it is
  // destroyed when it closes, also when an error ends it.
  auto dialog = std::make_unique<TForm2>(this, controls_->station->config().settingsPath);
  dialog->SetErrorBox([this](const QString& text) { prompts_->Error(text); });
  dialog->exec();
}

void TForm1::OnExitPressed() {
  // No question: the port closes, the window closes (saving the unsaved
  // lines of the written-card list) and the program ends.
  controls_->station->ExitPressed();
  close();
  QCoreApplication::quit();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (controls_->station->Waiting()) {
    // The close box pressed while a journal call waits: closed after it.
    event->ignore();
    controls_->station->Forward([this] { close(); });
    return;
  }
  controls_->station->WindowClosing();
  event->accept();
}

// --- What the station shows through the window ----------------------------------

void TForm1::Show(station::TextSlot slot, const QString& text) {
  station::MainWindowControls& c = *controls_;
  if (slot == station::TextSlot::seconds) {
    c.secondsLabel->setText(text);
  } else {
    c.textPlace(slot)->SetFullText(text);
  }
}

void TForm1::PaintOperationNote(const QString& text) {
  // Shown while a journal call waits (the window keeps painting); the panel's
  // own text is back when it is over, unless news of the journal replaced it.
  ui::FitLabel& panel = *controls_->textPlace(station::TextSlot::operation);
  if (text.isEmpty()) {
    if (panel.FullText() == QString::fromUtf8(station::kJournalWait)) panel.SetFullText(controls_->textBeforeWait);
    return;
  }
  controls_->textBeforeWait = panel.FullText();
  panel.SetFullText(text);
  panel.repaint();
}

void TForm1::SetTrackText(int track, const std::string& bytes) {
  station::ShowTrackText(*controls_->tracks[track].memo, bytes);
}

void TForm1::Focus(station::FocusTarget target) {
  const station::TrackGroups& tracks = controls_->tracks;
  switch (target) {
    case station::FocusTarget::tk2Step: tracks[2].stepField->setFocus(); break;
    case station::FocusTarget::tk3Step: tracks[3].stepField->setFocus(); break;
    case station::FocusTarget::track2: tracks[2].memo->setFocus(); break;
    case station::FocusTarget::track3: tracks[3].memo->setFocus(); break;
    case station::FocusTarget::none: break;
  }
}

void TForm1::ShowWriteMode(station::WriteMode mode) {
  const station::WriteModeLook look = station::WriteModeLookOf(mode);
  QLabel& panel = *controls_->writeModePanel;
  panel.setText(QString::fromUtf8(look.caption));
  QPalette palette = panel.palette();
  palette.setColor(QPalette::Window, QColor(look.red, look.green, look.blue));
  palette.setColor(QPalette::WindowText, Qt::yellow);
  panel.setPalette(palette);
}

void TForm1::EnableTrackBoxes(bool enable) {
  const station::TrackGroups& tracks = controls_->tracks;
  if (!enable) tracks[1].trackBox->setEnabled(false);
  tracks[2].trackBox->setEnabled(enable);
  tracks[3].trackBox->setEnabled(enable);
}

station::StationForm TForm1::Form() {
  const station::TrackGroups& tracks = controls_->tracks;
  return {tracks[2].Snapshot(), tracks[3].Snapshot(), controls_->writeCountField->text().toLatin1().toStdString()};
}

void TForm1::UntickFileTrack(int track) {
  const station::TrackGroup& g = controls_->tracks[track];
  g.fileBox->setChecked(false);
  g.trackBox->setChecked(false);
}

station::RecordFileSources::TrackControls TForm1::FileControls(int track) {
  return controls_->tracks[track].FileControls();
}

station::CardList& TForm1::WrittenCards() { return *controls_->cardList; }
