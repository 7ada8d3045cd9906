#pragma once

#include <array>
#include <cstddef>

#include "core/SessionEffects.h"
#include "station/RecordFileSources.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;
class QWidget;

namespace station {

class FieldKeyFilter;

// The controls of one track group (磁道N数据) of the main window.
struct TrackGroup {
  QGroupBox* group = nullptr;
  QCheckBox* trackBox = nullptr;  // the track takes part in reading and writing
  QPlainTextEdit* memo = nullptr;
  QCheckBox* continuousBox = nullptr;
  QLineEdit* stepField = nullptr;
  QCheckBox* fileBox = nullptr;
  QToolButton* browseButton = nullptr;
  QLineEdit* startRecordField = nullptr;
  QLabel* fileLabel = nullptr;  // names the chosen record file

  // Builds the group of the track (1 to 3) into panel, its top edge at top.
  static TrackGroup Build(int track, QWidget* panel, int top);
  // The group as the operator left it; whether a record file is chosen is
  // not the group's to know.
  TrackForm Snapshot() const;
  RecordFileSources::TrackControls FileControls() const { return {memo, startRecordField, fileLabel}; }
  // Each field of the group takes only the keys it can hold.
  void FilterKeys(FieldKeyFilter& filter, int track) const;
};

// The three track groups by track number (index 0 unused).
struct TrackGroups {
  std::array<TrackGroup, 4> byTrack{};
  TrackGroup& operator[](int track) { return byTrack[static_cast<std::size_t>(track)]; }
  const TrackGroup& operator[](int track) const { return byTrack[static_cast<std::size_t>(track)]; }
};

}  // namespace station
