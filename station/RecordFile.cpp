#include "station/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "station/NumberSequence.h"

namespace station {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::size_t kBufferSize = 64 * 1024;

[[noreturn]] void ThrowSystemError(const char* what, const std::filesystem::path& path, int error) {
  throw RecordFileError(std::string(what) + " \"" + path.string() + "\": " + std::strerror(error));
}

}  // namespace

RecordFile::~RecordFile() { Close(); }

RecordFile::RecordFile(RecordFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      pos_(std::exchange(other.pos_, 0)),
      len_(std::exchange(other.len_, 0)),
      eof_(std::exchange(other.eof_, false)) {}

RecordFile& RecordFile::operator=(RecordFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    buffer_ = std::move(other.buffer_);
    pos_ = std::exchange(other.pos_, 0);
    len_ = std::exchange(other.len_, 0);
    eof_ = std::exchange(other.eof_, false);
  }
  return *this;
}

void RecordFile::Open(const std::filesystem::path& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowSystemError("Cannot open file", path, errno);
  fd_ = fd;
  path_ = path;
  buffer_.resize(kBufferSize);
}

void RecordFile::Close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  buffer_.clear();
  buffer_.shrink_to_fit();
  pos_ = len_ = 0;
  eof_ = false;
}

bool RecordFile::Fill() {
  if (fd_ < 0) throw RecordFileError("Record file is not open");
  if (pos_ < len_) return true;
  if (eof_) return false;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n > 0) {
      pos_ = 0;
      len_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR) ThrowSystemError("Cannot read file", path_, errno);
  }
}

bool RecordFile::AtEnd() {
  if (!Fill()) return true;
  if (buffer_[pos_] == kCtrlZ) {
    eof_ = true;
    pos_ = len_;
    return true;
  }
  return false;
}

std::string RecordFile::ReadRecord() {
  std::string line;
  while (Fill()) {
    const char* begin = buffer_.data() + pos_;
    const char* end = buffer_.data() + len_;
    const char* stop = begin;
    while (stop != end && *stop != '\n' && *stop != kCtrlZ) ++stop;
    for (const char* p = begin; p != stop; ++p) {
      if (*p != '\r') line.push_back(*p);
    }
    pos_ += static_cast<std::size_t>(stop - begin);
    if (stop == end) continue;
    if (*stop == kCtrlZ) {
      eof_ = true;
      pos_ = len_;
    } else {
      ++pos_;  // past the line feed
    }
    break;
  }
  return std::string(TrimControlAndBlank(line));
}

}  // namespace station
