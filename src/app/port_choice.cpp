// The port list: fixed COM1 to COM4, then what the system found, each found port on an index of
// its own so that choosing it is choosing a port index like any other.
#include "app/port_choice.h"

#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>

#include "process/device_holder.h"
#include "serial/status_text.h"

namespace zephor::app {
namespace {

constexpr std::string_view kComPrefix = "COM";
// Between a device and its description in the list.
constexpr char kTextGap[] = "  ";

std::string ComName(int portIndex) {
  return std::string(kComPrefix) + std::to_string(portIndex + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A port is known to an index by its device or by the name that stays with the adapter.
int IndexOfFound(const serial::FoundPort& port) {
  const int index = PortIndexOfDevice(port.device);
  if (index >= 0 || port.byId.empty()) return index;
  return PortIndexOfDevice(port.byId);
}

// "COM5  USB Serial Port", "ttyUSB0  FTDI FT232R USB UART": the device's own name, which the
// narrow box still shows when closed, then its description without a repeat of the device.
std::string ItemText(const serial::FoundPort& port) {
  const std::string name = port.device.substr(port.device.find_last_of('/') + 1);
  std::string description = port.description;
  const std::string repeat = " (" + name + ")";
  if (description.size() > repeat.size() && description.ends_with(repeat)) {
    description.resize(description.size() - repeat.size());
  }
  return description.empty() ? name : name + kTextGap + description;
}

bool IndexUsed(const std::vector<PortItem>& items, int portIndex) {
  for (const PortItem& item : items) {
    if (item.portIndex == portIndex) return true;
  }
  return false;
}

// "COM" and a number, in or out of range ("COM0", "COM257", "COM-1"): a port name, never a path.
bool LooksLikeComName(std::string_view name) {
  if (name.size() <= kComPrefix.size() ||
      !SameName(name.substr(0, kComPrefix.size()), kComPrefix)) {
    return false;
  }
  std::string_view number = name.substr(kComPrefix.size());
  if (number.front() == '-' || number.front() == '+') number.remove_prefix(1);
  if (number.empty()) return false;
  for (const char c : number) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

}  // namespace

bool PortIndexFromName(std::string_view name, int& portIndex) {
  if (name.size() <= kComPrefix.size() ||
      !SameName(name.substr(0, kComPrefix.size()), kComPrefix)) {
    return false;
  }
  int number = 0;
  for (const char c : name.substr(kComPrefix.size())) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    number = number * 10 + (c - '0');
    if (number > serial::kHighestPortIndex + 1) return false;
  }
  if (number < 1) return false;
  portIndex = number - 1;
  return true;
}

std::vector<PortItem> PortItems(const std::vector<serial::FoundPort>& found) {
  std::vector<PortItem> items;
  for (int i = 0; i < kPortCount; ++i) items.push_back({ComName(i), serial::PortDeviceName(i), i});
  for (const serial::FoundPort& port : found) {
    const int index = IndexOfFound(port);
    if (index >= 0 && index < kPortCount) continue;  // already in the list as its COM name
    items.push_back({ItemText(port), port.device, index});
  }
  // A device no index opens yet (a USB adapter on Linux) gets the lowest free one above COM4.
  int next = kPortCount;
  for (PortItem& item : items) {
    if (item.portIndex >= 0) continue;
    while (IndexUsed(items, next)) ++next;
    item.portIndex = next++;
  }
  std::erase_if(items,
                [](const PortItem& item) { return item.portIndex > serial::kHighestPortIndex; });
  return items;
}

int PortIndexOfDevice(const std::string& device) {
  for (int i = 0; i <= serial::kHighestPortIndex; ++i) {
    if (SameName(serial::PortDeviceName(i), device)) return i;
  }
  return -1;
}

int ItemOfPort(const std::vector<PortItem>& items, int portIndex) {
  const std::string device = serial::PortDeviceName(portIndex);
  int sameDevice = -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!SameName(items[i].device, device)) continue;
    if (items[i].portIndex == portIndex) return static_cast<int>(i);
    if (sameDevice < 0) sameDevice = static_cast<int>(i);
  }
  return sameDevice;
}

int ChoosePortItem(const PortItem& item) {
  return serial::HoldPortDevice(item.portIndex, item.device) ? item.portIndex : -1;
}

bool PortIndexForName(const std::string& name, const std::vector<serial::FoundPort>& found,
                      int& portIndex) {
  if (name.empty()) return false;
  if (PortIndexFromName(name, portIndex)) return true;
  if (LooksLikeComName(name)) return false;  // out of range: not a file to open
  std::string device = name;
  for (const serial::FoundPort& port : found) {
    const std::string byIdName = port.byId.substr(port.byId.find_last_of("/\\") + 1);
    if (name == port.byId || (!byIdName.empty() && name == byIdName)) device = port.device;
  }
  const int known = PortIndexOfDevice(device);
  if (known >= 0) {
    portIndex = known;
    return true;
  }
  if (!serial::HoldPortDevice(0, device)) return false;
  portIndex = 0;
  return true;
}

bool ChoosePortIn(const serial::PortSearch& where, const PortDialog& dialog, int& portIndex) {
  const std::vector<PortItem> items = PortItems(serial::FindPorts(where));
  int item = ItemOfPort(items, portIndex);
  if (!dialog(items, item)) return false;
  // OK with nothing selected (the port in use is gone) leaves the port as it was.
  if (item < 0 || item >= static_cast<int>(items.size())) return false;
  const int chosen = ChoosePortItem(items[static_cast<std::size_t>(item)]);
  if (chosen < 0) return false;
  portIndex = chosen;
  return true;
}

std::string PortAndDevice(int portIndex) {
  const std::string name = ComName(portIndex);
  const std::string device = serial::PortDeviceName(portIndex);
  return SameName(name, device) ? name : name + " is " + device;
}

std::string DescribeOpenFailure(int portIndex, int status, serial::OpenRefusal refusal) {
  std::string words = serial::OpenStatusText(status, refusal);
  // The program that holds it, when the system tells: a run still going on is waited for, a
  // stranger is closed.
  if (status == serial::kPortInUse && refusal == serial::OpenRefusal::kInUse) {
    const std::optional<process::DeviceHolder> holder =
        process::HolderOfDevice(serial::PortDeviceName(portIndex));
    if (holder) {
      words =
          "in use by " + holder->program + " (process " + std::to_string(holder->processId) + ")";
    }
  }
  return PortAndDevice(portIndex) + ": " + words + " (status " + std::to_string(status) + ")";
}

std::string DeviceOfPort(const std::string& name, const std::vector<serial::FoundPort>& found) {
  int index = 0;
  std::string device = name;
  if (PortIndexFromName(name, index)) device = serial::PortDeviceName(index);
  for (const serial::FoundPort& port : found) {
    const std::string byIdName = port.byId.substr(port.byId.find_last_of("/\\") + 1);
    if (name == port.byId || (!byIdName.empty() && name == byIdName)) device = port.device;
  }
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(device, error);
  return error ? device : canonical.string();
}

}  // namespace zephor::app
