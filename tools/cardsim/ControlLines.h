#pragma once
// The control protocol's framing: one command per line, on standard input and
// on the control socket alike.

#include <cstddef>
#include <string>
#include <vector>

namespace cardsim {

// Longest control line kept; a longer one is answered as an error.
inline constexpr std::size_t kMaxControlLine = 4096;

// Splits complete lines (without their '\n') off buffer, leaving the
// unfinished rest there; an overlong unfinished line becomes a line of its
// own, so that what a client sends without a line feed costs bounded memory.
std::vector<std::string> TakeControlLines(std::string& buffer);

}  // namespace cardsim
