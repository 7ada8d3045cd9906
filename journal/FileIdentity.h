#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace journal {

// Which file a path names now: two identities differ when the file was
// replaced by another under the same name. None: nothing is there.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

std::optional<FileIdentity> IdentityOf(const QString& path);

}  // namespace journal
