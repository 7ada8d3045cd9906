#include "core/WriteMode.h"

#include <array>

namespace station {
namespace {

struct ModeRow {
  WriteMode mode;
  const char* caption;
  const char* key;
  std::uint8_t red, green, blue;
};

constexpr std::array kModes{
    ModeRow{WriteMode::normal, "常规写", "normal", 0, 0, 255},
    ModeRow{WriteMode::continuous, "连续写", "continuous", 255, 0, 0},
    ModeRow{WriteMode::file, "文件写", "file", 0, 255, 0},
};

const ModeRow& RowOf(WriteMode mode) {
  for (const ModeRow& row : kModes) {
    if (row.mode == mode) return row;
  }
  return kModes.front();
}

}  // namespace

WriteMode WriteModeFor(bool anyContinuous, bool anyFileBox) {
  if (anyFileBox) return WriteMode::file;
  return anyContinuous ? WriteMode::continuous : WriteMode::normal;
}

const char* WriteModeCaption(WriteMode mode) { return RowOf(mode).caption; }

WriteModeLook WriteModeLookOf(WriteMode mode) {
  const ModeRow& row = RowOf(mode);
  return {row.caption, row.red, row.green, row.blue};
}

const char* WriteModeKey(WriteMode mode) { return RowOf(mode).key; }

WriteMode WriteModeFromKey(std::string_view key) {
  for (const ModeRow& row : kModes) {
    if (key == row.key) return row.mode;
  }
  return WriteMode::normal;
}

}  // namespace station
