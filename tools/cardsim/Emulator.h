#pragma once
// The emulated device as a whole: the command parser and state machine, the
// deck, the faults an operator can switch on, the timed swipes and the queue
// of reply pieces. Time is passed in, so everything here runs without clocks,
// threads or file descriptors; the program's event loop feeds it.

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Deck.h"
#include "Device.h"
#include "Protocol.h"

namespace cardsim {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

struct Faults {
  int chunks = 1;        // every reply goes out in this many pieces ...
  Millis chunkDelay{0};  // ... this far apart
  int badSwipes = 0;     // the next this many answered swipes fail
  int dropReplies = 0;   // the next this many replies are not sent
  bool silent = false;   // a dead device: reads nothing, answers nothing
};

struct EmulatorConfig {
  std::optional<Millis> autoSwipe;    // swipe this long after every arming
  std::optional<Millis> hangUpAfter;  // hang up this long after start
  Faults faults;
};

class Emulator {
 public:
  Emulator(Deck deck, EmulatorConfig config, Clock::time_point start);

  // Bytes the station sent.
  void OnInput(std::string_view bytes, Clock::time_point now);

  // Runs one control command (a line without its newline) and returns its
  // one-line answer, which starts with "ok" or "error".
  std::string Control(std::string_view line, Clock::time_point now);

  // Runs the timers that are due (auto-swipe, hang-up) and returns the reply
  // pieces due by `now`, in sending order.
  std::vector<std::string> Advance(Clock::time_point now);

  // When Advance next has something to do; nothing when no timer runs.
  std::optional<Clock::time_point> NextDeadline() const;

  enum class LineRequest { kNone, kHangUp, kReopen };
  // What the event loop must do to the line; each request is returned once.
  LineRequest TakeLineRequest();
  // Tells the emulator whether the line is up, after the event loop acted.
  void SetLineUp(bool up) { lineUp_ = up; }

  bool quitRequested() const { return quit_; }

  // Events worth a line in the byte log and on standard error (automatic
  // swipes, dropped frames); taken once.
  std::vector<std::string> TakeNotes();

  const Device& device() const { return device_; }
  const Deck& deck() const { return deck_; }
  const Faults& faults() const { return config_.faults; }

 private:
  std::string Swipe(std::optional<std::size_t> cardNumber, bool bad, Clock::time_point now);
  void Send(std::string_view reply, Clock::time_point now);
  void HangUp();
  std::string StateText() const;
  std::string FaultsText() const;

  struct Piece {
    Clock::time_point due;
    std::string bytes;
  };

  Deck deck_;
  EmulatorConfig config_;
  CommandParser parser_;
  Device device_;
  std::deque<Piece> queue_;
  std::optional<Clock::time_point> autoSwipeAt_;
  std::optional<Clock::time_point> hangUpAt_;
  LineRequest lineRequest_ = LineRequest::kNone;
  bool lineUp_ = true;
  bool quit_ = false;
  std::vector<std::string> notes_;
};

// The text of `help` and of --help's control section.
extern const char* const kControlHelp;

}  // namespace cardsim
