#include "core/ReadReply.h"

#include <cstddef>

#include "core/HexText.h"

namespace station {
namespace {

// A piece of replyHex from start (0-based) running up to, not including, end;
// empty when end does not lie after start.
std::string_view Piece(std::string_view replyHex, std::size_t start, std::size_t end) {
  if (end <= start || start >= replyHex.size()) return {};
  return replyHex.substr(start, end - start);
}

// The first place where pattern's bytes stand in replyHex. The hex text is
// searched at byte boundaries only: at an odd offset the digits would pair
// the halves of two other bytes, so line noise such as 13 F1 C0 would read as
// '?' FS and end a reply that never ended.
std::size_t FindBytes(std::string_view replyHex, std::string_view pattern) {
  for (std::size_t at = replyHex.find(pattern); at != std::string_view::npos; at = replyHex.find(pattern, at + 1)) {
    if (at % 2 == 0) return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<ReadArming> ReadCommandFor(bool track2Ticked, bool track3Ticked) {
  if (track2Ticked && track3Ticked) return ReadArming{"1B425D1B6A", kBothTracks};
  if (track2Ticked) return ReadArming{"1B5D1B6A", kTrack2Only};
  if (track3Ticked) return ReadArming{"1B545D1B6A", kTrack3Only};
  return std::nullopt;
}

ReadReplyKind JudgeReadReply(std::string_view replyHex) {
  if (HexToText(replyHex).find("rq") != std::string::npos) return ReadReplyKind::error;
  if (FindBytes(replyHex, "3F1C") == std::string_view::npos) return ReadReplyKind::incomplete;
  return ReadReplyKind::complete;
}

void KeepReadReplyTail(std::string& replyHex) {
  if (replyHex.size() <= kLongestReadReplyHex) return;
  std::size_t drop = replyHex.size() - kLongestReadReplyHex;
  drop += drop % 2;
  replyHex.erase(0, drop);
}

ReadTrackTexts CutReadReply(std::string_view replyHex, int tracks) {
  constexpr auto npos = std::string_view::npos;
  ReadTrackTexts texts;
  const std::size_t end = FindBytes(replyHex, "3F1C");
  if (end == npos) return texts;

  if (tracks == kTrack2Only) {
    const std::size_t start = FindBytes(replyHex, "1B73");
    if (start != npos) texts.track2 = HexToText(Piece(replyHex, start + 4, end));
  } else if (tracks == kTrack3Only) {
    const std::size_t start = FindBytes(replyHex, "1B7341");
    if (start != npos) texts.track3 = HexToText(Piece(replyHex, start + 6, end));
  } else if (tracks == kBothTracks) {
    const std::size_t start = FindBytes(replyHex, "1B73");
    const std::size_t separator = FindBytes(replyHex, "41");
    if (start != npos && separator != npos) {
      texts.track2 = HexToText(Piece(replyHex, start + 4, separator));
      texts.track3 = HexToText(Piece(replyHex, separator + 2, end));
    }
  }
  return texts;
}

}  // namespace station
