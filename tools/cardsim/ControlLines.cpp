#include "ControlLines.h"

namespace cardsim {

std::vector<std::string> TakeControlLines(std::string& buffer) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(buffer.substr(start, nl - start));
  }
  buffer.erase(0, start);
  if (buffer.size() > kMaxControlLine) {
    lines.push_back(buffer);
    buffer.clear();
  }
  return lines;
}

}  // namespace cardsim
