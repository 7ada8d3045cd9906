#include <fcntl.h>

#include "core/FileAccess.h"

namespace station {

int OpenForReading(const std::filesystem::path& path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer and freezes the window.
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

}  // namespace station
