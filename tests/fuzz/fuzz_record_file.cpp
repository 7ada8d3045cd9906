// The record-file reader over any file contents.
// Invariant: the records read are those of a plain model of the file: a
// leading UTF-8 byte-order mark dropped, everything from the first Ctrl+Z on
// ignored, lines cut at line feeds (a last line without one counts, an empty
// rest does not), carriage returns dropped, each line trimmed of bytes of code
// 32 or less and cut to SendBufferSize bytes. Two readers of one file read
// it alike, and the end stays the end. Inputs are also read across the
// reader's block boundary.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "ScratchFile.h"
#include "core/NumberSequence.h"
#include "core/RecordFile.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

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
  FuzzedDataProvider input(data, size);
  const int shift = input.ConsumeIntegralInRange(-1, 12);
  std::string bytes = input.ConsumeRemainingBytesAsString();
  // The reader takes the file in 64 KiB blocks: most inputs are put a few
  // bytes before a block's end, behind one long record, so that their lines,
  // CR LF pairs and Ctrl+Z fall across it.
  if (shift >= 0) bytes.insert(0, std::string(kBlock - 1 - static_cast<std::size_t>(shift), '7') + "\n");
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
