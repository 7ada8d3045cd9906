#pragma once

#include <QString>

#include <string>

#include "core/SessionEffects.h"
#include "station/RecordFileSources.h"

namespace station {

class CardList;

// What the station's logic asks of the window that shows it. Main thread only.
class StationView {
 public:
  virtual ~StationView() = default;
  // Puts the text in the slot's place as it is.
  virtual void Show(TextSlot slot, const QString& text) = 0;
  // Said in the operation panel and painted at once, before a call that may
  // hold the main thread; the panel's own text is back for the next paint.
  virtual void PaintOperationNote(const QString& text) = 0;
  virtual void SetTrackText(int track, const std::string& bytes) = 0;
  virtual void Focus(FocusTarget target) = 0;
  virtual void ShowWriteMode(WriteMode mode) = 0;
  // true: the boxes of tracks 2 and 3 may be ticked; false: none of the three may.
  virtual void EnableTrackBoxes(bool enable) = 0;
  // The track groups and the write count as the operator left them; which
  // tracks have a record file chosen is not the window's to know.
  virtual StationForm Form() = 0;
  // Unticks the track's file box and track box.
  virtual void UntickFileTrack(int track) = 0;
  virtual RecordFileSources::TrackControls FileControls(int track) = 0;
  virtual CardList& WrittenCards() = 0;
};

}  // namespace station
