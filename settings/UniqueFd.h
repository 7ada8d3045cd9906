#pragma once
// POSIX only: included by the *_posix.cpp files that write files.

#include <unistd.h>

#include <utility>

namespace settings {

// Owns a file descriptor and closes it when it goes. Close and Release exist
// for a close whose result counts (a delayed write error shows there).
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  // Closes now; the close's result.
  int Close() { return ::close(Release()); }
  // Hands the descriptor over; this object closes nothing any more.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace settings
