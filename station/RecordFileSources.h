#pragma once

#include <functional>

#include "core/FileTracks.h"

class Prompts;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace station {

// The record files that feed tracks 2 and 3: choosing a file and loading its
// start record into the track field, and loading the next record during a run.
// Main thread only.
class RecordFileSources {
 public:
  // The controls of one track that a record file fills.
  struct TrackControls {
    QPlainTextEdit* field = nullptr;
    QLineEdit* startRecordField = nullptr;
    QLabel* fileLabel = nullptr;  // names the chosen file
  };

  // files: the session's record files; prompts: the boxes as they stand at each use.
  RecordFileSources(FileTracks& files, std::function<Prompts&()> prompts)
      : files_(files), prompts_(std::move(prompts)) {}

  // Asks for a file and loads its start record (record 1 when the field is
  // empty or 0) into the field; a cancelled or failed choice leaves the track
  // with no file.
  void Choose(int track, const TrackControls& controls, QWidget* dialogParent);
  // Puts the next record, trimmed, into the track field. Throws
  // RecordFileError when the file cannot be read.
  void LoadNext(int track, const TrackControls& controls);
  // Whether a record follows in the track's file.
  bool RecordsLeft(int track) const { return !files_[track].file.AtEnd(); }
  // Closes the track's file and forgets the choice.
  void Drop(int track);

 private:
  FileTracks& files_;
  std::function<Prompts&()> prompts_;
};

}  // namespace station
