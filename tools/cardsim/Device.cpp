#include "Device.h"

#include <algorithm>

namespace cardsim {

const char* ToString(SwipeResult result) {
  switch (result) {
    case SwipeResult::kIgnored: return "ignored";
    case SwipeResult::kRead: return "read";
    case SwipeResult::kReadError: return "read-error";
    case SwipeResult::kWritten: return "written";
    case SwipeResult::kWriteFailed: return "write-failed";
  }
  return "?";
}

bool Writable(const Command& write) {
  const auto trackChars = [](const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '?'; });
  };
  if (write.tracks == Tracks::kTrack2 && write.track2.empty()) return false;
  return trackChars(write.track2) && trackChars(write.track3) && write.track2.size() <= kTrack2Capacity &&
         write.track3.size() <= kTrack3Capacity;
}

std::string Device::OnCommand(const Command& command) {
  switch (command.kind) {
    case CommandKind::kReset: mode_ = Mode::kIdle; return {};
    case CommandKind::kStatus:
      // The station polls every second while a write is armed; an answer then
      // would be judged as a failed card.
      return mode_ == Mode::kIdle ? std::string(kStatusReply) : std::string();
    case CommandKind::kRead:
      mode_ = Mode::kRead;
      armed_ = command;
      return {};
    case CommandKind::kWrite:
      mode_ = Mode::kWrite;
      armed_ = command;
      return {};
  }
  return {};
}

Device::Swipe Device::SwipeCard(Card& card, bool bad) {
  Swipe swipe;
  switch (mode_) {
    case Mode::kIdle: return swipe;
    case Mode::kRead:
      if (bad) {
        swipe = {SwipeResult::kReadError, std::string(kReadErrorReply)};
      } else {
        swipe = {SwipeResult::kRead, ReadReply(armed_.tracks, card.track2, card.track3)};
      }
      break;
    case Mode::kWrite:
      if (bad || !Writable(armed_)) {
        swipe = {SwipeResult::kWriteFailed, std::string(kWriteFailureReply)};
      } else {
        // A track the frame does not name keeps its data.
        if (armed_.tracks != Tracks::kTrack3) card.track2 = armed_.track2;
        if (armed_.tracks != Tracks::kTrack2) card.track3 = armed_.track3;
        swipe = {SwipeResult::kWritten, std::string(kWriteSuccessReply)};
      }
      break;
  }
  mode_ = Mode::kIdle;
  return swipe;
}

}  // namespace cardsim
