#pragma once
// The card device's side of the wire: the commands it understands and the
// reply bytes it sends. No I/O here.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

inline constexpr char kEsc = '\x1B';
inline constexpr char kGs = '\x1D';
inline constexpr char kFs = '\x1C';

// Track capacities of a card; a write frame can carry at most both plus the
// separator 'A' and GS.
inline constexpr std::size_t kTrack2Capacity = 37;
inline constexpr std::size_t kTrack3Capacity = 104;
// A write frame that has grown past this many bytes without its terminator
// is dropped. Any valid track pair (143 bytes with 'A' and GS) fits.
inline constexpr std::size_t kMaxFrameBytes = 160;

// Replies. None of the fixed replies contains the station's read end '?' FS,
// and the status reply holds neither "rp" nor "rq" nor the hex texts the
// station searches for in read replies ("1B73", "41", "3F1C").
inline constexpr std::string_view kStatusReply = "\x1Bok";
inline constexpr std::string_view kReadErrorReply = "\x1Brq";
inline constexpr std::string_view kWriteSuccessReply = "\x1Brp";
inline constexpr std::string_view kWriteFailureReply = "\x1Bre";

// Which tracks a read or write covers; the same coding as the station uses.
enum class Tracks { kTrack2 = 1, kTrack3 = 2, kBoth = 3 };

enum class CommandKind { kReset, kStatus, kRead, kWrite };

struct Command {
  CommandKind kind = CommandKind::kReset;
  Tracks tracks = Tracks::kTrack2;  // kRead and kWrite only
  std::string track2;               // kWrite only: data for track 2
  std::string track3;               // kWrite only: data for track 3

  bool operator==(const Command&) const = default;
};

inline Command MakeCommand(CommandKind kind, Tracks tracks = Tracks::kTrack2) {
  Command command;
  command.kind = kind;
  command.tracks = tracks;
  return command;
}

// Cuts the device's input byte stream into commands. Bytes may arrive in any
// pieces; garbage and unknown commands are skipped without swallowing the
// next good command, and an unterminated write frame is dropped once it
// passes kMaxFrameBytes or when another command begins.
class CommandParser {
 public:
  std::vector<Command> Feed(std::string_view bytes);

  // Bytes skipped as garbage, unknown or broken commands, and dropped frames;
  // for the byte log and tests.
  std::size_t skippedBytes() const { return skipped_; }
  std::size_t droppedFrames() const { return droppedFrames_; }

 private:
  enum class State { kScan, kEsc, kEscT, kEscB, kReadWantEsc, kReadWantJ, kFrame, kFrameEsc };

  void Step(char byte, std::vector<Command>& out);
  void DropFrame();
  // A read command broken off before its end: what it had is skipped, and
  // byte is read again in state resume.
  void AbandonRead(State resume, char byte, std::vector<Command>& out);

  State state_ = State::kScan;
  Tracks pendingRead_ = Tracks::kTrack2;
  std::string frame_;
  std::size_t skipped_ = 0;
  std::size_t droppedFrames_ = 0;
};

// Builds the write command a frame body (the bytes between ESC 't' and the
// terminator, GS removed) stands for: track 2 characters up to the first 'A',
// track 3 characters after it.
Command WriteCommandFromFrame(std::string_view body);

// The read reply for the given tracks: ESC 's' track2 '?' FS, ESC 's' 'A'
// track3 '?' FS, or ESC 's' track2 'A' track3 '?' FS.
std::string ReadReply(Tracks tracks, std::string_view track2, std::string_view track3);

// Splits a reply into at most `chunks` pieces of near-equal length, in order;
// a reply shorter than `chunks` gives one byte per piece.
std::vector<std::string> SplitReply(std::string_view reply, int chunks);

}  // namespace cardsim
