#include "station/SavedLists.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "station/WrittenCardList.h"

namespace station {

std::vector<SavedListLine> ParseSavedList(std::string_view bytes) {
  const std::string labels[2] = {CardListLineBytes(2, ""), CardListLineBytes(3, "")};
  std::vector<SavedListLine> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (int track : {2, 3}) {
      const std::string& label = labels[track - 2];
      if (line.size() > label.size() && line.substr(0, label.size()) == label) {
        lines.push_back({track, std::string(line.substr(label.size()))});
      }
    }
  }
  return lines;
}

bool IsSavedListName(std::string_view name) {
  constexpr std::string_view kSuffix = ".txt";
  if (name.size() <= kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix) return false;
  const std::string_view digits = name.substr(0, name.size() - kSuffix.size());
  return digits.size() >= 9 && digits.size() <= 14 &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<SavedListFile> RecentSavedLists(const std::filesystem::path& folder,
                                            std::optional<std::chrono::system_clock::time_point> newerThan,
                                            std::size_t maxFiles) {
  std::vector<SavedListFile> found;
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return found;
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (error) break;
    const std::filesystem::directory_entry& entry = *entries;
    // UTF-8 whatever the system: a name that the local code page cannot hold
    // is no list's name, and must not fail the listing.
    const std::u8string name = entry.path().filename().u8string();
    if (!IsSavedListName(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()))) continue;
    std::error_code statError;
    if (!entry.is_regular_file(statError)) continue;
    const auto changed = entry.last_write_time(statError);
    if (statError) continue;
    const auto written =
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(changed));
    if (newerThan && written <= *newerThan) continue;
    found.push_back({entry.path(), written, {}});
  }
  std::sort(found.begin(), found.end(),
            [](const SavedListFile& a, const SavedListFile& b) { return a.written > b.written; });
  if (found.size() > maxFiles) found.resize(maxFiles);
  for (SavedListFile& file : found) {
    std::ifstream in(file.path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    file.lines = ParseSavedList(bytes);
  }
  return found;
}

}  // namespace station
