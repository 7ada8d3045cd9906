#include "settings/SettingsFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "serial/SystemServices.h"
#include "settings/SafeWrite.h"
#include "settings/SettingsLocation.h"
#include "ui/PathText.h"

namespace settings {
namespace {

constexpr std::string_view kBlanks = " \t";

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

// One line of the file as offsets into the whole text, so that a write can
// splice new bytes in without touching anything else.
struct Line {
  std::size_t begin;       // first byte of the line
  std::size_t contentEnd;  // end of the text, before "\r\n" or "\n"
  std::size_t end;         // after the line terminator (== contentEnd on a last line without one)
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A leading byte-order mark (editors on other systems add one) stays in the
// text but belongs to no line, so that it cannot hide the first section.
std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  const bool marked = std::string_view(text).substr(0, kByteOrderMark.size()) == kByteOrderMark;
  std::size_t pos = marked ? kByteOrderMark.size() : 0;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    const std::size_t end = (nl == std::string::npos) ? text.size() : nl + 1;
    std::size_t contentEnd = (nl == std::string::npos) ? text.size() : nl;
    if (contentEnd > pos && text[contentEnd - 1] == '\r') --contentEnd;
    lines.push_back({pos, contentEnd, end});
    pos = end;
  }
  return lines;
}

std::string_view Content(const std::string& text, const Line& line) {
  return std::string_view(text).substr(line.begin, line.contentEnd - line.begin);
}

// The section name when the line is a "[name]" header.
std::optional<std::string_view> SectionName(std::string_view content) {
  const auto t = Trim(content);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  return Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

bool IsKeyLine(std::string_view content, std::string_view key) {
  const auto t = Trim(content);
  if (t.empty() || t.front() == ';') return false;
  const auto eq = t.find('=');
  return eq != std::string_view::npos && SameName(Trim(t.substr(0, eq)), key);
}

// Index range [first, last) of the lines belonging to section (after its
// header), or nullopt when the file has no such section.
struct SectionRange {
  std::size_t header;
  std::size_t last;
};

std::optional<SectionRange> FindSection(const std::string& text, const std::vector<Line>& lines,
                                        std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(Content(text, lines[i]));
    if (!name || !SameName(*name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && !SectionName(Content(text, lines[j]))) ++j;
    return SectionRange{i, j};
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::string& text, const std::vector<Line>& lines, const SectionRange& range,
                                   std::string_view key) {
  for (std::size_t i = range.header + 1; i < range.last; ++i) {
    if (IsKeyLine(Content(text, lines[i]), key)) return i;
  }
  return std::nullopt;
}

// Only a regular file is read: a device, a pipe or a folder under the settings
// file's name could block, never end or fail halfway.
bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  if (!IsRegularFile(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(buffer).str();
}

// New lines follow the file's own convention so that a CRLF file stays CRLF.
std::string LineEnding(const std::string& text) {
  const auto nl = text.find('\n');
  return (nl != std::string::npos && nl > 0 && text[nl - 1] == '\r') ? "\r\n" : "\n";
}

void RequireOneLine(std::string_view s, std::string_view forbidden, const char* what) {
  if (s.find_first_of(forbidden) != std::string_view::npos) {
    throw std::invalid_argument(std::string("settings ") + what + " must fit on one line of the file");
  }
}

}  // namespace

std::string WriteFailureText(const std::filesystem::path& path) {
  return "无法写入设置文件 " + ui::PathToUtf8(std::filesystem::absolute(path)) + "。";
}

SettingsFile::SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

const std::filesystem::path& SettingsFile::Path() const { return path_; }

std::string SettingsFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  const auto text = ReadWholeFile(path_);
  if (!text) return std::string(def);
  const auto lines = SplitLines(*text);
  const auto range = FindSection(*text, lines, section);
  if (!range) return std::string(def);
  const auto index = FindKey(*text, lines, *range, key);
  if (!index) return std::string(def);

  const auto content = Trim(Content(*text, lines[*index]));
  auto value = Trim(content.substr(content.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kMaxValueLength));
}

namespace {

// Sets one key in text, changing only the bytes it must.
void ApplyChange(std::string& text, const SettingsChange& change) {
  const std::string_view section = change.section;
  const std::string_view key = change.key;
  const std::string_view value = change.value;
  RequireOneLine(section, "\r\n]", "section names");
  RequireOneLine(key, "\r\n=", "key names");
  RequireOneLine(value, "\r\n", "values");
  if (Trim(section).empty() || Trim(key).empty()) throw std::invalid_argument("settings names cannot be empty");

  const auto lines = SplitLines(text);
  const std::string eol = LineEnding(text);
  // A value with blanks at an end, or wrapped in a pair of quotes, is quoted:
  // a read drops those blanks and one pair of quotes, so it would otherwise
  // read back as something else than was saved.
  std::string stored(value);
  if (Trim(value) != value ||
      (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())) {
    stored = '"' + stored + '"';
  }
  const std::string keyLine = std::string(key) + "=" + stored;

  if (const auto range = FindSection(text, lines, section)) {
    if (const auto index = FindKey(text, lines, *range, key)) {
      // Only the value changes; the key's own spelling and spacing stay.
      const Line& line = lines[*index];
      const auto eq = text.find('=', line.begin);
      const auto valueStart = text.find_first_not_of(kBlanks, eq + 1);
      const auto from =
          (valueStart == std::string::npos || valueStart > line.contentEnd) ? line.contentEnd : valueStart;
      text.replace(from, line.contentEnd - from, stored);
    } else {
      // A new key goes after the section's last non-blank line, before any
      // blank lines that separate it from the next section.
      std::size_t after = range->header;
      for (std::size_t i = range->header + 1; i < range->last; ++i) {
        if (!Trim(Content(text, lines[i])).empty()) after = i;
      }
      const Line& anchor = lines[after];
      std::string insert = keyLine + eol;
      // The last line of the file had no line feed (perhaps a lone CR, which
      // ends no line): the key starts a line of its own rather than joining it.
      if (anchor.end == anchor.begin || text[anchor.end - 1] != '\n') insert = eol + keyLine;
      text.insert(anchor.end, insert);
    }
  } else {
    if (!text.empty() && text.back() != '\n') text += eol;
    // Appended piece by piece: "[" + std::string trips a false overlap
    // warning of GCC 12 at -O3.
    text.append("[").append(section).append("]").append(eol).append(keyLine).append(eol);
  }
}

}  // namespace

void SettingsFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Write({{std::string(section), std::string(key), std::string(value)}});
}

void SettingsFile::Write(const std::vector<SettingsChange>& changes) {
  const std::string failure = WriteFailureText(path_);
  std::error_code ec;
  std::string text;
  const bool existed = std::filesystem::exists(path_, ec);
  if (existed) {
    auto old = ReadWholeFile(path_);
    if (!old) throw std::runtime_error(failure);
    text = std::move(*old);
  }
  const std::string oldText = text;
  // Every change is checked before anything is written: all keys or none.
  for (const SettingsChange& change : changes) ApplyChange(text, change);
  if (existed && text == oldText) return;

  try {
    const auto dir = path_.parent_path();
    if (!dir.empty()) CreatePrivateFolders(dir);
    // In place where a new file renamed over the old one would lose what the
    // old one was: a hard link, its owner, or a folder that takes no new file.
    if (existed && (!FolderTakesNewFiles(dir) || !ReplacingKeepsFile(path_))) {
      RewriteInPlace(path_, oldText, text);
    } else {
      ReplaceFile(path_, text);
    }
  } catch (const std::exception&) {
    throw std::runtime_error(failure);
  }
}

std::string DevicePathForPort(int portNumber) { return DevicePathForPort(portNumber, SettingsFile(SettingsPath())); }

std::string DevicePathForPort(int portNumber, const SettingsFile& file) {
  if (portNumber < 1) return {};
  const std::string mapped = file.ReadString("Ports", PortKey(portNumber), "");
  if (!mapped.empty()) return mapped;
  return DefaultDevicePath(static_cast<std::uint16_t>(portNumber));
}

std::string PortKey(int portNumber) { return "COM" + std::to_string(portNumber); }

Diagnostics ReadDiagnostics(const std::filesystem::path& settingsPath) {
  const SettingsFile file(settingsPath);
  Diagnostics d;
  d.trace = file.ReadString("Diagnostics", "Trace", "0") == "1";
  d.log = file.ReadString("Diagnostics", "Log", "0") == "1";
  d.folder = std::filesystem::absolute(settingsPath).parent_path();
  return d;
}

std::filesystem::path DriveCFolder() { return DriveCFolder(SettingsFile(SettingsPath())); }

std::filesystem::path DriveCFolder(const SettingsFile& file) {
  const std::string mapped = file.ReadString("Drives", "C", "");
  if (!mapped.empty()) return mapped;
  return DefaultDriveCFolder();
}

}  // namespace settings
