#include "station/WrittenCardList.h"

#include <ctime>

namespace station {

LocalDateTime CurrentLocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

std::string CardListFileName(const LocalDateTime& when) {
  return std::to_string(when.year) + std::to_string(when.month) + std::to_string(when.day) + std::to_string(when.hour) +
         std::to_string(when.minute) + std::to_string(when.second) + ".txt";
}

std::string CardListLineBytes(int track, std::string_view trackText) {
  std::string line = ToGbk(track == 2 ? kTrack2CardLabel : kTrack3CardLabel);
  line.append(trackText);
  return line;
}

std::filesystem::path SaveCardList(const std::filesystem::path& folder, const LocalDateTime& when,
                                   const std::vector<std::string>& lines) {
  const std::filesystem::path file = std::filesystem::absolute(folder / CardListFileName(when));
  AppendCardListFile(file, lines);
  return file;
}

}  // namespace station
