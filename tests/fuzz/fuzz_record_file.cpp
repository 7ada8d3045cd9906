// The record-file reader over any file contents.
// Invariant: the records read are those of a plain model of the file: a
// leading UTF-8 byte-order mark dropped, everything from the first Ctrl+Z on
// ignored, lines cut at line feeds (a last line without one counts, an empty
// rest does not), carriage returns dropped, each line trimmed of bytes of code
// 32 or less and cut to SendBufferSize bytes. Two readers of one file read
// it alike, and the end stays the end.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "ScratchFile.h"
#include "station/NumberSequence.h"
#include "station/RecordFile.h"

namespace {

std::vector<std::string> ModelRecords(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::vector<std::string> records;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string line;
    for (char c : bytes.substr(0, end)) {
      if (c != '\r') line.push_back(c);
    }
    records.emplace_back(station::TrimControlAndBlank(line).substr(0, station::SendBufferSize));
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
  }
  return records;
}

std::vector<std::string> ReadAll(station::RecordFile& file) {
  std::vector<std::string> records;
  while (!file.AtEnd()) records.push_back(file.ReadRecord());
  FUZZ_CHECK(file.ReadRecord().empty() && file.AtEnd());
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder folder;
  const auto path = folder.Path() / "records.txt";
  const std::string_view bytes = fuzz::Bytes(data, size);
  fuzz::WriteFile(path, bytes);

  station::RecordFile first;
  station::RecordFile second;
  first.Open(path);
  second.Open(path);
  const std::vector<std::string> records = ReadAll(first);
  FUZZ_CHECK(records == ModelRecords(bytes));
  FUZZ_CHECK(ReadAll(second) == records);
  return 0;
}
