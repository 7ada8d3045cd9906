#include "ui/KeyFilters.h"

namespace station {
namespace {

bool Editing(unsigned char c) { return c == kBackspace || c == kTab; }

}  // namespace

bool AdmitsTrackData(unsigned char c) { return Editing(c) || (c >= '0' && c <= '?'); }

bool AdmitsNonZeroDigit(unsigned char c) { return Editing(c) || (c >= '1' && c <= '9'); }

bool AdmitsDigit(unsigned char c) { return Editing(c) || (c >= '0' && c <= '9'); }

}  // namespace station
