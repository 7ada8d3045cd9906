#pragma once

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/CardSession.h"
#include "core/RecordFile.h"
#include "core/WriteCommand.h"
#include "journal/Journal.h"
#include "settings/SettingsFile.h"
#include "station/CardList.h"
#include "station/DeviceLink.h"
#include "station/JournalLink.h"
#include "station/JournalMessages.h"
#include "station/Prompts.h"
#include "station/RecordFileSources.h"
#include "station/SessionGate.h"

class JournalDialog;

namespace ui {
class FitLabel;
}

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QToolButton;
class TUpDown;

// What the window takes from outside, asked at each use so that a change to
// the stored settings takes effect at the next open or save.
struct StationConfig {
  std::function<std::string()> portName;                 // e.g. "com1"
  std::function<std::string(std::uint16_t)> devicePath;  // port number -> device
  std::function<std::filesystem::path()> listFolder;     // where saved lists go
  // The field-diagnosis switches, read before each open; unset: recorders off.
  std::function<settings::Diagnostics()> diagnostics;
  // The settings file that com设定 edits.
  std::filesystem::path settingsPath;
  // The card journal's folder, read once at start; empty: no journal.
  std::filesystem::path journalFolder;
  std::string stationName;     // as the journal names this station
  bool duplicateCheck = true;  // ask before writing a number written before
  // The journal's server as a PostgreSQL URI; empty: the file in journalFolder.
  std::string database;
  StationTimings timings;
  // All from the settings file in use; the journal lies beside it.
  static StationConfig FromSettingsFile();
};

// The card station's only working window. It builds the controls (each found
// by its design name as objectName), takes the form's snapshot for the
// session, shows what the session asks for and forwards the device's bytes.
// Every handler runs on the main thread.
class TForm1 : public QMainWindow,
               private station::SessionPort,
               private station::SessionTimers,
               private station::SessionScreen,
               private station::SessionForm,
               private station::SessionJournal,
               private station::JournalLinkView {
  Q_OBJECT

 public:
  explicit TForm1(StationConfig config = StationConfig::FromSettingsFile(), QWidget* parent = nullptr);
  ~TForm1() override;

  // Replaces the boxes shown to the operator (tests install a recorder).
  void SetPrompts(std::unique_ptr<Prompts> prompts);
  Prompts& prompts() { return *prompts_; }

  // Runs a handler; an exception that escapes it is shown in the general error
  // box with its text, and the program goes on.
  template <typename Handler>
  void Guarded(Handler&& handler) noexcept;
  // Hands an event to the session through the gate, guarded.
  void Forward(std::function<void()> handler) {
    gate_.Pass([this, handler = std::move(handler)] { Guarded(handler); });
  }

  // The card device's serial port, for observers; the session opens and
  // closes it.
  const TSerComPort& port() const { return deviceLink_.port(); }
  // The card device as the window links it, for tests of the link itself.
  station::DeviceLink& deviceLink() { return deviceLink_; }

 private:
  // --- Banner and toolbar
  QWidget* banner_ = nullptr;
  QLabel* titleShadow_ = nullptr;  // the title's white shadow
  QLabel* title_ = nullptr;        // the title itself, navy
  QWidget* bannerCard_ = nullptr;
  QWidget* bannerStripe_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QAction* toolbarSeparator_ = nullptr;     // separator at the toolbar's left end
  QToolButton* openPortButton_ = nullptr;   // 端口打开
  QToolButton* closePortButton_ = nullptr;  // 端口关闭
  QToolButton* resetButton_ = nullptr;      // 复位
  QToolButton* statusButton_ = nullptr;     // 取状态
  QToolButton* settingsButton_ = nullptr;   // com设定
  QToolButton* journalButton_ = nullptr;    // 记录
  QToolButton* exitButton_ = nullptr;       // 退出

  // --- Written-card list
  ui::FitLabel* cardListLabel_ = nullptr;  // names the folder saved lists go to
  QToolButton* saveListButton_ = nullptr;
  QPlainTextEdit* cardListMemo_ = nullptr;

  // --- Track panel
  QWidget* trackPanel_ = nullptr;
  // The three track groups by track number (index 0 unused).
  struct TrackGroup {
    QGroupBox* group = nullptr;
    QCheckBox* trackBox = nullptr;  // the track takes part in reading and writing
    QPlainTextEdit* memo = nullptr;
    QCheckBox* continuousBox = nullptr;
    QLineEdit* stepField = nullptr;
    QCheckBox* fileBox = nullptr;
    QToolButton* browseButton = nullptr;
    QLineEdit* startRecordField = nullptr;
    QLabel* fileLabel = nullptr;              // names the chosen record file
    station::RecordFile* dataFile = nullptr;  // null for track 1, which has no file source
  };
  std::array<TrackGroup, 4> trackGroups_{};
  QLabel* writeCountLabel_ = nullptr;  // "连续写卡次数:" before the write count
  QLineEdit* writeCountField_ = nullptr;
  TUpDown* writeCountUpDown_ = nullptr;

  // --- Right column
  QTextEdit* helpText_ = nullptr;
  QWidget* strip_ = nullptr;
  QWidget* deviceImage_ = nullptr;
  QLabel* writeModePanel_ = nullptr;
  QFrame* timerPanel_ = nullptr;
  QLabel* secondsLabel_ = nullptr;

  // --- Bottom row
  ui::FitLabel* readPrompt_ = nullptr;
  QPushButton* readButton_ = nullptr;
  QPushButton* writeButton_ = nullptr;
  ui::FitLabel* writePrompt_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  // Panels 0..2 of statusBar_, left to right: port state, unused, operation messages.
  std::array<ui::FitLabel*, 3> statusPanels_{};

  // One-second operation timer, disabled at start.
  QTimer operationTimer_;

 public:
  // The run state and its decisions; the window shows what it asks for.
  station::CardSession& session() { return session_; }
  const station::CardSession& session() const { return session_; }

  // Call at the start of every reply that a write handler judges, before
  // success or failure is decided. At the list's bound it is saved exactly as
  // "保存" saves it and only then emptied; when that save fails the list stays
  // whole and the error goes to Prompts::Error.
  void EnforceCardLogLimit();
  // The written-card list.
  station::CardList& cardList() { return *cardList_; }
  // The record files that feed tracks 2 and 3.
  station::RecordFileSources& recordFiles() { return recordFiles_; }
  // Test seam: the folder that saved lists go to; empty means the
  // configuration's folder, asked at each save.
  void SetCardListFolder(std::filesystem::path folder) { cardListFolder_ = std::move(folder); }
  // Where saved lists go: the folder set above, else the configured one.
  std::filesystem::path ListFolder() const {
    return !cardListFolder_.empty() ? cardListFolder_
                                    : (config_.listFolder ? config_.listFolder() : std::filesystem::path());
  }

  // --- Device link
  // Sends a hex command as every operation does: false when nothing went out.
  bool SendCommand(const std::string& command) { return session_.SendCommand(command); }

  // The card journal; null when none is configured or it could not be opened.
  journal::Journal* journal() { return journalLink_.journal(); }
  const station::JournalLink& journalLink() const { return journalLink_; }
  station::JournalLink& journalLink() { return journalLink_; }
  // The 写卡记录 dialog once 记录 opened it.
  JournalDialog* journalDialog() { return journalDialog_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Unsaved lines of the written-card list are saved before the window goes.
  void closeEvent(QCloseEvent* event) override;

 private:
  const TrackGroup& Track(int track) const { return trackGroups_[static_cast<std::size_t>(track)]; }

  // --- The operator's buttons
  void OnOpenPortPressed();
  void OnClosePortPressed();
  void OnResetPressed();
  void OnStatusPressed();
  void OnSettingsPressed();
  void OnJournalPressed();
  void OnExitPressed();
  void OnReadPressed();
  void OnWritePressed();
  void OnSaveListPressed();
  // Asks for a track's record file and loads its start record.
  void OnBrowsePressed(int track);
  void OnOperationTick();
  // Shows the writing mode in writeModePanel_: caption on the given background.
  void ShowWriteMode(const QString& caption, const QColor& background);

  // The folder saved lists go to, as cardListLabel_ and the help text name it.
  QString ListFolderCaption() const;
  void BuildBanner(QWidget* client);
  void BuildCardList(QWidget* client);
  void BuildTrackPanel(QWidget* client);
  void BuildTrackGroup(int track, QWidget* panel, int top);
  void BuildRightColumn(QWidget* client);
  void BuildBottomRow(QWidget* client);
  void BuildStatusBar();
  void WireHandlers();
  // Whether a typed key may go into the field: each field takes only what it can hold.
  bool Admits(const QObject* field, unsigned char key) const;
  void ApplyStartState();

  // The track rules; they fire on every change of a tick, also by the program.
  void TrackBoxRule(int track);
  void ContinuousBoxRule(int track);
  void FileBoxRule(int track);
  void DropFileChoice(int track);

  station::DeviceLink::Hooks DeviceHooks();
  // Closes the port with its notifications detached, so that no reply reaches
  // a window on its way out.
  void ShutDownPort() noexcept;
  station::TrackForm TrackSnapshot(int track);

  // --- What the session asks of the window
  bool PortOpen() override;
  bool OpenPort(std::optional<std::uint16_t> number) override;
  void TryOpenPort() override;
  void ClosePort() override;
  std::uint16_t PortNumber() override;
  void Send(std::string_view bytes) override;
  void AwaitMoreReply() override;
  void ShowText(station::TextSlot slot, const std::string& text) override;
  void SetTrackText(int track, const std::string& bytes) override;
  void AddWrittenCard(int track, const std::string& bytes, std::int64_t cardId) override;
  void Message(const std::string& text) override;
  void Warning(const std::string& text) override;
  void Beep() override;
  void Focus(station::FocusTarget target) override;
  void ShowWriteMode(station::WriteMode mode) override;
  void EnableTrackBoxes(bool enable) override;
  void StartTimer() override;
  void StopTimer() override;
  station::StationForm Form() override;
  void KeepCardListInBounds() override;
  // Puts the next record of the track's data file (track 2 or 3), trimmed,
  // into the track field. Throws station::RecordFileError when the file
  // cannot be read; the reply path drops that, so the run stops there.
  void LoadNextRecord(int track) override;
  bool RecordsLeft(int track) override;
  void EndFileTrack(int track) override;
  std::int64_t RecordWrittenCard(const station::WrittenCardRecord& card) override;
  void RecordReadCard(const std::optional<std::string>& track2, const std::optional<std::string>& track3) override;
  bool Ask(const std::string& question) override;
  void StartReplyTailWait() override;
  void StopReplyTailWait() override;

  // --- What the journal link asks of the window
  void ShowJournalNews(const QString& text) override;
  void WarnAboutJournal(const QString& text) override;
  void RestoreListLine(int track, const std::string& text, std::int64_t cardId) override;
  void RenumberListLine(std::int64_t keptId, std::int64_t cardId) override;
  void ShowJournalWait(const QString& text) override;
  // Where the card being recorded came from: run kind, port, record files.
  station::CardOrigin CardOriginNow();
  bool ReopenPort() override;
  void StartReconnectTimer() override;
  void StopReconnectTimer() override;
  std::string OpenFailureDetail() override;
  std::vector<station::TakenNumber> ReserveNumbers(const station::WrittenCardRecord& card, bool repeat) override;
  std::string FirstFreeNumber(int track, const std::string& start, std::uint64_t step) override;
  void CancelReservation(const station::WrittenCardRecord& card) override;
  void MarkUnconfirmed(const station::WrittenCardRecord& card, station::Undecided reason) override;
  station::RecordFileSources::TrackControls FileControls(int track);
  // Saves the written-card list to its time-named file, empties it and tells
  // the journal; throws station::CardListSaveError and keeps the list when
  // the save fails.
  void SaveCardLog();
  void AppendWrittenCard(int track, const QString& text, std::int64_t cardId) {
    cardList_->Append(track, text, cardId);
  }

  std::unique_ptr<Prompts> prompts_;
  StationConfig config_;
  std::filesystem::path cardListFolder_;
  std::unique_ptr<station::CardList> cardList_;
  // Every event for the session passes here; held while a journal call waits.
  station::SessionGate gate_{[this](std::function<void()> task) { QTimer::singleShot(0, this, std::move(task)); }};
  station::JournalLink journalLink_;
  // Panel 2's text while "waiting for the journal" stands in it.
  QString textBeforeWait_;
  JournalDialog* journalDialog_ = nullptr;
  // The wait for the rest of a write reply cut inside the success reply.
  QTimer replyTailTimer_;
  // The card device's serial port, closed at start.
  station::DeviceLink deviceLink_{config_.timings, DeviceHooks(), this};
  station::CardSession session_{{*this, *this, *this, *this, *this}};
  station::RecordFileSources recordFiles_{session_.files(), [this]() -> Prompts& { return prompts(); }};
};

template <typename Handler>
void TForm1::Guarded(Handler&& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    prompts_->Error(QString::fromUtf8(e.what()));
  } catch (...) {
    prompts_->Error(QStringLiteral("Unknown exception"));
  }
}
