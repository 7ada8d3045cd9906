// Saving the written-card list on Linux and other POSIX systems.
#include "station/WrittenCardList.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/UniqueFd.h"

namespace station {
namespace {

// What stands under the list's name when it is not a file of this user's;
// the list stays on screen.
constexpr char kNotRegularFile[] = "同名的不是普通文件，列表未保存。";
constexpr char kOwnedByAnotherUser[] = "同名文件属于其他用户，列表未保存。";

std::string CannotCreate(const std::filesystem::path& file, const std::string& reason) {
  return "Cannot create file \"" + file.string() + "\". " + reason;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string ToGbk(std::string_view utf8) {
  const iconv_t cd = ::iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("No UTF-8 to GBK conversion available");
  const std::unique_ptr<void, int (*)(iconv_t)> guard(cd, ::iconv_close);

  // GBK never takes more bytes than UTF-8 for the same text.
  std::string in(utf8);
  std::string out(in.size(), '\0');
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("Text has no GBK form: " + in);
  }
  out.resize(out.size() - outLeft);
  return out;
}

void AppendCardListFile(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  // The list folder may be shared, so whatever stands under the next
  // time-based name may have been put there by someone else. O_NOFOLLOW: a
  // symbolic link would send the numbers into whatever file it points at.
  // O_NONBLOCK: a FIFO would hold the save (and the program's exit) until a
  // reader came. A new file is created with O_EXCL, which never follows a link
  // either; should one appear between the two opens, the append is tried again.
  constexpr int kAppend = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  bool created = false;
  int fd = -1;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    fd = ::open(file.c_str(), kAppend);
    if (fd < 0 && errno == ENOENT) {
      // Readable by this user alone: the numbers are nobody else's business.
      fd = ::open(file.c_str(), kAppend | O_CREAT | O_EXCL, 0600);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    break;
  }
  const int openError = errno;
  settings::UniqueFd out(fd);
  if (out.get() < 0) {
    // A link, or a FIFO without a reader (ENXIO), fails the open itself; the
    // operator is told what stands there rather than the open's errno.
    struct stat there {};
    const bool strange = ::lstat(file.c_str(), &there) == 0 && !S_ISREG(there.st_mode);
    throw CardListSaveError(CannotCreate(file, strange ? kNotRegularFile : std::strerror(openError)));
  }
  struct stat before {};
  if (::fstat(out.get(), &before) != 0) throw CardListSaveError(CannotCreate(file, std::strerror(errno)));
  if (!S_ISREG(before.st_mode)) throw CardListSaveError(CannotCreate(file, kNotRegularFile));
  // Lines appended to another user's file would be theirs to read and change.
  if (before.st_uid != ::geteuid()) throw CardListSaveError(CannotCreate(file, kOwnedByAnotherUser));

  std::string bytes;
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  // Some file systems report a failed write only at the flush; it happens
  // while the file is still open, so a failure can still be undone. EINVAL:
  // the file system cannot flush at all, which is no failure.
  bool written = WriteAll(out.get(), bytes);
  if (written && ::fsync(out.get()) != 0 && errno != EINVAL) written = false;
  if (!written) {
    // The list stays on screen for another try; lines left here from this try
    // would then be saved twice.
    if (created) {
      ::unlink(file.c_str());
    } else {
      [[maybe_unused]] const int ignored = ::ftruncate(out.get(), before.st_size);
    }
    throw CardListSaveError("Stream write error");
  }
  if (::close(out.Release()) != 0) throw CardListSaveError("Stream write error");
}

}  // namespace station
