#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "serial/OpenFailure.h"
#include "serial/Recorder.h"
#include "serial/SerialErrors.h"
#include "serial/SystemServices.h"

std::string SystemErrorText(int systemError) {
  // strerrordesc_np gives no text for numbers the C library does not know.
  const char* text = strerrordesc_np(systemError);
  return text != nullptr ? text : std::string();
}

std::string DefaultDevicePath(uint16_t portNumber) {
  return "/dev/ttyS" + std::to_string(static_cast<int>(portNumber) - 1);
}

std::string OperatingSystemDescription() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

namespace {
bool IsNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}
}  // namespace

namespace {

// The process holding the device lock (flock) on the file of target, as
// /proc/locks lists it; 0 when none is listed.
int LockHolder(const struct stat& target) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 4711 00:19:6 0 EOF"; waiters carry "->".
    std::istringstream fields(line);
    std::string number, kind, mode, access, file;
    int pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> file) || kind != "FLOCK") continue;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) continue;
    if (makedev(major, minor) == target.st_dev && inode == target.st_ino && pid > 0) return pid;
  }
  return 0;
}

}  // namespace

bool FindDeviceHolder(const std::string& path, int& pid, std::string& name) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  // The lock names the program that uses the port; others may merely hold
  // the device open (a device emulator keeps its own line open, for one).
  if (const int holder = LockHolder(target); holder > 0) {
    pid = holder;
    std::ifstream comm("/proc/" + std::to_string(holder) + "/comm");
    std::getline(comm, name);
    return true;
  }
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* p = ::readdir(proc);
    if (p == nullptr) break;
    if (!IsNumber(p->d_name)) continue;
    const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* f = ::readdir(fds)) {
      if (!IsNumber(f->d_name)) continue;
      struct stat st {};
      // stat follows the descriptor's link to the device it has open.
      if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev) {
        found = true;
        break;
      }
    }
    ::closedir(fds);
    if (found) {
      pid = std::atoi(p->d_name);
      std::ifstream comm(std::string("/proc/") + p->d_name + "/comm");
      std::getline(comm, name);
    }
  }
  ::closedir(proc);
  return found;
}

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The bytes of the regular file at path; false with errno set when it cannot
// be read. Opened without blocking and without following a link, then checked
// through the open descriptor, so nothing swapped in after the first look is
// read either.
bool ReadRegularFile(const std::string& path, std::string& contents) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EEXIST;
    ok = false;
  }
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

}  // namespace

int WriteRecorderFile(const std::string& file, bool append, const std::string& text) {
  // The settings folder the files go to may be writable by others, and what
  // stands under the name is looked at before anything is opened.
  struct stat there {};
  const bool exists = ::lstat(file.c_str(), &there) == 0;
  if (!exists && errno != ENOENT) return CodeFromErrno(errno);
  if (exists && S_ISDIR(there.st_mode)) return CodeFromErrno(EISDIR);
  if (exists && !S_ISREG(there.st_mode)) return CodeFromErrno(EEXIST);

  std::string contents;
  if (append && exists && !ReadRegularFile(file, contents)) return CodeFromErrno(errno);
  contents += text;

  std::string temp = file + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return CodeFromErrno(errno);
  // The replaced file keeps its permissions; a new one is the user's alone.
  bool ok = !exists || ::fchmod(fd, there.st_mode & 07777) == 0;
  // The data must be on disk before the rename makes it the file: a full disk
  // shows itself here, while the old file is still whole.
  ok = ok && WriteAll(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (ok) return 0;
  ::unlink(temp.c_str());
  return CodeFromErrno(error);
}
