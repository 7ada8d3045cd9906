#pragma once

#include <functional>

#include "station/TrackGroup.h"

class QObject;

namespace station {

// How the boxes of a track group enable, tick and untick each other: a track
// box gives its group to the operator, and continuous writing and writing
// from a file exclude each other. The rules fire on every change of a tick,
// also one a rule makes, so they are meant for the boxes' toggled signal.
// Main thread only.
class TrackRules {
 public:
  // dropFile closes the record file of track 2 or 3 and forgets the choice.
  TrackRules(const TrackGroups& groups, std::function<void(int track)> dropFile)
      : groups_(groups), dropFile_(std::move(dropFile)) {}

  // Every group as the window starts: unticked and disabled, no file named.
  void SetStartState() const;

  // Applies the rules whenever a box of a group changes, through guard
  // (which reports what a rule throws), for as long as context lives.
  void Follow(QObject* context, std::function<void(const std::function<void()>&)> guard) const;

  void TrackBoxChanged(int track) const;
  void ContinuousBoxChanged(int track) const;
  void FileBoxChanged(int track) const;

 private:
  void DropFileChoice(int track) const;

  const TrackGroups& groups_;
  std::function<void(int)> dropFile_;
};

}  // namespace station
