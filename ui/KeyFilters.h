#pragma once

// Which typed characters the fields of the main window admit. Characters are
// single bytes compared as unsigned values; only printable ones are filtered,
// so the editing keys (Backspace, Tab, Delete, Ctrl+letter) pass every filter
// except that track data refuse Enter. Text that the program itself puts into a
// field is never filtered.
namespace station {

constexpr unsigned char kBackspace = 8;
constexpr unsigned char kTab = 9;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kEnter = 13;
constexpr unsigned char kDelete = 127;

// Codes 32 and up except Delete; bytes of non-ASCII characters count.
bool IsPrintable(unsigned char c);

// Track 2 and 3 data: codes 48..63, the digits and ":;<=>?". Enter is refused,
// so a track text stays on one line.
bool AdmitsTrackData(unsigned char c);

// Step fields and start-record fields: the digits 1..9.
bool AdmitsNonZeroDigit(unsigned char c);

// The write count: the digits 0..9.
bool AdmitsDigit(unsigned char c);

}  // namespace station
