#include "station/SessionAdapter.h"

#include <exception>

#include "station/CardList.h"
#include "station/Guarded.h"
#include "station/TrackText.h"
#include "ui/PathText.h"

namespace station {

namespace {

constexpr int kReplyTailWaitMs = 200;

JournalLinkConfig LinkConfigOf(const StationConfig& config, std::function<std::filesystem::path()> lists) {
  return {config.journalFolder, config.settingsPath,   config.database,
          config.stationName,   config.duplicateCheck, std::move(lists)};
}

}  // namespace

SessionAdapter::SessionAdapter(StationConfig config, StationView& view, QObject* owner,
                               std::function<Prompts&()> prompts)
    : config_(std::move(config)),
      view_(view),
      prompts_(std::move(prompts)),
      gate_([owner](std::function<void()> task) { QTimer::singleShot(0, owner, std::move(task)); }),
      journalLink_(LinkConfigOf(config_, [this] { return ListFolder(); }), *this, owner, gate_),
      deviceLink_(config_.timings, DeviceHooks(), owner) {
  operationTimer_.setParent(owner);
  operationTimer_.setObjectName(QStringLiteral("OpenTimer"));
  operationTimer_.setInterval(config_.timings.tick);
  QObject::connect(&operationTimer_, &QTimer::timeout, owner, [this] { Forward([this] { session_.TimerTick(); }); });
  replyTailTimer_.setObjectName(QStringLiteral("ReplyTailTimer"));
  replyTailTimer_.setSingleShot(true);
  replyTailTimer_.setInterval(kReplyTailWaitMs);
  QObject::connect(&replyTailTimer_, &QTimer::timeout, owner,
                   [this] { Forward([this] { session_.ReplyTailWaitOver(); }); });
}

SessionAdapter::~SessionAdapter() { ShutDown(); }

template <typename Handler>
void SessionAdapter::Guard(Handler&& handler) noexcept {
  Guarded(prompts_(), std::forward<Handler>(handler));
}

void SessionAdapter::Forward(std::function<void()> event) {
  gate_.Pass([this, event = std::move(event)] { Guard(event); });
}

std::filesystem::path SessionAdapter::ListFolder() const {
  if (!listFolder_.empty()) return listFolder_;
  return config_.listFolder ? config_.listFolder() : std::filesystem::path();
}

DeviceLink::Hooks SessionAdapter::DeviceHooks() {
  DeviceLink::Hooks hooks;
  hooks.portName = [this] { return config_.portName(); };
  hooks.devicePath = [this](std::uint16_t portNumber) { return config_.devicePath(portNumber); };
  hooks.diagnostics = [this] { return config_.diagnostics ? config_.diagnostics() : settings::Diagnostics{}; };
  hooks.replyBytes = [this](const std::string& bytes) { gate_.Pass([this, bytes] { session_.ReplyBytes(bytes); }); };
  hooks.lineLost = [this] { Forward([this] { session_.PortLost(); }); };
  hooks.reconnectTick = [this] { Forward([this] { session_.ReconnectTick(); }); };
  hooks.warning = [this](const std::string& text) { prompts_().Warning(QString::fromStdString(text)); };
  return hooks;
}

// --- Events -----------------------------------------------------------------------

void SessionAdapter::Start() { journalLink_.Open(); }
void SessionAdapter::OpenPressed() { session_.OpenPressed(config_.portName()); }
void SessionAdapter::ClosePressed() { session_.ClosePressed(); }
void SessionAdapter::ResetPressed() { session_.ResetPressed(); }
void SessionAdapter::StatusPressed() { session_.StatusPressed(); }

void SessionAdapter::ReadPressed() {
  journalLink_.Retry();
  session_.ReadPressed();
}

void SessionAdapter::WritePressed() {
  journalLink_.Retry();
  // With the port closed the session says so first, as it always has.
  if (PortOpen() && journalLink_.RefusesWriting()) return;
  session_.WritePressed();
}

void SessionAdapter::BrowsePressed(int track, QWidget* dialogParent) {
  session_.FileChosen(track);
  recordFiles_.Choose(track, view_.FileControls(track), dialogParent);
}

void SessionAdapter::SaveListPressed() { SaveCardList(); }

void SessionAdapter::ExitPressed() {
  session_.Closing();
  const std::string failures = deviceLink_.CloseAndRecord();
  if (!failures.empty()) prompts_().Warning(QString::fromStdString(failures));
}

void SessionAdapter::WindowClosing() {
  session_.Closing();
  // A failed save keeps the lines in the journal, so the next start puts them
  // back; the window still closes.
  if (!view_.WrittenCards().IsEmpty()) Guard([this] { SaveCardList(); });
  // After the save, so a reply handled while its box was open is saved or
  // journaled; replies arriving later are dropped with the port.
  ShutDown();
}

void SessionAdapter::ShutDown() noexcept {
  operationTimer_.stop();
  deviceLink_.ShutDown();
}

// --- The written-card list --------------------------------------------------------

void SessionAdapter::SaveCardList() {
  const CardList::Saved saved = view_.WrittenCards().Save(ListFolder());
  journalLink_.RecordListSave(saved.file, saved.lines);
  view_.Show(TextSlot::operation, QStringLiteral("已保存到 ") + ui::PathToQString(saved.file));
}

void SessionAdapter::KeepCardListInBounds() {
  if (!view_.WrittenCards().AtLimit()) return;
  try {
    SaveCardList();
  } catch (const std::exception& e) {
    // Runs inside reply handling, whose errors are dropped silently; a failed
    // save must still reach the operator, and the lines stay for the next try.
    prompts_().Error(QString::fromUtf8(e.what()));
  }
}

// --- The port and the timers ------------------------------------------------------

bool SessionAdapter::PortOpen() { return deviceLink_.IsOpen(); }
bool SessionAdapter::OpenPort(std::optional<std::uint16_t> number) { return deviceLink_.Open(number); }
void SessionAdapter::TryOpenPort() { deviceLink_.TryOpen(); }
void SessionAdapter::ClosePort() { deviceLink_.Close(); }
std::uint16_t SessionAdapter::PortNumber() { return deviceLink_.PortNumber(); }
void SessionAdapter::Send(std::string_view bytes) { deviceLink_.Send(bytes); }
void SessionAdapter::AwaitMoreReply() { deviceLink_.AwaitMoreReply(); }
bool SessionAdapter::ReopenPort() { return deviceLink_.Reopen(); }
std::string SessionAdapter::OpenFailureDetail() { return deviceLink_.OpenFailureDetail(); }
void SessionAdapter::StartTimer() { operationTimer_.start(); }
void SessionAdapter::StopTimer() { operationTimer_.stop(); }
void SessionAdapter::StartReplyTailWait() { replyTailTimer_.start(); }
void SessionAdapter::StopReplyTailWait() { replyTailTimer_.stop(); }
void SessionAdapter::StartReconnectTimer() { deviceLink_.StartReconnecting(); }
void SessionAdapter::StopReconnectTimer() { deviceLink_.StopReconnecting(); }

// --- The screen and the form ------------------------------------------------------

void SessionAdapter::ShowText(TextSlot slot, const std::string& text) {
  const QString shown = QString::fromUtf8(text);
  // The first read card kept for a closed journal is said instead of the read's own text.
  view_.Show(slot, slot == TextSlot::operation ? journalLink_.OperationText(shown) : shown);
}

void SessionAdapter::SetTrackText(int track, const std::string& bytes) { view_.SetTrackText(track, bytes); }

void SessionAdapter::AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) {
  view_.WrittenCards().Append(track, TrackQString(bytes), cardId);
}

void SessionAdapter::Message(const std::string& text) { prompts_().Message(QString::fromUtf8(text)); }
void SessionAdapter::Warning(const std::string& text) { prompts_().Warning(QString::fromUtf8(text)); }
bool SessionAdapter::Ask(const std::string& question) { return prompts_().Question(QString::fromUtf8(question)); }
void SessionAdapter::Beep() { prompts_().Beep(); }
void SessionAdapter::Focus(FocusTarget target) { view_.Focus(target); }
void SessionAdapter::ShowWriteMode(WriteMode mode) { view_.ShowWriteMode(mode); }
void SessionAdapter::EnableTrackBoxes(bool enable) { view_.EnableTrackBoxes(enable); }

StationForm SessionAdapter::Form() {
  StationForm form = view_.Form();
  form.track2.fileChosen = session_.files()[2].chosen;
  form.track3.fileChosen = session_.files()[3].chosen;
  return form;
}

bool SessionAdapter::RecordsLeft(int track) { return recordFiles_.RecordsLeft(track); }
void SessionAdapter::LoadNextRecord(int track) { recordFiles_.LoadNext(track, view_.FileControls(track)); }

void SessionAdapter::EndFileTrack(int track) {
  view_.UntickFileTrack(track);
  recordFiles_.Drop(track);
}

// --- The journal, through its link ------------------------------------------------

CardOrigin SessionAdapter::CardOriginNow() {
  const StationForm form = Form();
  CardOrigin origin;
  origin.kind = form.Mode();
  origin.port = QString::fromStdString(config_.portName()).toUpper();
  origin.devicePath = QString::fromStdString(config_.devicePath(PortNumber()));
  for (int track : {2, 3}) {
    const FileTrack& source = session_.files()[track];
    if ((track == 2 ? form.track2 : form.track3).fileBox && source.file.IsOpen()) {
      origin.fileName[static_cast<std::size_t>(track)] = ui::PathToQString(source.file.Path());
      origin.recordNumber[static_cast<std::size_t>(track)] = source.recordNumber;
    }
  }
  return origin;
}

std::int64_t SessionAdapter::RecordWrittenCard(const WrittenCardRecord& card) {
  return journalLink_.RecordWrittenCard(card, CardOriginNow());
}

void SessionAdapter::RecordReadCard(const std::optional<std::string>& track2,
                                    const std::optional<std::string>& track3) {
  journalLink_.RecordReadCard(track2, track3);
}

NumbersReserved SessionAdapter::ReserveNumbers(const WrittenCardRecord& card, const NumberStep& step, bool repeat) {
  return journalLink_.ReserveNumbers(card, step, repeat);
}

void SessionAdapter::CancelReservation(const WrittenCardRecord& card) { journalLink_.CancelReservation(card); }

void SessionAdapter::MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason) {
  journalLink_.MarkUnconfirmed(card, reason);
}

// --- What the journal link asks ----------------------------------------------------

void SessionAdapter::ShowJournalNews(const QString& text) { view_.Show(TextSlot::operation, text); }
void SessionAdapter::WarnAboutJournal(const QString& text) { prompts_().Warning(text); }

void SessionAdapter::RestoreListLine(int track, const std::string& text, std::int64_t cardId) {
  view_.WrittenCards().Append(track, TrackQString(text), cardId);
}

void SessionAdapter::RenumberListLine(std::int64_t keptId, std::int64_t cardId) {
  view_.WrittenCards().Renumber(keptId, cardId);
}

void SessionAdapter::ShowJournalWait(const QString& text) { view_.PaintOperationNote(text); }

}  // namespace station
