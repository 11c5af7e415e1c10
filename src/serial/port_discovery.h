// The serial devices this computer has, and the device each port index opens. One implementation
// per system: sysfs on Linux, the registry on Windows.
#pragma once

#include <string>
#include <vector>

namespace zephor::serial {

// Port numbers go up to COM256, the highest a Windows system names.
inline constexpr int kHighestPortIndex = 255;

struct FoundPort {
  std::string device;       // what opens it: "/dev/ttyUSB0", or "COM5"
  std::string description;  // for a person choosing: product, friendly name or UART type
  std::string byId;  // the name that stays with the adapter ("/dev/serial/by-id/..."); may be empty
  // USB adapters only; empty otherwise. The ids are four hexadecimal digits each.
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  std::string vendorId;
  std::string productId;
};

// Where the system's tables are read. Linux reads sysfs and /dev (a test gives a fake tree);
// Windows reads its registry and ignores both.
struct PortSearch {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
};

// The serial devices present, in a stable order; nothing found is an empty list.
std::vector<FoundPort> FindPorts(const PortSearch& where = {});

// The device a port index opens: on Linux a path, on Windows "COM<index+1>".
std::string PortDeviceName(int portIndex);

// Makes the port index open device from now on, for this process only: nothing is stored.
// False when the system cannot name its ports that way (Windows: COMn is always index n-1).
bool HoldPortDevice(int portIndex, const std::string& device);

}  // namespace zephor::serial
