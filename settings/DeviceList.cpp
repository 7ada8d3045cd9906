#include "settings/DeviceList.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string_view>

namespace settings {
namespace {

// Natural order: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])) != 0) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])) != 0) ++ej;
      const auto na = std::string_view(a).substr(i, ei - i);
      const auto nb = std::string_view(b).substr(j, ej - j);
      const auto ta = na.substr(std::min(na.find_first_not_of('0'), na.size()));
      const auto tb = nb.substr(std::min(nb.find_first_not_of('0'), nb.size()));
      if (ta.size() != tb.size()) return ta.size() < tb.size();
      if (ta != tb) return ta < tb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> NamesIn(const std::filesystem::path& dir, std::string_view prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

bool HasRealUart(const std::filesystem::path& sysRoot, const std::string& name) {
  std::ifstream in(sysRoot / "class" / "tty" / name / "type");
  int type = 0;
  return static_cast<bool>(in >> type) && type != 0;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const std::filesystem::path& devRoot,
                                            const std::filesystem::path& sysRoot) {
  std::vector<SerialDevice> devices;
  const auto byId = devRoot / "serial" / "by-id";
  for (const auto& name : NamesIn(byId, "")) {
    const auto link = byId / name;
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(link, ec);
    std::string resolved;
    if (!ec) resolved = (target.is_absolute() ? target : (byId / target).lexically_normal()).string();
    devices.push_back({link.string(), resolved});
  }
  for (const std::string_view prefix : {"ttyUSB", "ttyACM"}) {
    for (const auto& name : NamesIn(devRoot, prefix)) devices.push_back({(devRoot / name).string(), {}});
  }
  for (const auto& name : NamesIn(devRoot, "ttyS")) {
    if (HasRealUart(sysRoot, name)) devices.push_back({(devRoot / name).string(), {}});
  }
  return devices;
}

}  // namespace settings
