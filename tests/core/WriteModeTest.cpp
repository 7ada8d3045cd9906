#include <gtest/gtest.h>

#include "core/WriteMode.h"

namespace {

using station::WriteMode;

TEST(WriteMode, FileWinsThenContinuousThenNormal) {
  EXPECT_EQ(station::WriteModeFor(false, false), WriteMode::normal);
  EXPECT_EQ(station::WriteModeFor(true, false), WriteMode::continuous);
  EXPECT_EQ(station::WriteModeFor(true, true), WriteMode::file);
  EXPECT_EQ(station::WriteModeFor(false, true), WriteMode::file);
}

struct ModeRow {
  WriteMode mode;
  const char* caption;
  const char* key;  // as stored journals hold it
  int red, green, blue;
};

TEST(WriteMode, CaptionColourAndStoredNameOfEachMode) {
  const ModeRow rows[] = {
      {WriteMode::normal, "常规写", "normal", 0, 0, 255},
      {WriteMode::continuous, "连续写", "continuous", 255, 0, 0},
      {WriteMode::file, "文件写", "file", 0, 255, 0},
  };
  for (const ModeRow& row : rows) {
    SCOPED_TRACE(row.key);
    const station::WriteModeLook look = station::WriteModeLookOf(row.mode);
    EXPECT_STREQ(station::WriteModeCaption(row.mode), row.caption);
    EXPECT_STREQ(look.caption, row.caption);
    EXPECT_EQ(look.red, row.red);
    EXPECT_EQ(look.green, row.green);
    EXPECT_EQ(look.blue, row.blue);
    EXPECT_STREQ(station::WriteModeKey(row.mode), row.key);
    EXPECT_EQ(station::WriteModeFromKey(row.key), row.mode);
  }
  EXPECT_EQ(station::WriteModeFromKey("manual"), WriteMode::normal);
  EXPECT_EQ(station::WriteModeFromKey(""), WriteMode::normal);
}

}  // namespace
