#pragma once

#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/CardSession.h"
#include "station/DeviceLink.h"
#include "station/JournalLink.h"
#include "station/Prompts.h"
#include "station/RecordFileSources.h"
#include "station/SessionGate.h"
#include "station/StationConfig.h"
#include "station/StationView.h"

namespace station {

// The station behind the window: the card session with the device link, the
// journal link and the record files it works through. The operator's events
// come in here and go to the session; what the session asks of its roles is
// done by the links or shown through the view. Main thread only.
class SessionAdapter : private SessionPort,
                       private SessionTimers,
                       private SessionScreen,
                       private SessionForm,
                       private SessionJournal,
                       private JournalLinkView {
 public:
  // owner parents the timers and links, so that they are found by name among
  // the window's children; prompts are the boxes as they stand at each use.
  SessionAdapter(StationConfig config, StationView& view, QObject* owner, std::function<Prompts&()> prompts);
  ~SessionAdapter() override;
  SessionAdapter(const SessionAdapter&) = delete;
  SessionAdapter& operator=(const SessionAdapter&) = delete;

  CardSession& session() { return session_; }
  const CardSession& session() const { return session_; }
  DeviceLink& deviceLink() { return deviceLink_; }
  JournalLink& journalLink() { return journalLink_; }
  RecordFileSources& recordFiles() { return recordFiles_; }
  const StationConfig& config() const { return config_; }

  // Where saved lists go: the folder set here (a test's), else the configured one.
  void SetListFolder(std::filesystem::path folder) { listFolder_ = std::move(folder); }
  std::filesystem::path ListFolder() const;

  // Hands an event to the session through the gate, guarded: held while a
  // journal call waits, given in order afterwards.
  void Forward(std::function<void()> event);
  // Whether a journal call waits now (events are held meanwhile).
  bool Waiting() const { return gate_.Holding(); }

  // --- The events, each passed on to the session
  // Opens the journal once the window stands.
  void Start();
  void OpenPressed();
  void ClosePressed();
  void ResetPressed();
  void StatusPressed();
  void ReadPressed();
  void WritePressed();
  // Asks for the track's record file (over dialogParent) and loads its start record.
  void BrowsePressed(int track, QWidget* dialogParent);
  void SaveListPressed();
  // Ends the run, closes the port writing its recorders' files, and tells the
  // operator of any that could not be written.
  void ExitPressed();
  // The window is closing: the run ends while the port can still call off a
  // card on the writer, unsaved list lines are saved, and the port closes.
  void WindowClosing();
  // Closes the port with its notifications detached, so that no reply reaches
  // a window on its way out.
  void ShutDown() noexcept;

  // At the list's bound it is saved exactly as 保存 saves it and only then
  // emptied; when that save fails the list stays whole and the error goes to
  // Prompts::Error.
  void KeepCardListInBounds() override;

 private:
  // Saves the written-card list to its time-named file, empties it and tells
  // the journal; throws CardListSaveError and keeps the list when the save fails.
  void SaveCardList();
  DeviceLink::Hooks DeviceHooks();
  template <typename Handler>
  void Guard(Handler&& handler) noexcept;
  // Where the card being recorded came from: run kind, port, record files.
  CardOrigin CardOriginNow();

  // --- SessionPort
  bool PortOpen() override;
  bool OpenPort(std::optional<std::uint16_t> number) override;
  void TryOpenPort() override;
  void ClosePort() override;
  std::uint16_t PortNumber() override;
  void Send(std::string_view bytes) override;
  void AwaitMoreReply() override;
  bool ReopenPort() override;
  std::string OpenFailureDetail() override;
  // --- SessionTimers
  void StartTimer() override;
  void StopTimer() override;
  void StartReplyTailWait() override;
  void StopReplyTailWait() override;
  void StartReconnectTimer() override;
  void StopReconnectTimer() override;
  // --- SessionScreen
  void ShowText(TextSlot slot, const std::string& text) override;
  void SetTrackText(int track, const std::string& bytes) override;
  void AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) override;
  void Message(const std::string& text) override;
  void Warning(const std::string& text) override;
  bool Ask(const std::string& question) override;
  void Beep() override;
  void Focus(FocusTarget target) override;
  void ShowWriteMode(WriteMode mode) override;
  void EnableTrackBoxes(bool enable) override;
  // --- SessionForm
  StationForm Form() override;
  bool RecordsLeft(int track) override;
  // Throws RecordFileError when the file cannot be read; the reply path drops
  // that, so the run stops there.
  void LoadNextRecord(int track) override;
  void EndFileTrack(int track) override;
  // --- SessionJournal
  std::int64_t RecordWrittenCard(const WrittenCardRecord& card) override;
  void RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) override;
  NumbersReserved ReserveNumbers(const WrittenCardRecord& card, const NumberStep& step, bool repeat) override;
  void CancelReservation(const WrittenCardRecord& card) override;
  void MarkUnconfirmed(const WrittenCardRecord& card, Undecided reason) override;
  // --- JournalLinkView
  void ShowJournalNews(const QString& text) override;
  void WarnAboutJournal(const QString& text) override;
  void RestoreListLine(int track, const std::string& text, std::int64_t cardId) override;
  void RenumberListLine(std::int64_t keptId, std::int64_t cardId) override;
  void ShowJournalWait(const QString& text) override;

  StationConfig config_;
  StationView& view_;
  std::function<Prompts&()> prompts_;
  std::filesystem::path listFolder_;
  // The one-second operation timer, a child of the owner so that it is
  // found by name; gone before the owner's children are.
  QTimer operationTimer_;
  // The wait for the rest of a write reply cut inside the success reply.
  QTimer replyTailTimer_;
  // Every event for the session passes here; held while a journal call waits.
  SessionGate gate_;
  JournalLink journalLink_;
  DeviceLink deviceLink_;
  CardSession session_{{*this, *this, *this, *this, *this}};
  RecordFileSources recordFiles_{session_.files(), prompts_};
};

}  // namespace station
