#pragma once

#include <array>
#include <cstddef>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace station {

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
};

// The three track groups by track number (index 0 unused).
struct TrackGroups {
  std::array<TrackGroup, 4> byTrack{};
  TrackGroup& operator[](int track) { return byTrack[static_cast<std::size_t>(track)]; }
  const TrackGroup& operator[](int track) const { return byTrack[static_cast<std::size_t>(track)]; }
};

}  // namespace station
