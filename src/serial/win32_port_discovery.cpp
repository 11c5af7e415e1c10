// Port discovery on Windows: the COM ports the system lists under HARDWARE\DEVICEMAP\SERIALCOMM,
// named by their device manager entries where the system has them.
#include <windows.h>
// The ports class GUID is defined here, so initguid.h must come before the header declaring it.
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/port_discovery.h"

namespace zephor::serial {
namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr char kPortNameValue[] = "PortName";
// Registry names and values and device properties here are short; longer ones are skipped.
constexpr DWORD kTextSize = 512;
// A USB hardware id holds "VID_vvvv" and "PID_pppp".
constexpr char kVendorTag[] = "VID_";
constexpr char kProductTag[] = "PID_";
constexpr std::size_t kIdDigits = 4;

// "COM12" gives 12; anything else 0.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) return 0;
  }
  return std::atoi(name.c_str() + 3);
}

std::string IdAfter(const std::string& hardwareId, const char* tag) {
  const std::size_t at = hardwareId.find(tag);
  if (at == std::string::npos) return {};
  return hardwareId.substr(at + std::char_traits<char>::length(tag), kIdDigits);
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  char text[kTextSize] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr,
                                         reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr)) {
    return {};
  }
  return text;  // a multi-string's first string
}

// Friendly name, maker and USB ids of the device manager's entry for a COM name.
void AddDeviceManagerNames(FoundPort& port) {
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char name[kTextSize] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool named = RegQueryValueExA(key, kPortNameValue, nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    if (!named || _stricmp(name, port.device.c_str()) != 0) continue;
    const std::string friendly = Property(set, info, SPDRP_FRIENDLYNAME);
    if (!friendly.empty()) port.description = friendly;
    const std::string hardwareId = Property(set, info, SPDRP_HARDWAREID);
    port.vendorId = IdAfter(hardwareId, kVendorTag);
    port.productId = IdAfter(hardwareId, kProductTag);
    if (!port.vendorId.empty()) port.manufacturer = Property(set, info, SPDRP_MFG);
    break;
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<FoundPort> FindPorts(const PortSearch&) {
  std::vector<FoundPort> found;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return found;
  }
  for (DWORD i = 0;; ++i) {
    char name[kTextSize] = {};
    char data[kTextSize] = {};
    DWORD nameSize = sizeof name;
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ || ComNumber(data) == 0) continue;
    FoundPort port;
    port.device = data;
    // Without a device manager entry the system's own name of the device tells most.
    port.description = name;
    AddDeviceManagerNames(port);
    found.push_back(port);
  }
  RegCloseKey(key);
  std::sort(found.begin(), found.end(), [](const FoundPort& a, const FoundPort& b) {
    return ComNumber(a.device) < ComNumber(b.device);
  });
  return found;
}

std::string PortDeviceName(int portIndex) { return "COM" + std::to_string(portIndex + 1); }

bool HoldPortDevice(int portIndex, const std::string& device) {
  return portIndex >= 0 && portIndex <= kHighestPortIndex &&
         _stricmp(PortDeviceName(portIndex).c_str(), device.c_str()) == 0;
}

}  // namespace zephor::serial
