// The emulator's command line (tools/cardsim Options), the arguments split at
// NUL bytes.
// Invariants: arguments are accepted or refused with std::invalid_argument,
// never anything else; a refusal says which option it is about; an accepted
// set is valid (no link with a device, every number within its range) and
// means the same when written out again, values inline or apart.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "Options.h"

namespace {

constexpr std::chrono::milliseconds kDay = std::chrono::hours(24);

bool InDay(std::chrono::milliseconds span) { return span.count() >= 0 && span <= kDay; }

// The options as a command line: text values as separate arguments, numbers
// inline, so that both spellings are read.
std::vector<std::string> Written(const cardsim::Options& options) {
  std::vector<std::string> args;
  const auto text = [&args](const char* name, const std::string& value) {
    if (value.empty()) return;
    args.emplace_back(name);
    args.push_back(value);
  };
  const auto number = [&args](const char* name, long long value) {
    args.push_back(std::string(name) + "=" + std::to_string(value));
  };
  text("--link", options.link);
  text("--device", options.device);
  text("--control", options.control);
  text("--deck", options.deck);
  text("--log", options.log);
  const cardsim::EmulatorConfig& config = options.config;
  if (config.autoSwipe) number("--auto-swipe", config.autoSwipe->count());
  if (config.hangUpAfter) number("--hang-up-after", config.hangUpAfter->count());
  number("--chunks", config.faults.chunks);
  number("--chunk-delay", config.faults.chunkDelay.count());
  number("--bad-swipes", config.faults.badSwipes);
  number("--drop-replies", config.faults.dropReplies);
  if (config.faults.silent) args.emplace_back("--silent");
  if (options.help) args.emplace_back("--help");
  return args;
}

bool Same(const cardsim::Options& a, const cardsim::Options& b) {
  const cardsim::Faults& fa = a.config.faults;
  const cardsim::Faults& fb = b.config.faults;
  return a.link == b.link && a.device == b.device && a.control == b.control && a.deck == b.deck && a.log == b.log &&
         a.help == b.help && a.config.autoSwipe == b.config.autoSwipe && a.config.hangUpAfter == b.config.hangUpAfter &&
         fa.chunks == fb.chunks && fa.chunkDelay == fb.chunkDelay && fa.badSwipes == fb.badSwipes &&
         fa.dropReplies == fb.dropReplies && fa.silent == fb.silent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  const std::string_view bytes = fuzz::Bytes(data, size);
  for (std::size_t from = 0; from <= bytes.size();) {
    const std::size_t end = std::min(bytes.find('\0', from), bytes.size());
    args.emplace_back(bytes.substr(from, end - from));
    from = end + 1;
  }
  if (bytes.empty()) args.clear();

  cardsim::Options options;
  try {
    options = cardsim::ParseOptions(args);
  } catch (const std::invalid_argument& refusal) {
    const std::string_view said = refusal.what();
    FUZZ_CHECK(said.starts_with("--") || said.starts_with("unknown option '"));
    return 0;
  }

  FUZZ_CHECK(options.link.empty() || options.device.empty());
  const cardsim::Faults& faults = options.config.faults;
  FUZZ_CHECK(faults.chunks >= 1 && faults.chunks <= 1000);
  FUZZ_CHECK(InDay(faults.chunkDelay));
  FUZZ_CHECK(!options.config.autoSwipe || InDay(*options.config.autoSwipe));
  FUZZ_CHECK(!options.config.hangUpAfter || InDay(*options.config.hangUpAfter));
  FUZZ_CHECK(faults.badSwipes >= 0 && faults.badSwipes <= 1000000);
  FUZZ_CHECK(faults.dropReplies >= 0 && faults.dropReplies <= 1000000);

  FUZZ_CHECK(Same(cardsim::ParseOptions(Written(options)), options));
  return 0;
}
