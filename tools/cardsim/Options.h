#pragma once
// The command line of cardsim.

#include <optional>
#include <string>
#include <vector>

#include "Emulator.h"

namespace cardsim {

struct Options {
  std::string link;     // symlink to the pty's slave side
  std::string device;   // an existing device to use instead of a pty
  std::string control;  // control socket path
  std::string deck;     // deck file
  std::string log;      // byte log file
  EmulatorConfig config;
  bool help = false;
};

// Parses the arguments after the program name. Throws std::invalid_argument
// with a message for the operator.
Options ParseOptions(const std::vector<std::string>& args);

// The --help text.
std::string Usage();

}  // namespace cardsim
