#include "core/WriteCommand.h"

#include "core/HexText.h"
#include "core/ReadReply.h"

namespace station {

std::string WriteFrame(int tracks, const std::string& track2, const std::string& track3) {
  std::string frame = "1B74";
  if (tracks != kTrack3Only) frame += TextToHex(track2);
  if (tracks != kTrack2Only) frame += "41" + TextToHex(track3);
  frame += "1D1B5C";
  return frame;
}

WriteBuild BuildTypedWrite(const WriteTrackInput& track2, const WriteTrackInput& track3) {
  if (track2.ticked && !track3.ticked) {
    if (track2.continuous && track2.stepEmpty) return WriteRefusal{kMsgNeedStep, FocusTarget::tk2Step};
    if (track2.text.empty()) return WriteRefusal{kMsgNeedData, FocusTarget::track2};
    return WriteArming{WriteFrame(kTrack2Only, track2.text, {}), kTrack2Only};
  }
  if (track3.ticked && !track2.ticked) {
    if (track3.continuous && track3.stepEmpty) return WriteRefusal{kMsgNeedStep, FocusTarget::tk3Step};
    if (track3.text.empty()) return WriteRefusal{kMsgNeedData, FocusTarget::track3};
    return WriteArming{WriteFrame(kTrack3Only, {}, track3.text), kTrack3Only};
  }
  if (track2.ticked && track3.ticked) {
    if (track2.continuous && track2.stepEmpty) return WriteRefusal{kMsgNeedStep, FocusTarget::tk2Step};
    if (track3.continuous && track3.stepEmpty) return WriteRefusal{kMsgNeedStep, FocusTarget::tk3Step};
    if (!track2.text.empty() && !track3.text.empty()) {
      return WriteArming{WriteFrame(kBothTracks, track2.text, track3.text), kBothTracks};
    }
    // The focus visits the empty track 2 field first, then the empty track 3
    // field, so with both empty it ends in track 3.
    return WriteRefusal{kMsgNeedData, track3.text.empty() ? FocusTarget::track3 : FocusTarget::track2};
  }
  return std::monostate{};
}

WriteBuild BuildFileWrite(const WriteTrackInput& track2, const WriteTrackInput& track3) {
  if (track2.fileBox && !track2.fileChosen) return WriteRefusal{kMsgNoFileChosen, FocusTarget::none};
  if (track3.fileBox && !track3.fileChosen) return WriteRefusal{kMsgNoFileChosen, FocusTarget::none};
  int tracks = 0;
  if (track2.ticked && track3.ticked) {
    tracks = kBothTracks;
  } else if (track2.ticked) {
    tracks = kTrack2Only;
  } else if (track3.ticked) {
    tracks = kTrack3Only;
  } else {
    return std::monostate{};
  }
  const bool track2Missing = tracks != kTrack3Only && track2.text.empty();
  const bool track3Missing = tracks != kTrack2Only && track3.text.empty();
  if (track2Missing || track3Missing) return WriteRefusal{kMsgFileRecordEmpty, FocusTarget::none};
  return WriteArming{WriteFrame(tracks, track2.text, track3.text), tracks};
}

}  // namespace station
