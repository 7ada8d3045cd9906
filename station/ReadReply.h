#pragma once

#include <optional>
#include <string>
#include <string_view>

// Card reading without widgets: the read command for the ticked tracks and the
// judging and cutting of the device's read reply (hex text, joined chunks).
namespace station {

// Track codes shared by reads and writes: 1 track 2, 2 track 3, 3 both.
inline constexpr int kTrack2Only = 1;
inline constexpr int kTrack3Only = 2;
inline constexpr int kBothTracks = 3;

struct ReadArming {
  std::string command;  // hex text
  int tracks = 0;
};

// Nothing when neither track is ticked: the caller keeps its track code.
std::optional<ReadArming> ReadCommandFor(bool track2Ticked, bool track3Ticked);

enum class ReadReplyKind {
  error,       // the decoded reply holds "rq"; wins over complete data
  incomplete,  // no end pattern '?' FS yet
  complete,
};

ReadReplyKind JudgeReadReply(std::string_view replyHex);

// Decoded track texts of a complete reply; an empty optional means the field
// is left as it is (the reply lacks the start pattern for these tracks).
struct ReadTrackTexts {
  std::optional<std::string> track2;
  std::optional<std::string> track3;
};

// Cuts by the first occurrences of the patterns: data start after "1B73"
// ("1B7341" when track 3 alone was read), end before "3F1C", and in a read of
// both tracks "41" separates them. A piece of zero or negative length is empty.
ReadTrackTexts CutReadReply(std::string_view replyHex, int tracks);

}  // namespace station
