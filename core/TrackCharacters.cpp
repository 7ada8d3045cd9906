#include "core/TrackCharacters.h"

#include <algorithm>

namespace station {

std::size_t TrackMaxLength(int track) { return track == 2 ? kTrack2MaxLength : kTrack3MaxLength; }

bool TrackTextWritable(int track, std::string_view text) {
  return text.size() <= TrackMaxLength(track) &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 48 && c <= 63; });
}

std::string UnwritableTrackMessage(int track, std::string_view text) {
  std::string message = "磁道" + std::to_string(track) + "数据含有不能写入的字符或超长：";
  // Track texts are one byte per character; as UTF-8 a byte above 127 takes two.
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      message.push_back(c);
    } else {
      message.push_back(static_cast<char>(0xC0 | (code >> 6)));
      message.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return message;
}

}  // namespace station
