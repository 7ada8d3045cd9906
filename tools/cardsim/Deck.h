#pragma once
// The cards the emulator knows: every card ever written, plus blank cards.
// Optionally kept in a text file, one card per line: track 2, a tab, track 3.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Device.h"

namespace cardsim {

// Far more than any deck of written cards: each takes at most 143 bytes.
inline constexpr std::size_t kMaxDeckBytes = 64 * 1024 * 1024;

class Deck {
 public:
  Deck() = default;
  // Loads `file` if it exists (a missing file is an empty deck) and saves
  // there from then on. Throws std::runtime_error when the file cannot be
  // read, is not a regular file (a FIFO, a device, a folder) or holds more
  // than kMaxDeckBytes.
  explicit Deck(std::filesystem::path file);

  std::size_t size() const { return cards_.size(); }
  // 1-based, as operators name cards.
  Card& at(std::size_t number) { return cards_.at(number - 1); }
  const Card& at(std::size_t number) const { return cards_.at(number - 1); }

  // Number of the first blank card; a fresh blank card is added when every
  // card carries data.
  std::size_t NextBlank();

  // Writes the deck to its file by writing a new file and renaming it over
  // the old one, so a crash leaves either the old or the new deck. Does
  // nothing for a deck without a file. Throws std::runtime_error on failure.
  void Save() const;

  // One card per line, as in the file.
  static std::string Format(const std::vector<Card>& cards);
  static std::vector<Card> Parse(std::string_view text);

  const std::vector<Card>& cards() const { return cards_; }

 private:
  std::optional<std::filesystem::path> file_;
  std::vector<Card> cards_;
};

}  // namespace cardsim
