#pragma once
// The card reader/writer's state machine: idle, a read armed, or a write
// armed. Commands come from CommandParser, swipes from the operator (or the
// emulator's timers). No I/O here; replies are returned as bytes.

#include <string>

#include "Protocol.h"

namespace cardsim {

struct Card {
  std::string track2;
  std::string track3;

  bool Blank() const { return track2.empty() && track3.empty(); }
  bool operator==(const Card&) const = default;
};

enum class Mode { kIdle, kRead, kWrite };

enum class SwipeResult {
  kIgnored,      // nothing armed: the card passes without an answer
  kRead,         // track data sent
  kReadError,    // read error sent
  kWritten,      // card written, success sent
  kWriteFailed,  // card left as it was, failure sent
};

const char* ToString(SwipeResult result);

class Device {
 public:
  // Applies one command; returns the reply bytes, empty when the device
  // stays quiet.
  std::string OnCommand(const Command& command);

  struct Swipe {
    SwipeResult result = SwipeResult::kIgnored;
    std::string reply;
  };
  // The operator swipes `card`; `bad` makes the swipe fail (a dirty stripe,
  // a card pulled crookedly). A write changes `card`. Every answered swipe
  // leaves the device idle until the station arms it again.
  Swipe SwipeCard(Card& card, bool bad);

  Mode mode() const { return mode_; }
  Tracks tracks() const { return armed_.tracks; }
  // The armed write's data (valid while mode() is kWrite).
  const Command& armedWrite() const { return armed_; }

 private:
  Mode mode_ = Mode::kIdle;
  Command armed_;
};

// Whether a write command can be put on a card: track characters '0' to '?'
// only, within the track capacities, and at least one track present.
bool Writable(const Command& write);

}  // namespace cardsim
