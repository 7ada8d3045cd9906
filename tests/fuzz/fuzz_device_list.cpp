// The serial device lister over a /dev and /sys tree built from the input:
// device nodes, stable names that link anywhere (or are no links), and UART
// type files holding anything.
// Invariants: every device listed is named under the /dev root and exists
// there, none twice; stable names come first, then ttyUSB, ttyACM and ttyS,
// in that order; a ttyS device is listed only when its type file exists; a
// resolved link target is an absolute path. Listing the same tree twice gives
// the same list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "ScratchFile.h"
#include "settings/DeviceList.h"

namespace fs = std::filesystem;

namespace {

std::string FileName(FuzzedDataProvider& input, std::string_view prefix) {
  std::string name(prefix);
  for (char c : input.ConsumeRandomLengthString(16)) name.push_back(c == '/' || c == '\0' ? '_' : c);
  if (name.empty() || name == "." || name == "..") name += "x";
  return name;
}

int Group(const std::string& path, const fs::path& dev) {
  if (path.starts_with((dev / "serial" / "by-id").string() + "/")) return 0;
  const std::string name = fs::path(path).filename().string();
  if (name.starts_with("ttyUSB")) return 1;
  if (name.starts_with("ttyACM")) return 2;
  if (name.starts_with("ttyS")) return 3;
  return 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFolder folder;
  const fs::path dev = folder.Path() / "dev";
  const fs::path sys = folder.Path() / "sys";
  std::error_code ec;
  fs::remove_all(dev, ec);
  fs::remove_all(sys, ec);
  fs::create_directories(dev / "serial" / "by-id");
  fs::create_directories(sys / "class" / "tty");

  static constexpr std::string_view kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS", "tty", ""};
  FuzzedDataProvider input(data, size);
  for (int entries = 0; entries < 32 && input.remaining_bytes() > 0; ++entries) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0: {
        const std::string name = FileName(input, kPrefixes[input.ConsumeIntegralInRange(0, 4)]);
        // A name already taken by a folder stays a folder.
        std::ofstream node(dev / name);
        break;
      }
      case 1: {
        const std::string name = FileName(input, "usb-");
        const std::string target = input.ConsumeRandomLengthString(40);
        fs::create_symlink(target.empty() ? "x" : target, dev / "serial" / "by-id" / name, ec);
        break;
      }
      case 2: {
        const fs::path tty = sys / "class" / "tty" / FileName(input, "ttyS");
        fs::create_directories(tty, ec);
        std::ofstream(tty / "type") << input.ConsumeRandomLengthString(12);
        break;
      }
      case 3: fs::create_directories(dev / "serial" / "by-id" / FileName(input, ""), ec); break;
      case 4: fs::create_directories(dev / FileName(input, "ttyS"), ec); break;
    }
  }

  const std::vector<settings::SerialDevice> devices = settings::ListSerialDevices(dev, sys);
  std::set<std::string> seen;
  int lastGroup = 0;
  for (const settings::SerialDevice& device : devices) {
    FUZZ_CHECK(device.path.starts_with(dev.string() + "/"));
    FUZZ_CHECK(fs::exists(fs::symlink_status(device.path)));
    FUZZ_CHECK(seen.insert(device.path).second);
    const int group = Group(device.path, dev);
    FUZZ_CHECK(group >= lastGroup && group < 4);
    lastGroup = group;
    if (group == 3) FUZZ_CHECK(fs::exists(sys / "class" / "tty" / fs::path(device.path).filename() / "type"));
    FUZZ_CHECK(device.target.empty() || fs::path(device.target).is_absolute());
  }
  const std::vector<settings::SerialDevice> again = settings::ListSerialDevices(dev, sys);
  FUZZ_CHECK(again.size() == devices.size());
  for (std::size_t i = 0; i < devices.size(); ++i) FUZZ_CHECK(again[i].path == devices[i].path);
  return 0;
}
