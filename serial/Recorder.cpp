#include "serial/Recorder.h"

#include <cstdio>
#include <cstring>

#include "serial/SerialCommon.h"
#include "serial/SerialErrors.h"
#include "serial/SystemServices.h"

namespace {

// Line break of the trace and log files: CR LF, as the files have always had.
constexpr const char* Eol = "\r\n";
constexpr uint32_t MaxColumn = 78;
constexpr uint32_t LogDataColumn = 44;

// One byte in the files' notation, and its width in columns.
std::string ByteItem(uint8_t b, bool hex, bool allHex) {
  char buf[8];
  const uint8_t lowest = hex ? '!' : ' ';
  if (!allHex && b >= lowest && b <= '~') {
    buf[0] = static_cast<char>(b);
    buf[1] = '\0';
  } else if (allHex || hex) {
    std::snprintf(buf, sizeof buf, "[%02X]", b);
  } else {
    std::snprintf(buf, sizeof buf, "[%u]", b);
  }
  return buf;
}

std::string LogLabel(int code) { return ErrorText(code); }

}  // namespace

// ---------------------------------------------------------------------------
// Trace

int TSerTrace::Init(uint32_t size) {
  if (HasBuffer()) {
    Clear();
  } else {
    if (size > MaxEntries) return serial_codes::ecBadArgument;
    Entries_.assign(static_cast<size_t>(size) * 2, 0);
    Capacity_ = size;
    Clear();
  }
  On_ = true;
  return 0;
}

void TSerTrace::Clear() {
  Pos_ = 0;
  Wrapped_ = false;
}

void TSerTrace::Abort() {
  On_ = false;
  Entries_.clear();
  Entries_.shrink_to_fit();
  Capacity_ = 0;
  Clear();
}

void TSerTrace::Start() { On_ = HasBuffer(); }

void TSerTrace::Add(char kind, uint8_t byte) {
  if (!On_ || Capacity_ == 0) return;
  Entries_[Pos_ * 2] = static_cast<uint8_t>(kind);
  Entries_[Pos_ * 2 + 1] = byte;
  if (++Pos_ == Capacity_) {
    Pos_ = 0;
    Wrapped_ = true;
  }
}

std::string TSerTrace::Format(bool hex, bool allHex) const {
  std::string out;
  const uint32_t count = Wrapped_ ? Capacity_ : Pos_;
  const uint32_t start = Wrapped_ ? Pos_ : 0;
  int prevKind = -1;
  uint32_t column = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t at = (start + i) % Capacity_;
    const uint8_t kind = Entries_[at * 2];
    const uint8_t byte = Entries_[at * 2 + 1];
    if (kind != prevKind) {
      if (prevKind != -1) {
        out += "\r\n";
        out += Eol;
      }
      column = 0;
      out += kind == 'T' ? "Transmit: " : "Receive: ";
      out += Eol;
      prevKind = kind;
    }
    const std::string item = ByteItem(byte, hex, allHex);
    column += static_cast<uint32_t>(item.size());
    if (column > MaxColumn) {
      out += Eol;
      column = static_cast<uint32_t>(item.size());
    }
    out += item;
  }
  return out;
}

int TSerTrace::Dump(const std::string& file, bool append, bool hex, bool allHex) {
  if (!HasBuffer()) return 0;
  On_ = false;
  if (Pos_ == 0 && !Wrapped_) {
    Abort();
    return 0;
  }
  const int rc = WriteRecorderFile(file, append, Format(hex, allHex));
  Abort();
  return rc;
}

// ---------------------------------------------------------------------------
// Log

namespace {
struct TEntryHeader {
  uint8_t Type;
  uint8_t SubType;
  uint32_t Time;
  uint32_t Other;
  uint32_t Length;
};

void Pack(const TEntryHeader& h, uint8_t* out) {
  out[0] = h.Type;
  out[1] = h.SubType;
  std::memcpy(out + 2, &h.Time, 4);
  std::memcpy(out + 6, &h.Other, 4);
  std::memcpy(out + 10, &h.Length, 4);
}

TEntryHeader Unpack(const uint8_t* in) {
  TEntryHeader h{};
  h.Type = in[0];
  h.SubType = in[1];
  std::memcpy(&h.Time, in + 2, 4);
  std::memcpy(&h.Other, in + 6, 4);
  std::memcpy(&h.Length, in + 10, 4);
  return h;
}
}  // namespace

int TSerLog::Init(uint32_t size) {
  if (HasBuffer()) {
    Clear();
  } else {
    Ring_.assign(size, 0);
    Clear();
  }
  On_ = true;
  return 0;
}

void TSerLog::Clear() {
  Read_ = 0;
  Write_ = 0;
  Free_ = static_cast<uint32_t>(Ring_.size());
}

void TSerLog::Abort() {
  On_ = false;
  Ring_.clear();
  Ring_.shrink_to_fit();
  Clear();
}

void TSerLog::Start() { On_ = HasBuffer(); }

void TSerLog::CopyIn(const uint8_t* src, uint32_t n) {
  const uint32_t size = static_cast<uint32_t>(Ring_.size());
  const uint32_t first = std::min(n, size - Write_);
  std::memcpy(Ring_.data() + Write_, src, first);
  std::memcpy(Ring_.data(), src + first, n - first);
  Write_ = (Write_ + n) % size;
  Free_ -= n;
}

void TSerLog::CopyOut(uint32_t pos, uint8_t* dst, uint32_t n) const {
  const uint32_t size = static_cast<uint32_t>(Ring_.size());
  const uint32_t first = std::min(n, size - pos);
  std::memcpy(dst, Ring_.data() + pos, first);
  std::memcpy(dst + first, Ring_.data(), n - first);
}

void TSerLog::DropOldest() {
  uint8_t raw[HeaderSize];
  CopyOut(Read_, raw, HeaderSize);
  const uint32_t total = HeaderSize + Unpack(raw).Length;
  Read_ = (Read_ + total) % static_cast<uint32_t>(Ring_.size());
  Free_ += total;
}

void TSerLog::Add(uint8_t type, uint8_t subType, uint32_t timeMs, uint32_t other, uint32_t dataLen,
                  const uint8_t* data) {
  if (!On_ || Ring_.empty()) return;
  const uint64_t total = uint64_t{HeaderSize} + dataLen;
  // An entry that can never fit is dropped, never half written.
  if (total > Ring_.size()) return;
  while (Free_ < total) DropOldest();
  uint8_t raw[HeaderSize];
  Pack({type, subType, timeMs, other, dataLen}, raw);
  CopyIn(raw, HeaderSize);
  if (dataLen > 0) CopyIn(data, dataLen);
}

uint32_t TSerLog::EntryCount() const {
  uint32_t count = 0;
  uint32_t pos = Read_;
  uint32_t left = static_cast<uint32_t>(Ring_.size()) - Free_;
  while (left >= HeaderSize) {
    uint8_t raw[HeaderSize];
    CopyOut(pos, raw, HeaderSize);
    const uint32_t total = HeaderSize + Unpack(raw).Length;
    pos = (pos + total) % static_cast<uint32_t>(Ring_.size());
    left -= total;
    ++count;
  }
  return count;
}

std::string TSerLog::Format(bool hex, bool allHex, const TSerLogHeader& header) const {
  std::string out;
  char line[160];
  out += std::string("SERIAL ") + SerialLayerVersion + Eol;
  out += std::string("Compiler : Unknown") + Eol;
  out += "Operating System : " + header.OperatingSystem + Eol;
  out += "Device: " + header.DeviceName + Eol;
  std::snprintf(line, sizeof line, "Date/time: %02d/%02d/%02d, %02d:%02d:%02d", header.Now.tm_mday,
                header.Now.tm_mon + 1, header.Now.tm_year % 100, header.Now.tm_hour, header.Now.tm_min,
                header.Now.tm_sec);
  out += std::string(line) + Eol;
  out += std::string("Time      Type      SubType       Data      OtherData") + Eol;
  out += std::string("--------  --------  ------------  --------  ---------") + Eol;

  uint32_t pos = Read_;
  uint32_t left = static_cast<uint32_t>(Ring_.size()) - Free_;
  std::vector<uint8_t> data;
  while (left >= HeaderSize) {
    uint8_t raw[HeaderSize];
    CopyOut(pos, raw, HeaderSize);
    const TEntryHeader h = Unpack(raw);
    data.resize(h.Length);
    if (h.Length > 0) CopyOut((pos + HeaderSize) % Ring_.size(), data.data(), h.Length);
    pos = (pos + HeaderSize + h.Length) % static_cast<uint32_t>(Ring_.size());
    left -= HeaderSize + h.Length;

    // Seven digits at least, a point before the last three: 1234 ms reads 0001.234.
    char ms[16];
    const int len = std::snprintf(ms, sizeof ms, "%.7u", h.Time);
    char time[20];
    std::snprintf(time, sizeof time, "%.*s.%s", len - 3, ms, ms + len - 3);
    std::snprintf(line, sizeof line, "%8s  %-8s  %-12s  %.8x  ", time, LogLabel(LogTypeLabelBase + h.Type).c_str(),
                  h.SubType == 0 ? "" : LogLabel(LogSubTypeLabelBase + h.SubType).c_str(), h.Other);
    out += line;
    uint32_t column = LogDataColumn;
    for (uint8_t b : data) {
      const std::string item = ByteItem(b, hex, allHex);
      column += static_cast<uint32_t>(item.size());
      if (column > MaxColumn) {
        out += Eol;
        out += std::string(LogDataColumn, ' ');
        column = LogDataColumn + static_cast<uint32_t>(item.size());
      }
      out += item;
    }
    out += Eol;
  }
  return out;
}

int TSerLog::Dump(const std::string& file, bool append, bool hex, bool allHex, const TSerLogHeader& header) {
  On_ = false;
  if (Empty()) {
    Abort();
    return 0;
  }
  const int rc = WriteRecorderFile(file, append, Format(hex, allHex, header));
  Abort();
  return rc;
}
