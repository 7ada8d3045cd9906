#include "Line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace cardsim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void MakeRaw(int fd, const std::string& path) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) ThrowErrno("cannot read the settings of " + path);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B9600);
  ::cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) ThrowErrno("cannot set " + path + " raw");
}

}  // namespace

Line Line::OpenPty() {
  Line line;
  line.fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.fd_ < 0) ThrowErrno("cannot open a pseudo-terminal");
  if (::grantpt(line.fd_) != 0 || ::unlockpt(line.fd_) != 0) ThrowErrno("cannot unlock the pseudo-terminal");
  char name[128];
  if (::ptsname_r(line.fd_, name, sizeof name) != 0) ThrowErrno("cannot name the pseudo-terminal");
  line.path_ = name;
  line.heldSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.heldSlave_ < 0) ThrowErrno("cannot open " + line.path_);
  MakeRaw(line.heldSlave_, line.path_);
  if (::fcntl(line.fd_, F_SETFL, O_NONBLOCK) != 0) ThrowErrno("cannot make the pseudo-terminal non-blocking");
  return line;
}

Line Line::OpenDevice(const std::string& path) {
  Line line;
  line.path_ = path;
  line.fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (line.fd_ < 0) ThrowErrno("cannot open " + path);
  if (::isatty(line.fd_)) MakeRaw(line.fd_, path);
  return line;
}

Line::Line(Line&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      heldSlave_(std::exchange(other.heldSlave_, -1)),
      path_(std::move(other.path_)) {}

Line& Line::operator=(Line&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    heldSlave_ = std::exchange(other.heldSlave_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Line::~Line() { Close(); }

void Line::Close() {
  CloseFd(heldSlave_);
  CloseFd(fd_);
}

Link::~Link() {
  if (target_.empty()) return;
  char buffer[4096];
  const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
  if (n >= 0 && std::string(buffer, static_cast<std::size_t>(n)) == target_) ::unlink(path_.c_str());
}

void Link::Point(const std::string& target) {
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    errno = EEXIST;
    ThrowErrno("will not replace " + path_ + ", which is not a symlink");
  }
  // A new link renamed over the old one: the path never goes missing.
  const std::string temp = path_ + ".new" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) ThrowErrno("cannot create the link " + temp);
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    ThrowErrno("cannot put the link at " + path_);
  }
  target_ = target;
}

ControlSocket::ControlSocket(std::string path) : path_(std::move(path)) {
  // The socket is bound under a passing name and renamed once it listens, so
  // a client that sees the path can connect at once.
  const std::string passing = path_ + ".new";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (passing.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    ThrowErrno("control socket path " + path_);
  }
  std::memcpy(address.sun_path, passing.c_str(), passing.size() + 1);
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
    errno = EEXIST;
    ThrowErrno("will not replace " + path_ + ", which is not a socket");
  }
  if (::lstat(passing.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      errno = EEXIST;
      ThrowErrno("will not replace " + passing + ", which is not a socket");
    }
    ::unlink(passing.c_str());
  }
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) ThrowErrno("cannot create the control socket");
  // Whoever may connect can drive the device: the socket is the user's own.
  // The mode comes from the umask at bind time (this program has one thread).
  const mode_t oldMask = ::umask(0177);
  const int bound = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::umask(oldMask);
  if (bound != 0 || ::listen(fd_, 8) != 0 || ::rename(passing.c_str(), path_.c_str()) != 0) {
    const int saved = errno;
    CloseFd(fd_);
    if (bound == 0) ::unlink(passing.c_str());
    errno = saved;
    ThrowErrno("cannot listen on " + path_);
  }
}

ControlSocket::~ControlSocket() {
  if (fd_ < 0) return;
  CloseFd(fd_);
  ::unlink(path_.c_str());
}

int ControlSocket::Accept() { return ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

}  // namespace cardsim
