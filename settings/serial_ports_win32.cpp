// The COM ports of a Windows machine: the ports the serial drivers register,
// named as Device Manager names them.
#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "settings/ComPortNames.h"
#include "settings/DeviceList.h"

namespace settings {
namespace {

// A registry string value; registry strings need not end in a zero.
std::wstring StringValue(const wchar_t* data, DWORD bytes) {
  std::wstring text(data, bytes / sizeof(wchar_t));
  text.erase(std::find(text.begin(), text.end(), L'\0'), text.end());
  return text;
}

class SystemTables final : public PortTables {
 public:
  std::vector<std::pair<std::wstring, std::wstring>> SerialComm() const override {
    std::vector<std::pair<std::wstring, std::wstring>> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return ports;
    }
    // Value name: the driver's device (\Device\Serial0); data: the port's name.
    for (DWORD index = 0;; ++index) {
      wchar_t device[256];
      DWORD deviceLength = sizeof device / sizeof device[0];
      wchar_t port[64];
      DWORD portBytes = sizeof port - sizeof port[0];
      DWORD type = 0;
      const LONG result =
          ::RegEnumValueW(key, index, device, &deviceLength, nullptr, &type, reinterpret_cast<BYTE*>(port), &portBytes);
      if (result == ERROR_NO_MORE_ITEMS) break;
      if (result != ERROR_SUCCESS || type != REG_SZ) continue;
      ports.emplace_back(std::wstring(device, deviceLength), StringValue(port, portBytes));
    }
    ::RegCloseKey(key);
    return ports;
  }

  std::vector<std::pair<std::wstring, std::wstring>> FriendlyNames() const override {
    std::vector<std::pair<std::wstring, std::wstring>> names;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
      // The port's name is in the device's own key. Printer ports (LPT) are in
      // this class too; the naming keeps only COM ports.
      std::wstring port;
      if (HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
          key != INVALID_HANDLE_VALUE) {
        wchar_t value[64];
        DWORD bytes = sizeof value - sizeof value[0];
        DWORD type = 0;
        if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {
          port = StringValue(value, bytes);
        }
        ::RegCloseKey(key);
      }
      if (port.empty()) continue;
      wchar_t friendly[256];
      DWORD type = 0;
      if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, &type, reinterpret_cast<BYTE*>(friendly),
                                               sizeof friendly - sizeof friendly[0], nullptr) ||
          type != REG_SZ) {
        friendly[0] = L'\0';
      }
      friendly[sizeof friendly / sizeof friendly[0] - 1] = L'\0';
      names.emplace_back(std::move(port), std::wstring(friendly));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return names;
  }
};

}  // namespace

const PortTables& SystemPortTables() {
  static const SystemTables tables;
  return tables;
}

std::vector<SerialDevice> ListSerialPorts() { return NameComPorts(SystemPortTables()); }

}  // namespace settings
