#pragma once
// The card emulator as a separate process on its own pty, reached through a
// link that follows the line across a hang-up and a reopen, keeping its deck
// in a file and driven through its control socket.

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace station::testing_support {

class CardEmulator {
 public:
  // autoSwipe: every armed command is answered by a card at once.
  explicit CardEmulator(bool autoSwipe = false);
  ~CardEmulator();
  CardEmulator(const CardEmulator&) = delete;
  CardEmulator& operator=(const CardEmulator&) = delete;

  // The link the station opens.
  std::string Path() const { return (dir_ / "reader").string(); }
  // One command, its one answer line.
  std::string Ask(const std::string& command);
  // Track 2 of every card written, as the deck file holds them.
  std::vector<std::string> Written() const;

 private:
  std::string Control() const { return (dir_ / "control").string(); }
  std::string Deck() const { return (dir_ / "deck").string(); }

  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int socket_ = -1;
};

}  // namespace station::testing_support
