#include "settings/SafeWrite.h"
#include "settings/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

namespace settings {
namespace {

[[noreturn]] void ThrowErrno(int error, const char* what) {
  throw std::system_error(error, std::generic_category(), what);
}

// 0 or the errno of the first failing write.
int WriteAll(int fd, const std::string& bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::filesystem::path FollowLink(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  const auto target = std::filesystem::read_symlink(path, ec);
  if (ec) return path;
  return target.is_absolute() ? target : path.parent_path() / target;
}

// A name no other writer in this or another process picks at the same time.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() /
         ("." + path.filename().string() + "." + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".new");
}

// Whether this process may hand a file to group gid: its own groups only,
// unless it is root.
bool InGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

}  // namespace

void CreatePrivateFolders(const std::filesystem::path& dir) {
  std::filesystem::path sofar;
  for (const auto& part : dir) {
    sofar /= part;
    if (::mkdir(sofar.c_str(), 0700) == 0) continue;
    const int error = errno;
    // A folder that is there already may still answer "no permission" or
    // "read-only" rather than "exists".
    std::error_code ec;
    if (std::filesystem::is_directory(sofar, ec)) continue;
    throw std::system_error(error == EEXIST ? ENOTDIR : error, std::generic_category(), sofar.string());
  }
}

bool ReplacingKeepsFile(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(FollowLink(path).c_str(), &st) != 0) return true;
  if (st.st_nlink > 1) return false;
  if (::geteuid() == 0) return true;
  return st.st_uid == ::geteuid() && InGroup(st.st_gid);
}

bool FolderTakesNewFiles(const std::filesystem::path& dir) {
  const std::filesystem::path folder = dir.empty() ? "." : dir;
  // An unnamed file leaves no trace even when the program is killed meanwhile.
  UniqueFd unnamed(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (unnamed.get() >= 0) return true;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  const auto probe = TemporaryBeside(folder / "probe");
  UniqueFd named(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (named.get() < 0) return false;
  ::unlink(probe.c_str());
  return true;
}

void ReplaceFile(const std::filesystem::path& path, const std::string& newBytes) {
  const std::filesystem::path target = FollowLink(path);
  const std::filesystem::path temporary = TemporaryBeside(target);

  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  // 0600 from the start: the bytes are never readable by others, whatever
  // the old file allowed, until they are the old file's own.
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) ThrowErrno(errno, "create");

  int error = WriteAll(fd.get(), newBytes, 0);
  // The owner first: a change of owner clears the set-id bits the mode restores.
  if (error == 0 && hadOld && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
    error = errno;
  }
  if (error == 0 && hadOld && ::fchmod(fd.get(), old.st_mode & 07777) != 0) error = errno;
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  if (fd.Close() != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    ThrowErrno(error, "write");
  }
}

void RewriteInPlace(const std::filesystem::path& path, const std::string& oldBytes, const std::string& newBytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno(errno, "open");
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(errno, "stat");
  const auto oldSize = st.st_size;
  const auto newSize = static_cast<off_t>(newBytes.size());

  // Puts the old contents back, length included, after a failed step.
  const auto restore = [&] {
    WriteAll(fd.get(), oldBytes, 0);
    if (::ftruncate(fd.get(), oldSize) != 0) {
      // Nothing more to try: the old bytes are in front, the file is not shorter.
    }
  };
  if (newSize > oldSize) {
    int error = ::posix_fallocate(fd.get(), 0, newSize);
    if (error == EOPNOTSUPP || error == EINVAL) {
      // No reservation on this file system: write the tail first, where it
      // overwrites nothing.
      error = WriteAll(fd.get(), newBytes.substr(static_cast<std::size_t>(oldSize)), oldSize);
    }
    if (error != 0) {
      restore();
      ThrowErrno(error, "reserve");
    }
  }
  if (const int error = WriteAll(fd.get(), newBytes, 0); error != 0) {
    restore();
    ThrowErrno(error, "write");
  }
  if (newSize < oldSize && ::ftruncate(fd.get(), newSize) != 0) ThrowErrno(errno, "truncate");
  if (::fsync(fd.get()) != 0) ThrowErrno(errno, "sync");
  if (fd.Close() != 0) ThrowErrno(errno, "close");
}

}  // namespace settings
