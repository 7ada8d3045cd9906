// The settings file: read, change one value, write, read again.
// Invariants: a value that fits on one line reads back as written (cut to
// kMaxValueLength, as every read is); every other name the program keeps
// reads as before; and the file changes inside one line only (or gains the
// lines the new key needs), every other byte staying as it was. A value that
// cannot be stored is refused and leaves the file alone.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "FuzzCheck.h"
#include "ScratchFile.h"
#include "settings/SettingsFile.h"

namespace {

// The names the program reads and writes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kNames{{
    {"Settings", "comname"},
    {"Ports", "COM1"},
    {"Ports", "COM3"},
    {"Ports", "COM8"},
    {"Drives", "C"},
    {"Diagnostics", "Trace"},
    {"Diagnostics", "Log"},
    {"Journal", "Station"},
    {"Journal", "DuplicateCheck"},
    {"Journal", "Database"},
    {"settings", "COMNAME"},
    {"Other", "Key"},
}};

constexpr std::string_view kUnset = "\x01unset";

bool SameName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The part of before that after replaced: it lies within one line when it
// holds no line feed.
std::string_view ReplacedPart(std::string_view before, std::string_view after) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return before.substr(prefix, before.size() - prefix - suffix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder folder;
  FuzzedDataProvider input(data, size);
  const std::size_t changed = input.ConsumeIntegralInRange<std::size_t>(0, kNames.size() - 1);
  const std::string value = input.ConsumeRandomLengthString(3000);
  const std::string before = input.ConsumeRemainingBytesAsString();
  const auto path = folder.Path() / "VavizEvu.ini";
  fuzz::WriteFile(path, before);

  settings::SettingsFile file(path);
  std::array<std::string, kNames.size()> values;
  for (std::size_t i = 0; i < kNames.size(); ++i)
    values[i] = file.ReadString(kNames[i].first, kNames[i].second, kUnset);

  const auto [section, key] = kNames[changed];
  try {
    file.WriteString(section, key, value);
  } catch (const std::invalid_argument&) {
    FUZZ_CHECK(value.find_first_of("\r\n") != std::string::npos);
    FUZZ_CHECK(fuzz::ReadFile(path) == before);
    return 0;
  }
  FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);

  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (SameName(kNames[i].first, section) && SameName(kNames[i].second, key)) continue;
    FUZZ_CHECK(file.ReadString(kNames[i].first, kNames[i].second, kUnset) == values[i]);
  }
  FUZZ_CHECK(file.ReadString(section, key, kUnset) == value.substr(0, settings::SettingsFile::kMaxValueLength));
  FUZZ_CHECK(ReplacedPart(before, fuzz::ReadFile(path)).find('\n') == std::string_view::npos);
  return 0;
}
