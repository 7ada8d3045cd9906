#pragma once
// How a write run gets its numbers: typed by the operator (normal), increased
// after every card (continuous), or read from record files (file). The mode
// panel, the journal's run kind and the session's judging of replies all
// follow this one type; every caption and stored name of a mode is in
// WriteMode.cpp, once.

#include <cstdint>
#include <string_view>

namespace station {

enum class WriteMode { normal, continuous, file };

// A ticked file box wins over a ticked continuous box.
WriteMode WriteModeFor(bool anyContinuous, bool anyFileBox);

// The caption the mode panel and the journal show (UTF-8).
const char* WriteModeCaption(WriteMode mode);

struct WriteModeLook {
  const char* caption;
  std::uint8_t red, green, blue;
};

// The mode panel: its caption in the mode's own colour.
WriteModeLook WriteModeLookOf(WriteMode mode);

// The name the journal stores for the mode. Stored journals rely on it, so a
// name never changes; an unknown name reads as a normal run.
const char* WriteModeKey(WriteMode mode);
WriteMode WriteModeFromKey(std::string_view key);

}  // namespace station
