#pragma once
// The byte log: one line per read from or write to the line, with the local
// time to the microsecond and the bytes in hex, plus lines for events.
//   2025-03-01 14:02:11.120304 rx 1B 5D 1B 6A
//   2025-03-01 14:02:12.621877 tx 1B 73 3F 1C
//   2025-03-01 14:02:12.621901 -- auto-swipe: ok read card 1

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace cardsim {

// "1B 5D 1B 6A"
std::string HexBytes(std::string_view bytes);

std::string LogLine(std::chrono::system_clock::time_point when, std::string_view tag, std::string_view text);

class ByteLog {
 public:
  // Appends to `file`. Throws std::runtime_error when it cannot be opened.
  explicit ByteLog(const std::filesystem::path& file);

  void Received(std::string_view bytes) { Write("rx", HexBytes(bytes)); }
  void Sent(std::string_view bytes) { Write("tx", HexBytes(bytes)); }
  void Note(std::string_view text) { Write("--", text); }

 private:
  void Write(std::string_view tag, std::string_view text);

  std::ofstream out_;
};

}  // namespace cardsim
