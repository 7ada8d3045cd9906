// The trace and log recorders of a dispatcher.
//
// Both record into memory and write a text file only when dumped. Neither class
// locks: the dispatcher calls them under its main lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Bytes the program took ('R') and sent ('T'), two bytes per entry.
class TSerTrace {
 public:
  static constexpr uint32_t MaxEntries = 4'000'000;

  // Empties an existing buffer, otherwise allocates one of size entries; on.
  // -1002 for a size above MaxEntries.
  int Init(uint32_t size);
  void Clear();
  void Abort();
  void Start();
  void Stop() { On_ = false; }
  void Add(char kind, uint8_t byte);
  // Writes the file (appending when append and the file exists), frees the
  // buffer; 0, or the negated I/O error. Nothing recorded: no file, 0.
  int Dump(const std::string& file, bool append, bool hex, bool allHex);

  bool On() const { return On_; }
  bool HasBuffer() const { return !Entries_.empty(); }
  // The text Dump writes.
  std::string Format(bool hex, bool allHex) const;

 private:
  std::vector<uint8_t> Entries_;  // kind, byte, kind, byte, ...
  uint32_t Capacity_ = 0;
  uint32_t Pos_ = 0;
  bool Wrapped_ = false;
  bool On_ = false;
};

// What the log file's header names.
struct TSerLogHeader {
  std::string DeviceName;
  std::string OperatingSystem;
  std::tm Now{};
};

// The dispatcher's events with time stamps, in a ring of variable-length entries.
class TSerLog {
 public:
  static constexpr uint32_t HeaderSize = 14;  // type, subtype, time, other, length

  int Init(uint32_t size);
  void Clear();
  void Abort();
  void Start();
  void Stop() { On_ = false; }
  // Drops an entry larger than the whole ring; otherwise drops the oldest
  // entries whole until it fits.
  void Add(uint8_t type, uint8_t subType, uint32_t timeMs, uint32_t other, uint32_t dataLen, const uint8_t* data);
  int Dump(const std::string& file, bool append, bool hex, bool allHex, const TSerLogHeader& header);

  bool On() const { return On_; }
  bool HasBuffer() const { return !Ring_.empty(); }
  bool Empty() const { return Ring_.empty() || Free_ == Ring_.size(); }
  uint32_t EntryCount() const;
  std::string Format(bool hex, bool allHex, const TSerLogHeader& header) const;

 private:
  void CopyIn(const uint8_t* src, uint32_t n);
  void CopyOut(uint32_t pos, uint8_t* dst, uint32_t n) const;
  void DropOldest();

  std::vector<uint8_t> Ring_;
  uint32_t Read_ = 0;
  uint32_t Write_ = 0;
  uint32_t Free_ = 0;
  bool On_ = false;
};

// One recorder of a dispatcher, with a mirror of its on flag that the data path
// reads without the dispatcher's main lock.
template <typename TRecorder>
struct TSerRecorderSlot {
  TRecorder Recorder;
  std::atomic<bool> Active{false};
};

// "Linux 6.1.0 x86_64" and the like, from uname.
std::string OperatingSystemDescription();
