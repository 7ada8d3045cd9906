#include "ByteLog.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace cardsim {

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (unsigned char byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string LogLine(std::chrono::system_clock::time_point when, std::string_view tag, std::string_view text) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(when - seconds).count();
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[64];
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char fraction[32];
  std::snprintf(fraction, sizeof fraction, ".%06d", static_cast<int>(micros));
  std::string line(stamp, n);
  line += fraction;
  line += ' ';
  line += tag;
  line += ' ';
  line += text;
  line += '\n';
  return line;
}

ByteLog::ByteLog(const std::filesystem::path& file) : out_(file, std::ios::app | std::ios::binary) {
  if (!out_) throw std::runtime_error("cannot open the byte log " + file.string());
}

void ByteLog::Write(std::string_view tag, std::string_view text) {
  // Flushed per line, so the log is complete up to the moment it is read.
  out_ << LogLine(std::chrono::system_clock::now(), tag, text) << std::flush;
}

}  // namespace cardsim
