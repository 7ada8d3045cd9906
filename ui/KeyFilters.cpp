#include "ui/KeyFilters.h"

namespace station {
namespace {

// Only printable characters are judged; control characters are the field's
// editing keys (Backspace, Tab, Delete, and Ctrl+A/C/V/X/Z where the keyboard
// hands them over as characters) and pass as in any field.
bool Editing(unsigned char c) { return !IsPrintable(c); }

}  // namespace

bool IsPrintable(unsigned char c) { return c >= 32 && c != kDelete; }

// Enter and line feed would break a track text into lines.
bool AdmitsTrackData(unsigned char c) {
  return (Editing(c) && c != kEnter && c != kLineFeed) || (c >= '0' && c <= '?');
}

bool AdmitsNonZeroDigit(unsigned char c) { return Editing(c) || (c >= '1' && c <= '9'); }

bool AdmitsDigit(unsigned char c) { return Editing(c) || (c >= '0' && c <= '9'); }

}  // namespace station
