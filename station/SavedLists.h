#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The saved written-card lists in the list folder, read back: what cards this
// station wrote, for a journal that lost them. Plain C++, no Qt.
namespace station {

// One line of a saved list: the track (2 or 3) and the track text's bytes.
struct SavedListLine {
  int track = 2;
  std::string text;
  friend bool operator==(const SavedListLine&, const SavedListLine&) = default;
};

struct SavedListFile {
  std::filesystem::path path;
  std::chrono::system_clock::time_point written;  // the file's last change
  std::vector<SavedListLine> lines;
};

// The list lines in a saved file's bytes, in order; lines that carry no
// list label (or an empty text) are not list lines and are passed over.
std::vector<SavedListLine> ParseSavedList(std::string_view bytes);

// Whether name has the form of a saved list's name: the date and time in
// digits (9 to 14 of them) and ".txt".
bool IsSavedListName(std::string_view name);

// The saved lists in folder changed after newerThan (all of them when none),
// newest first, at most maxFiles of them: only those are read, so that a
// folder of thousands of lists costs one listing. A folder that cannot be
// listed gives none; a file that cannot be read is passed over.
std::vector<SavedListFile> RecentSavedLists(const std::filesystem::path& folder,
                                            std::optional<std::chrono::system_clock::time_point> newerThan,
                                            std::size_t maxFiles);

}  // namespace station
