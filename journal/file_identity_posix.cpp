#include <sys/stat.h>

#include "journal/FileIdentity.h"

namespace journal {

std::optional<FileIdentity> IdentityOf(const QString& path) {
  struct stat st {};
  if (::stat(path.toLocal8Bit().constData(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace journal
