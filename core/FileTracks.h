#pragma once
// The record files that feed tracks 2 and 3 in file writing, with what a run
// needs to know of each: whether a file is chosen and which record the track
// field shows. Main thread only.

#include <array>

#include "core/RecordFile.h"

namespace station {

struct FileTrack {
  RecordFile file;
  // A file is loaded and its start record shown; a write run from files is
  // refused on a track without one.
  bool chosen = false;
  int recordNumber = 0;  // the record the track field shows, counted from 1
};

class FileTracks {
 public:
  // Track 2 or 3.
  FileTrack& operator[](int track) { return tracks_[Index(track)]; }
  const FileTrack& operator[](int track) const { return tracks_[Index(track)]; }

 private:
  static std::size_t Index(int track) { return track == 2 ? 0 : 1; }
  std::array<FileTrack, 2> tracks_;
};

}  // namespace station
