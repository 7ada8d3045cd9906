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

#include "journal/Journal.h"
#include "serial/ComPort.h"
#include "settings/SettingsFile.h"
#include "station/CardSession.h"
#include "station/JournalLink.h"
#include "station/JournalMessages.h"
#include "station/Prompts.h"
#include "station/WriteCommand.h"
#include "station/RecordFile.h"

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

// How long the station gives the device and the operator. These are the
// device's needs and the operator's rhythm; tests that do not examine a wait
// may shorten it.
struct StationTimings {
  std::chrono::milliseconds afterCommand{200};    // the device's pause after every command
  std::chrono::milliseconds incompleteReply{100};  // for the rest of a reply to arrive
  std::chrono::milliseconds reopenSettle{50};      // for the line to settle before a reopen
  std::chrono::milliseconds tick{1000};            // the operation timer's second
  std::chrono::milliseconds reconnect{2000};       // between reopen attempts after a line loss
};

// What the window takes from outside, asked at each use so that a change to
// the stored settings takes effect at the next open or save.
struct StationConfig {
  std::function<std::string()> portName;                        // e.g. "com1"
  std::function<std::string(std::uint16_t)> devicePath;         // port number -> device
  std::function<std::filesystem::path()> listFolder;            // where saved lists go
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
class TForm1 : public QMainWindow, private station::SessionEffects, private station::JournalLinkView {
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

  // The card device's serial port, for observers; the session opens and
  // closes it.
  const TSerComPort& port() const { return ComPort1; }

 private:
  // --- Banner and toolbar
  QWidget* Panel1 = nullptr;
  QLabel* Label5 = nullptr;  // the title's white shadow
  QLabel* Label3 = nullptr;  // the title itself, navy
  QWidget* Image1 = nullptr;
  QWidget* Panel2 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QAction* ToolButton1 = nullptr;  // separator at the toolbar's left end
  QToolButton* ToolButton5 = nullptr;  // 端口打开
  QToolButton* ToolButton6 = nullptr;  // 端口关闭
  QToolButton* ToolButton3 = nullptr;  // 复位
  QToolButton* ToolButton4 = nullptr;  // 取状态
  QToolButton* ToolButton8 = nullptr;  // com设定
  QToolButton* ToolButton9 = nullptr;  // 记录
  QToolButton* ToolButton7 = nullptr;  // 退出

  // --- Written-card list
  ui::FitLabel* Label4 = nullptr;  // names the folder saved lists go to
  QToolButton* SpeedButton1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;

  // --- Track panel
  QWidget* Panel3 = nullptr;
  QGroupBox* TK1GroupBox = nullptr;
  QGroupBox* TK2GroupBox = nullptr;
  QGroupBox* TK3GroupBox = nullptr;
  QCheckBox* TK1CheckBox = nullptr;
  QCheckBox* TK2CheckBox = nullptr;
  QCheckBox* TK3CheckBox = nullptr;
  QPlainTextEdit* Track1Memo = nullptr;
  QPlainTextEdit* Track2Memo = nullptr;
  QPlainTextEdit* Track3Memo = nullptr;
  QCheckBox* TK1AutoIncCheckBox = nullptr;
  QCheckBox* TK2AutoIncCheckBox = nullptr;
  QCheckBox* TK3AutoIncCheckBox = nullptr;
  QLineEdit* TK1StepEdit = nullptr;
  QLineEdit* TK2StepEdit = nullptr;
  QLineEdit* TK3StepEdit = nullptr;
  QCheckBox* tk1filename = nullptr;
  QCheckBox* tk2filename = nullptr;
  QCheckBox* tk3filename = nullptr;
  QToolButton* tk1sb = nullptr;
  QToolButton* tk2Sb = nullptr;
  QToolButton* tk3Sb = nullptr;
  QLineEdit* tk1file_step = nullptr;
  QLineEdit* tk2file_step = nullptr;
  QLineEdit* tk3file_step = nullptr;
  QLabel* tk1disp = nullptr;
  QLabel* tk2disp = nullptr;
  QLabel* tk3disp = nullptr;
  QLabel* Label10 = nullptr;  // "连续写卡次数:" before the write count
  QLineEdit* WriteCountEdit = nullptr;
  TUpDown* WrCouUpDown = nullptr;

  // --- Right column
  QTextEdit* RichEdit1 = nullptr;
  QWidget* Image2 = nullptr;
  QWidget* DeviceImage = nullptr;
  QLabel* WriteModePanel = nullptr;
  QFrame* Panel4 = nullptr;
  QLabel* l_timer = nullptr;

  // --- Bottom row
  ui::FitLabel* st2 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  ui::FitLabel* st1 = nullptr;
  QStatusBar* MainStatusBar = nullptr;
  // Panels 0..2 of MainStatusBar, left to right: port state, unused, operation messages.
  std::array<ui::FitLabel*, 3> MainStatusBarPanels{};

  // One-second operation timer, disabled at start.
  QTimer OpenTimer;

  // Every two seconds after the line went away, until the port opens again.
  QTimer ReconnectTimer;

  // The card device's serial port, closed at start.
  TSerComPort ComPort1;

 public:
  // The run state and its decisions; the window shows what it asks for.
  station::CardSession& session() { return session_; }
  const station::CardSession& session() const { return session_; }

  // --- Card data operations for the write handlers (main thread only)
  // Puts the next record of the track's data file (track 2 or 3), trimmed,
  // into the track field. Throws station::RecordFileError when the file
  // cannot be read; the reply path drops that, so the run stops there.
  void LoadNextRecord(int track) override;
  // Whether a record follows in the track's data file (track 2 or 3).
  bool RecordsLeft(int track) override;
  // Adds a written card's line to Memo1: "磁道1卡号:" + text for track 2,
  // "磁道2卡号:" + text for track 3. Call once per written track, track 2 first.
  // cardId is the card's journal entry, 0 when it has none.
  void AppendWrittenCard(int track, const QString& text, std::int64_t cardId = 0);
  // Call at the start of every reply that a write handler judges, before
  // success or failure is decided. At 2000 display lines or more the list is
  // saved exactly as "保存" saves it and only then emptied; when that save
  // fails the list stays whole and the error goes to Prompts::Error.
  void EnforceCardLogLimit();
  // Lines that Memo1 shows as its view wraps the entries.
  int CardLogDisplayLines() const;
  // Test seam: the folder that saved lists go to; empty means the
  // configuration's folder, asked at each save.
  void SetCardListFolder(std::filesystem::path folder) { cardListFolder_ = std::move(folder); }
  // Where saved lists go: the folder set above, else the configured one.
  std::filesystem::path ListFolder() const {
    return !cardListFolder_.empty() ? cardListFolder_ : (config_.listFolder ? config_.listFolder() : std::filesystem::path());
  }

  // Shows the writing mode in WriteModePanel: caption on the given background.
  void ShowWriteMode(const QString& caption, const QColor& background);

  // --- Handlers: toolbar
  void ToolButton5Click();
  void ToolButton6Click();
  void ToolButton3Click();
  void ToolButton4Click();
  void ToolButton8Click();
  void ToolButton9Click();
  void ToolButton7Click();
  // --- Handlers: buttons
  void BitBtn1Click();
  void BitBtn3Click();
  void SpeedButton1Click();
  void tk2SbClick();
  void tk3SbClick();
  // --- Handlers: track rules (fire on every change of a tick, also by the program)
  void TK1CheckBoxClick();
  void TK2CheckBoxClick();
  void TK3CheckBoxClick();
  void TK1AutoIncCheckBoxClick();
  void TK2AutoIncCheckBoxClick();
  void TK3AutoIncCheckBoxClick();
  void tk2filenameClick();  // shared by tk1filename and tk2filename
  void tk3filenameClick();
  // --- Handlers: key filters; a refused character is set to 0
  void Track2MemoKeyPress(char& Key);
  void Track3MemoKeyPress(char& Key);
  void TK1StepEditKeyPress(char& Key);
  void TK2StepEditKeyPress(char& Key);  // also the start-record fields
  void TK3StepEditKeyPress(char& Key);
  void WriteCountEditKeyPress(char& Key);
  // --- Handlers: timer, serial notifications, creation
  void OpenTimerTimer();
  void ComPort1Trigger(TSerCustomComPort* CP, std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data);
  void FormCreate();

  // --- Device link
  // Sends a hex command as every operation does: false when nothing went out.
  bool SendCommand(const std::string& command) { return session_.SendCommand(command); }

 // The card journal; null when none is configured or it could not be opened.
  journal::Journal* journal() { return journalLink_.journal(); }
  const station::JournalLink& journalLink() const { return journalLink_; }
  // The 写卡记录 dialog once 记录 opened it.
  JournalDialog* journalDialog() { return journalDialog_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Unsaved lines of the written-card list are saved before the window goes.
  void closeEvent(QCloseEvent* event) override;

 private:
  // The controls of one track group, by role.
  struct TrackGroup {
    QGroupBox* group;
    QCheckBox* trackBox;
    QPlainTextEdit* field;
    QCheckBox* continuousBox;
    QLineEdit* stepField;
    QCheckBox* fileBox;
    QToolButton* browseButton;
    QLineEdit* startRecordField;
    QLabel* fileLabel;
    station::RecordFile* dataFile;  // null for track 1, which has no file source
    bool* fileChosen;               // null for track 1
  };
  TrackGroup Track(int track);

  // The folder saved lists go to, as Label4 and the help text name it.
  QString ListFolderCaption() const;
  void BuildBanner(QWidget* client);
  void BuildCardList(QWidget* client);
  void BuildTrackPanel(QWidget* client);
  void BuildTrackGroup(int track, QWidget* panel, int top);
  void BuildRightColumn(QWidget* client);
  void BuildBottomRow(QWidget* client);
  void BuildStatusBar();
  void WireHandlers();
  void ApplyStartState();

  void TrackBoxRule(int track);
  void ContinuousBoxRule(int track);
  void FileBoxRule(int track);
  void DropFileChoice(const TrackGroup& g);

  void SetUpComPort1();
  // Closes the port with its handlers detached, so that no reply reaches a
  // window on its way out.
  void ShutDownPort() noexcept;
  // Writes the recorders' files and closes the port, also when a file cannot
  // be written; returns the operator's text for each file that could not be
  // (lines), empty when all went well.
  std::string CloseComPort();
  // Points the port's recorders at the diagnostics folder and switches them as
  // configured; the port is closed.
  void SetUpDiagnostics();
  void WaitOutputDrained();
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
  void ShowWriteMode(const station::WriteModeLook& look) override;
  void EnableTrackBoxes(bool enable) override;
  void StartTimer() override;
  void StopTimer() override;
  station::StationForm Form() override;
  void KeepCardListInBounds() override;
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
  // Loads the first record file of a track after the browse button was pressed.
  void LoadRecordFile(int track);
  // Saves Memo1 to its time-named file and empties it; throws
  // station::CardListSaveError and keeps the list when the save fails.
  void SaveCardLog();

  std::unique_ptr<Prompts> prompts_;
  StationConfig config_;
  std::filesystem::path cardListFolder_;
  // The journal entry of each Memo1 line, in order (0: not journaled).
  std::vector<std::pair<std::int64_t, int>> cardLines_;
  station::JournalLink journalLink_;
  JournalDialog* journalDialog_ = nullptr;
  // The wait for the rest of a write reply cut inside the success reply.
  QTimer replyTailTimer_;
  // The second line of the last failed open's message; empty after a success.
  std::string openFailure_;
  station::CardSession session_{*this};
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
