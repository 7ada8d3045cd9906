#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace station {

// Labels of the list lines. They count the two writable tracks, so track 2's
// lines carry "磁道1" and track 3's "磁道2".
inline constexpr char kTrack2CardLabel[] = "磁道1卡号:";
inline constexpr char kTrack3CardLabel[] = "磁道2卡号:";

// The list is emptied (after being saved) once it shows this many display lines.
inline constexpr int kCardLogLineLimit = 2000;

// A save that failed; what() is the text for the general error box.
class CardListSaveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
  int hour = 0;   // 0 to 23
  int minute = 0;
  int second = 0;
};

// The local date and time now, read once.
LocalDateTime CurrentLocalDateTime();

// Year, month, day, hour, minute and second in decimal without leading zeros or
// separators, then ".txt": 8:05:03 on 6 December 2026 gives "2026126853.txt".
// Different times can give the same name; saving appends in that case.
std::string CardListFileName(const LocalDateTime& when);

// Converts UTF-8 text to GBK, the encoding readers of the saved lists expect.
// Throws std::runtime_error when the text has no GBK form.
std::string ToGbk(std::string_view utf8);

// The saved bytes of one list line: the track's label in GBK followed by the
// track text's bytes unchanged. track is 2 or 3.
std::string CardListLineBytes(int track, std::string_view trackText);

// Appends every line followed by CR LF to file, creating the file when it does
// not exist. An existing file is never replaced: two saves that get the same
// name both keep their lines. No lines give a zero-byte file (or leave an
// existing one as it is). A symbolic link under the name is never followed,
// and the list goes only into a regular file this user owns: a FIFO, a device
// or another user's file under the name is refused at once, never waited on.
// A failed save leaves the file as it was before it, so a retry does not write
// the lines twice.
// Throws CardListSaveError with "Cannot create file \"<file>\". <reason>" when
// the file cannot be opened or is refused, and "Stream write error" when
// writing fails.
void AppendCardListFile(const std::filesystem::path& file, const std::vector<std::string>& lines);

// Saves lines into folder under the name made from when and returns the path.
// The path in an error text is absolute.
std::filesystem::path SaveCardList(const std::filesystem::path& folder, const LocalDateTime& when,
                                   const std::vector<std::string>& lines);

}  // namespace station
