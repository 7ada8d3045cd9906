#include <fcntl.h>
#include <io.h>

#include "core/FileAccess.h"

namespace station {

int OpenForReading(const std::filesystem::path& path) {
  // Binary: text mode would drop carriage returns and stop at a Ctrl+Z on its
  // own, where the record reader wants to see every byte.
  return ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

}  // namespace station
