#pragma once
// The main window's own parts, for MainWindow.cpp and MainWindowLayout.cpp
// only: the controls it shows and the station behind them.

#include <QString>

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>

#include "station/CardList.h"
#include "station/FieldKeyFilter.h"
#include "station/SessionAdapter.h"
#include "station/TrackGroup.h"
#include "station/TrackRules.h"

class JournalDialog;
class QAbstractButton;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPlainTextEdit;
class TUpDown;

namespace ui {
class FitLabel;
}

namespace station {

// The buttons whose press is an event of the window.
enum class Press { openPort, closePort, reset, status, settings, journal, exit, saveList, read, write, count };

struct MainWindowControls {
  std::array<QAbstractButton*, static_cast<std::size_t>(Press::count)> buttons{};
  QAbstractButton*& button(Press press) { return buttons[static_cast<std::size_t>(press)]; }

  // Where the session's texts go, by TextSlot up to the seconds, which
  // secondsLabel shows; each elides a text too long for it.
  std::array<ui::FitLabel*, static_cast<std::size_t>(TextSlot::seconds)> textPlaces{};
  ui::FitLabel*& textPlace(TextSlot slot) { return textPlaces[static_cast<std::size_t>(slot)]; }
  // Panel 2's text while "waiting for the journal" stands in it.
  QString textBeforeWait;
  QLabel* secondsLabel = nullptr;

  QPlainTextEdit* cardListMemo = nullptr;
  TrackGroups tracks;
  QLineEdit* writeCountField = nullptr;
  TUpDown* writeCountUpDown = nullptr;
  QLabel* writeModePanel = nullptr;

  std::unique_ptr<CardList> cardList;
  std::unique_ptr<SessionAdapter> station;
  std::unique_ptr<TrackRules> rules;
  FieldKeyFilter* keyFilter = nullptr;  // a child of the window
  JournalDialog* journalDialog = nullptr;
};

// Builds every control of the window into controls; listFolder is where saved
// lists go and listFolderCaption how the window names it.
void BuildMainWindow(QMainWindow& window, MainWindowControls& controls, const std::filesystem::path& listFolder,
                     const QString& listFolderCaption);

}  // namespace station
