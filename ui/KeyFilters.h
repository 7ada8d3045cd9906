#pragma once

// Which typed characters the fields of the main window admit. Characters are
// single bytes compared as unsigned values; Backspace (8) and Tab (9) pass every
// filter. Text that the program itself puts into a field is never filtered.
namespace station {

constexpr unsigned char kBackspace = 8;
constexpr unsigned char kTab = 9;
constexpr unsigned char kEnter = 13;

// Track 2 and 3 data: codes 48..63, the digits and ":;<=>?". Enter is refused,
// so a track text stays on one line.
bool AdmitsTrackData(unsigned char c);

// Step fields and start-record fields: the digits 1..9.
bool AdmitsNonZeroDigit(unsigned char c);

// The write count: the digits 0..9.
bool AdmitsDigit(unsigned char c);

}  // namespace station
