#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/TrackCharacters.h"

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

// The longest reply a read can bring, in hex text: ESC 's', the longest track
// 2, the separator 'A', the longest track 3, then '?' FS.
inline constexpr std::size_t kLongestReadReplyHex = 2 * (2 + kTrack2MaxLength + 1 + kTrack3MaxLength + 2);

enum class ReadReplyKind {
  error,       // the decoded reply holds "rq"; wins over complete data
  incomplete,  // no end pattern '?' FS yet
  complete,
};

ReadReplyKind JudgeReadReply(std::string_view replyHex);

// Drops the front of an incomplete reply that no read reply can still need:
// only the last kLongestReadReplyHex characters are kept, whole bytes. A reply
// that ends later lies within them, and a pattern that the next chunk
// completes starts within them, so the judgement is the same as over the whole
// text; line noise then costs bounded memory and time in proportion to its size.
void KeepReadReplyTail(std::string& replyHex);

// Decoded track texts of a complete reply; an empty optional means the field
// is left as it is (the reply lacks the start pattern for these tracks).
struct ReadTrackTexts {
  std::optional<std::string> track2;
  std::optional<std::string> track3;
};

// Patterns are bytes: they are found only at byte boundaries of the hex text.
// Cuts by the first occurrences of the patterns: data start after "1B73"
// ("1B7341" when track 3 alone was read), end before "3F1C", and in a read of
// both tracks "41" separates them. A piece of zero or negative length is empty.
ReadTrackTexts CutReadReply(std::string_view replyHex, int tracks);

}  // namespace station
