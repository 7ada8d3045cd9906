#include "core/RecordFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "core/FileAccess.h"

namespace station {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::size_t kBufferSize = 64 * 1024;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kByteOrderMarkSize = sizeof kByteOrderMark - 1;

// A longer record is cut here: no frame can carry even the cut record, so it
// is still refused, and a huge line never reaches a track field.
constexpr std::size_t kKeptRecordLength = SendBufferSize;

// The file's name as UTF-8 for the error text. The C++ library converts a
// Windows wide name itself, independent of the C library's locale.
std::string NameText(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

[[noreturn]] void ThrowSystemError(const char* what, const std::filesystem::path& path, int error) {
  throw RecordFileError(std::string(what) + " \"" + NameText(path) + "\": " + std::strerror(error));
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
  const int fd = OpenForReading(path);
  if (fd < 0) ThrowSystemError("Cannot open file", path, errno);
  fd_ = fd;
  path_ = path;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    Close();
    ThrowSystemError("Cannot open file", path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    Close();
    throw RecordFileError("Not a regular file \"" + NameText(path) + "\"");
  }
  buffer_.resize(kBufferSize);
  try {
    SkipByteOrderMark();
  } catch (...) {
    Close();
    throw;
  }
}

void RecordFile::SkipByteOrderMark() {
  // Editors on Windows start a UTF-8 file with a byte-order mark; its three
  // bytes are not part of the first record.
  if (Fill() && len_ >= kByteOrderMarkSize && std::string_view(buffer_.data(), kByteOrderMarkSize) == kByteOrderMark) {
    pos_ = kByteOrderMarkSize;
  }
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
  // The record is trimmed while it is read, so that an overlong line is known
  // without holding all of it: leading blanks are skipped, and a run of blanks
  // is held back until a character after it shows that it is inner.
  std::string record;
  std::string pendingBlanks;
  bool blanksOverflow = false;  // a character after the held-back run makes it too long
  bool tooLong = false;
  while (Fill()) {
    const char* begin = buffer_.data() + pos_;
    const char* end = buffer_.data() + len_;
    const char* stop = begin;
    while (stop != end && *stop != '\n' && *stop != kCtrlZ) ++stop;
    for (const char* p = begin; p != stop && !tooLong; ++p) {
      if (*p == '\r') continue;
      if (IsBlankOrControl(*p)) {
        if (record.empty() || blanksOverflow) continue;
        pendingBlanks.push_back(*p);
        blanksOverflow = record.size() + pendingBlanks.size() >= kKeptRecordLength;
      } else if (blanksOverflow || record.size() + pendingBlanks.size() >= kKeptRecordLength) {
        record += pendingBlanks;
        record.push_back(*p);
        record.resize(std::min(record.size(), kKeptRecordLength));
        tooLong = true;
      } else {
        record += pendingBlanks;
        pendingBlanks.clear();
        record.push_back(*p);
      }
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
  return record;
}

}  // namespace station
