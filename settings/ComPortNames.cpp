#include "settings/ComPortNames.h"

#include <QString>

#include <algorithm>
#include <cwctype>
#include <map>

namespace settings {
namespace {

std::string Utf8(const std::wstring& text) { return QString::fromStdWString(text).toStdString(); }

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return text;
}

// The number of "COMn"; 0 for any other name, which sorts such names first.
unsigned long PortNumber(const std::wstring& name) {
  if (name.size() < 4 || Upper(name.substr(0, 3)) != L"COM") return 0;
  if (!std::all_of(name.begin() + 3, name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) return 0;
  return std::wcstoul(name.c_str() + 3, nullptr, 10);
}

std::wstring Trimmed(std::wstring text) {
  const auto blank = [](wchar_t c) { return std::iswspace(c) != 0 || c == L'\0'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
  return text;
}

// The friendly name as the label's part in brackets: without the port's own
// name, which the label already starts with.
std::wstring Description(std::wstring friendly, const std::wstring& port) {
  friendly = Trimmed(std::move(friendly));
  const std::wstring suffix = L"(" + Upper(port) + L")";
  const std::wstring upper = Upper(friendly);
  if (upper.size() >= suffix.size() && upper.compare(upper.size() - suffix.size(), suffix.size(), suffix) == 0) {
    friendly = Trimmed(friendly.substr(0, friendly.size() - suffix.size()));
  }
  // A driver's device path tells the operator nothing.
  if (Upper(friendly).rfind(L"\\DEVICE\\", 0) == 0 || Upper(friendly) == Upper(port)) return {};
  return friendly;
}

}  // namespace

std::vector<SerialDevice> NameComPorts(const PortTables& tables) {
  struct Port {
    std::wstring name;
    std::wstring device;
    std::wstring friendly;
  };
  // Keyed by the upper-case name: the tables need not agree on case.
  std::map<std::wstring, Port> ports;
  for (auto& [device, name] : tables.SerialComm()) {
    const std::wstring trimmed = Trimmed(name);
    if (trimmed.empty()) continue;
    Port& port = ports[Upper(trimmed)];
    port.name = trimmed;
    port.device = device;
  }
  for (auto& [name, friendly] : tables.FriendlyNames()) {
    const std::wstring trimmed = Trimmed(name);
    // Printer ports share SetupAPI's class with COM ports.
    if (trimmed.empty() || (ports.count(Upper(trimmed)) == 0 && PortNumber(trimmed) == 0)) continue;
    Port& port = ports[Upper(trimmed)];
    if (port.name.empty()) port.name = trimmed;
    if (port.friendly.empty()) port.friendly = Description(friendly, trimmed);
  }

  std::vector<Port> ordered;
  for (auto& entry : ports) ordered.push_back(std::move(entry.second));
  std::stable_sort(ordered.begin(), ordered.end(), [](const Port& a, const Port& b) {
    const auto na = PortNumber(a.name);
    const auto nb = PortNumber(b.name);
    return na != nb ? na < nb : Upper(a.name) < Upper(b.name);
  });
  std::vector<SerialDevice> devices;
  for (const Port& port : ordered) {
    SerialDevice device{"\\\\.\\" + Utf8(port.name), Utf8(port.device), Utf8(port.name)};
    if (!port.friendly.empty()) device.label += " (" + Utf8(port.friendly) + ")";
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace settings
