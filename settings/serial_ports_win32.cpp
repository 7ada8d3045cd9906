// The COM ports of a Windows machine, as the serial drivers register them.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>

#include "settings/DeviceList.h"

namespace settings {
namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The number of "COMn"; 0 for any other name, which sorts such names first.
unsigned long PortNumber(const std::wstring& name) {
  if (name.size() < 4 || ::_wcsnicmp(name.c_str(), L"COM", 3) != 0) return 0;
  if (!std::all_of(name.begin() + 3, name.end(), [](wchar_t c) { return std::iswdigit(c) != 0; })) return 0;
  return std::wcstoul(name.c_str() + 3, nullptr, 10);
}

}  // namespace

std::vector<SerialDevice> ListSerialPorts() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  // Value name: the driver's device (\Device\Serial0); data: the port's name.
  std::vector<std::pair<std::wstring, std::wstring>> ports;
  for (DWORD index = 0;; ++index) {
    wchar_t device[256];
    DWORD deviceLength = sizeof device / sizeof device[0];
    wchar_t port[64];
    DWORD portBytes = sizeof port - sizeof port[0];
    DWORD type = 0;
    const LONG result = ::RegEnumValueW(key, index, device, &deviceLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(port), &portBytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    // Registry strings need not end in a zero.
    std::wstring name(port, portBytes / sizeof port[0]);
    name.erase(std::find(name.begin(), name.end(), L'\0'), name.end());
    if (!name.empty()) ports.emplace_back(std::move(name), std::wstring(device, deviceLength));
  }
  ::RegCloseKey(key);

  std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
    const auto na = PortNumber(a.first);
    const auto nb = PortNumber(b.first);
    return na != nb ? na < nb : a.first < b.first;
  });
  std::vector<SerialDevice> devices;
  for (const auto& [name, device] : ports) devices.push_back({"\\\\.\\" + Utf8(name), Utf8(device)});
  return devices;
}

}  // namespace settings
