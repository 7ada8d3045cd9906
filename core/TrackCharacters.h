#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What a track can carry: the characters of codes 48 to 63 ('0' to '9' and
// ":;<=>?") that typing allows, up to the track's length. Anything else in a
// write frame is taken by the device as something else: an 'A' starts track 3,
// an ESC starts a command, and an overlong text is never written.
namespace station {

inline constexpr std::size_t kTrack2MaxLength = 37;
inline constexpr std::size_t kTrack3MaxLength = 104;

// track is 2 or 3; texts are bytes.
std::size_t TrackMaxLength(int track);
bool TrackTextWritable(int track, std::string_view text);

// "磁道<n>数据含有不能写入的字符或超长：<text>" in UTF-8, n being 2 or 3 as the
// track boxes show it; each byte of text is taken as the character of that code.
std::string UnwritableTrackMessage(int track, std::string_view text);

}  // namespace station
