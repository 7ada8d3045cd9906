#pragma once

#include <QMainWindow>

#include <filesystem>
#include <memory>
#include <string>

#include "core/CardSession.h"
#include "journal/Journal.h"
#include "station/CardList.h"
#include "station/DeviceLink.h"
#include "station/Guarded.h"
#include "station/Prompts.h"
#include "station/RecordFileSources.h"
#include "station/StationConfig.h"
#include "station/StationView.h"

class JournalDialog;

namespace station {
struct MainWindowControls;
class JournalLink;
}  // namespace station

// The card station's only working window. It builds the controls (each found
// by its design name as objectName), passes the operator's presses on to the
// station behind it and shows what it is told. Every handler runs on the main
// thread.
class TForm1 : public QMainWindow, private station::StationView {
  Q_OBJECT

 public:
  explicit TForm1(StationConfig config = StationConfig::FromSettingsFile(), QWidget* parent = nullptr);
  ~TForm1() override;

  // Replaces the boxes shown to the operator (tests install a recorder).
  void SetPrompts(std::unique_ptr<Prompts> prompts);
  // Runs a handler; an exception that escapes it is shown in the general error
  // box with its text, and the program goes on.
  template <typename Handler>
  void Guarded(Handler&& handler) noexcept {
    station::Guarded(*prompts_, std::forward<Handler>(handler));
  }

  // --- The station behind the window, for observers and tests
  station::CardSession& session();
  const station::CardSession& session() const;
  // The card device's serial port; the session opens and closes it.
  const TSerComPort& port() const;
  station::DeviceLink& deviceLink();
  station::CardList& cardList();
  station::RecordFileSources& recordFiles();
  // The card journal; null when none is configured or it could not be opened.
  journal::Journal* journal();
  // The journal link: calls on the journal go through it, on its thread.
  station::JournalLink& journalLink();
  // The 写卡记录 dialog once 记录 opened it.
  JournalDialog* journalDialog();
  // Sends a hex command as every operation does: false when nothing went out.
  bool SendCommand(const std::string& command);
  // What every reply a write handler judges starts with: a list at its bound
  // is saved as 保存 saves it, and emptied only when that worked.
  void EnforceCardLogLimit();
  // Test seam: the folder saved lists go to instead of the configured one.
  void SetCardListFolder(std::filesystem::path folder);

 protected:
  // Unsaved lines of the written-card list are saved before the window goes.
  void closeEvent(QCloseEvent* event) override;

 private:
  void WireHandlers();
  void OnSettingsPressed();
  void OnJournalPressed();
  void OnExitPressed();
  QString ListFolderCaption() const;

  // --- What the station shows through the window
  void Show(station::TextSlot slot, const QString& text) override;
  void PaintOperationNote(const QString& text) override;
  void SetTrackText(int track, const std::string& bytes) override;
  void Focus(station::FocusTarget target) override;
  void ShowWriteMode(station::WriteMode mode) override;
  void EnableTrackBoxes(bool enable) override;
  station::StationForm Form() override;
  void UntickFileTrack(int track) override;
  station::RecordFileSources::TrackControls FileControls(int track) override;
  station::CardList& WrittenCards() override;

  std::unique_ptr<Prompts> prompts_;
  std::unique_ptr<station::MainWindowControls> controls_;
};
