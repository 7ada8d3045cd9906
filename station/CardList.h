#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

class QPlainTextEdit;

namespace station {

// The written-card list the operator sees (one line per written track), the
// journal entry behind each line, its bound and its saving to a time-named
// file. Main thread only, as the list's view is a widget.
class CardList {
 public:
  // The journal entry of each line, in order (0: not journaled), with its track.
  using Lines = std::vector<std::pair<std::int64_t, int>>;

  explicit CardList(QPlainTextEdit& view) : view_(view) {}

  // Adds a written card's line: "磁道1卡号:" + text for track 2, "磁道2卡号:"
  // + text for track 3. cardId is the card's journal entry, 0 when it has none.
  void Append(int track, const QString& text, std::int64_t cardId = 0);
  bool IsEmpty() const;
  // Lines that the view shows as it wraps the entries.
  int DisplayLines() const;
  // Whether the list has reached its bound and must be saved before it grows.
  bool AtLimit() const;
  // Gives every line of journal entry `from` the entry `to` (a card recorded late).
  void Renumber(std::int64_t from, std::int64_t to);

  struct Saved {
    std::filesystem::path file;
    Lines lines;  // what the file holds, for the journal
  };
  // Saves the list into a time-named file in folder and empties it; throws
  // CardListSaveError and keeps the list when the save fails.
  Saved Save(const std::filesystem::path& folder);

 private:
  QPlainTextEdit& view_;
  Lines lines_;
};

}  // namespace station
