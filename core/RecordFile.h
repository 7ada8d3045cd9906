#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/HexText.h"

namespace station {

// A record goes into one write frame between ESC 't' (and the 'A' before a
// track 3 text) and GS ESC '\'; anything longer cannot be sent.
inline constexpr std::size_t kMaxRecordLength = SendBufferSize - 6;

// Raised when a record file cannot be opened or read. The text names the file
// and the system's reason; the operator is told "文件读写错误，请重试!".
class RecordFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text file of records, one record per line, read front to back.
//
// A UTF-8 byte-order mark at the very start is not data. A record longer than
// a write frame can carry is cut to SendBufferSize bytes when it is read, which
// no frame can carry either, so a huge line never reaches a field.
//
// A line ends at a line feed; a carriage return anywhere is dropped, so CR LF
// and LF alone give the same records and a lone CR disappears from its line.
// A Ctrl+Z (code 26) ends the data: nothing after it is read. Bytes are taken
// unchanged, one byte per character, and lines may be of any length. Each
// record is trimmed of characters of code 32 or less at both ends, so a blank
// line gives an empty record.
//
// Every RecordFile has its own open handle and read position, so one file can
// be the source of two tracks at once, each reading it on its own.
// Not thread-safe; the station uses it on the main thread only.
class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(RecordFile&& other) noexcept;
  RecordFile& operator=(RecordFile&& other) noexcept;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens path for reading at its start, closing any file open before.
  // Throws RecordFileError when the file cannot be opened or is not a regular
  // file (a FIFO or a device would block or never end); the object is then
  // closed.
  void Open(const std::filesystem::path& path);
  void Close() noexcept;
  bool IsOpen() const { return fd_ >= 0; }
  const std::filesystem::path& Path() const { return path_; }

  // True when no record follows the read position: the file ends there or a
  // Ctrl+Z comes next. Right after Open this tells that the file holds no
  // data at all. Throws RecordFileError on a read error or when not open.
  bool AtEnd();

  // Reads the next line and returns it trimmed, at most SendBufferSize bytes
  // of it. At the end it returns an empty record and stays at the end.
  // Throws RecordFileError on a read error or when not open.
  std::string ReadRecord();

 private:
  // Makes at least one unread byte available unless the file has ended.
  // Returns false at the end of the file.
  bool Fill();
  void SkipByteOrderMark();

  int fd_ = -1;
  std::filesystem::path path_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool eof_ = false;  // the file has no more bytes, or a Ctrl+Z was reached
};

}  // namespace station
