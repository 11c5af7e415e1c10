// A sysfs and /dev tree in a temporary folder, laid out as Linux lays out its serial devices, so
// that port discovery runs without the machine's own.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/port_discovery.h"
#include "temp_dir.h"

namespace zephor::e2e {

class FakeSysfs {
 public:
  FakeSysfs() {
    std::filesystem::create_directories(root_ / "sys" / "class" / "tty");
    std::filesystem::create_directories(root_ / "dev" / "serial" / "by-id");
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  serial::PortSearch search() const { return {(root_ / "sys").string(), (root_ / "dev").string()}; }
  std::string DevPath(const std::string& name) const { return (root_ / "dev" / name).string(); }

  struct Usb {
    std::string manufacturer, product, serial, vendorId, productId;
    std::string byId;  // the by-id link's name; none when empty
    bool acm = false;  // a CDC-ACM tty hangs off the interface itself, a usb-serial one below it
  };
  // A USB adapter numbered bus, with its tty, the strings of its device and its by-id link.
  void AddUsb(const std::string& tty, int bus, const Usb& usb) {
    const auto device = root_ / "sys" / "devices" / "pci0000:00" / ("usb" + std::to_string(bus)) /
                        (std::to_string(bus) + "-1");
    const auto interface = device / (std::to_string(bus) + "-1:1.0");
    const auto port = usb.acm ? interface : interface / tty;
    std::filesystem::create_directories(port);
    Attribute(device / "manufacturer", usb.manufacturer);
    Attribute(device / "product", usb.product);
    Attribute(device / "serial", usb.serial);
    Attribute(device / "idVendor", usb.vendorId);
    Attribute(device / "idProduct", usb.productId);
    ClassEntry(tty, port);
    if (!usb.byId.empty()) {
      std::filesystem::create_symlink("../../" + tty,
                                      root_ / "dev" / "serial" / "by-id" / usb.byId);
    }
  }
  // A ttyS of the 8250 driver with its port type: "0" where no UART answered.
  void AddUart(const std::string& tty, const std::string& type) {
    const auto device = root_ / "sys" / "devices" / "platform" / "serial8250";
    std::filesystem::create_directories(device);
    ClassEntry(tty, device);
    Attribute(root_ / "sys" / "class" / "tty" / tty / "type", type);
  }
  // A virtual console: a tty with no device behind it.
  void AddConsole(const std::string& tty) {
    std::filesystem::create_directories(root_ / "sys" / "class" / "tty" / tty);
  }

 private:
  static void Attribute(const std::filesystem::path& file, const std::string& value) {
    std::ofstream(file) << value << "\n";
  }
  void ClassEntry(const std::string& tty, const std::filesystem::path& device) {
    const auto entry = root_ / "sys" / "class" / "tty" / tty;
    std::filesystem::create_directories(entry);
    std::filesystem::create_symlink(device, entry / "device");
  }

  const support::TempDir scratch_;
  const std::filesystem::path root_ = scratch_.path();
};

}  // namespace zephor::e2e
