// Port discovery on Linux: the tty devices sysfs knows with a device behind them, their USB
// strings, and the /dev/serial/by-id names that point at them.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

#include "serial/port_discovery.h"
#include "serial/posix_driver.h"

namespace zephor::serial {
namespace {

namespace fs = std::filesystem;

// A USB device folder lies a few levels above its tty: interface, then the device itself.
constexpr int kUsbSearchDepth = 4;
// The 8250 driver makes ttyS0..ttyS3 and more whether or not a UART answers there; those that
// did not answer carry port type 0.
constexpr char kUnknownUartType[] = "0";
constexpr char kUartPrefix[] = "ttyS";

// UART types as the serial core numbers them; the rest are shown by number.
struct UartType {
  const char* number;
  const char* name;
};
constexpr UartType kUartTypes[] = {{"1", "8250"},    {"2", "16450"},  {"3", "16550"},
                                   {"4", "16550A"},  {"5", "Cirrus"}, {"6", "16650"},
                                   {"7", "16650V2"}, {"8", "16750"},  {"9", "Startech"},
                                   {"10", "16C950"}, {"11", "16654"}, {"12", "16850"}};

// First line of a sysfs attribute without its line end; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())) != 0) {
    line.pop_back();
  }
  return line;
}

std::string Joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " " + b;
}

// The folder of the USB device above a tty's device, or empty when it is no USB device.
fs::path UsbDeviceFolder(const fs::path& deviceLink) {
  std::error_code ec;
  fs::path folder = fs::canonical(deviceLink, ec);
  if (ec) return {};
  for (int level = 0; level < kUsbSearchDepth && folder.has_relative_path(); ++level) {
    if (fs::exists(folder / "idVendor", ec)) return folder;
    folder = folder.parent_path();
  }
  return {};
}

std::string DriverName(const fs::path& deviceLink) {
  std::error_code ec;
  const fs::path driver = fs::read_symlink(deviceLink / "driver", ec);
  return ec ? std::string() : driver.filename().string();
}

std::string UartDescription(const std::string& type) {
  for (const UartType& t : kUartTypes) {
    if (type == t.number) return std::string("Serial port (") + t.name + ")";
  }
  return "Serial port (UART type " + type + ")";
}

// The by-id names under devRoot, by the name of the device each points at.
std::vector<std::pair<std::string, std::string>> ByIdNames(const fs::path& devRoot) {
  std::vector<std::pair<std::string, std::string>> names;
  std::error_code ec;
  const fs::path folder = devRoot / "serial" / "by-id";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    if (!linkError) names.emplace_back(target.filename().string(), it->path().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Orders ttyS2 before ttyS10: the name's letters first, then its number.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    std::size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])) != 0) --digits;
    const std::string number = s.substr(digits);
    return std::make_pair(s.substr(0, digits),
                          number.empty() ? -1L : std::strtol(number.c_str(), nullptr, 10));
  };
  return split(a) < split(b);
}

// One tty of sysfs; false when it is no serial device that is there.
bool Describe(const fs::path& ttyFolder, const std::string& name, FoundPort& port) {
  std::error_code ec;
  const fs::path deviceLink = ttyFolder / "device";
  // Consoles, pseudo-terminals and the like have no device behind them.
  if (!fs::exists(deviceLink, ec)) return false;
  const std::string type = ReadAttribute(ttyFolder / "type");
  if (name.starts_with(kUartPrefix) && type == kUnknownUartType) return false;
  const fs::path usb = UsbDeviceFolder(deviceLink);
  if (!usb.empty()) {
    port.manufacturer = ReadAttribute(usb / "manufacturer");
    port.product = ReadAttribute(usb / "product");
    port.serialNumber = ReadAttribute(usb / "serial");
    port.vendorId = ReadAttribute(usb / "idVendor");
    port.productId = ReadAttribute(usb / "idProduct");
    port.description = Joined(port.manufacturer, port.product);
  } else if (name.starts_with(kUartPrefix) && !type.empty()) {
    port.description = UartDescription(type);
  }
  if (port.description.empty()) port.description = DriverName(deviceLink);
  return true;
}

}  // namespace

std::vector<FoundPort> FindPorts(const PortSearch& where) {
  const fs::path devRoot(where.devRoot);
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path classFolder = fs::path(where.sysRoot) / "class" / "tty";
  for (fs::directory_iterator it(classFolder, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  const auto byId = ByIdNames(devRoot);
  std::vector<FoundPort> found;
  for (const std::string& name : names) {
    FoundPort port;
    if (!Describe(classFolder / name, name, port)) continue;
    port.device = (devRoot / name).string();
    for (const auto& [target, link] : byId) {
      if (target == name) {
        port.byId = link;
        break;
      }
    }
    found.push_back(std::move(port));
  }
  return found;
}

std::string PortDeviceName(int portIndex) { return PosixDevicePath(portIndex); }

bool HoldPortDevice(int portIndex, const std::string& device) {
  if (portIndex < 0 || portIndex > kHighestPortIndex || device.empty()) return false;
  if (PosixDevicePath(portIndex) == device) return true;
  // The driver reads the device of COMn from this variable: set here it lasts as long as the
  // process and is never written anywhere.
  const std::string variable = "ZEPHOR_COM" + std::to_string(portIndex + 1);
  return setenv(variable.c_str(), device.c_str(), 1) == 0;
}

}  // namespace zephor::serial
