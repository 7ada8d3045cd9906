#pragma once

#include <filesystem>
#include <string>

#include "journal/Journal.h"

// What the operator is told when the card journal cannot be used: in Chinese,
// naming the file or the setting at fault and what to do about it. The
// driver's own words stay out of these texts (they go to the log).
namespace station {

struct JournalPlace {
  std::filesystem::path file;          // the local journal's file
  std::filesystem::path settingsFile;  // where [Journal] Database is set
  bool server = false;                 // the journal is on a PostgreSQL server
};

// At start: the journal could not be opened, so writing is off until the
// program starts again.
std::string JournalOpenFailureText(const journal::JournalError& error, const JournalPlace& place);

// Later: the journal was open but a use of it failed.
std::string JournalUseFailureText(const journal::JournalError& error, const JournalPlace& place);

// The journal's file (or its WAL) was deleted, moved or replaced under the
// running program.
std::string JournalReplacedText(const std::filesystem::path& file);

// Why a local journal file cannot be opened, found on the file system: the
// folder missing, something other than a file under its name, no permission.
std::string JournalFileCause(const std::filesystem::path& file);

}  // namespace station
