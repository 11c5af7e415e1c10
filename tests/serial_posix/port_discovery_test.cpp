// Port discovery on a fake sysfs tree: adapters with their USB strings and by-id names, UARTs
// only where one answered, nothing without a device behind it.
#include "serial/port_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_sysfs.h"

namespace zephor::serial {
namespace {

constexpr char kFtdiById[] = "usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";

TEST(PortDiscoveryTest, FindsAdaptersAndPresentUartsInNameOrder) {
  e2e::FakeSysfs tree;
  tree.AddUsb("ttyUSB0", 1, {"FTDI", "FT232R USB UART", "A9XYZ", "0403", "6001", kFtdiById});
  tree.AddUsb("ttyACM0", 2, {"", "Pico", "E660", "2e8a", "000a", "", true});
  tree.AddUart("ttyS0", "4");
  tree.AddUart("ttyS1", "0");  // the driver's placeholder: no UART there
  tree.AddUart("ttyS10", "4");
  tree.AddConsole("tty0");

  struct Expected {
    const char* tty;
    const char* description;
    bool byId;
    const char* manufacturer;
    const char* product;
    const char* serialNumber;
    const char* vendorId;
    const char* productId;
  };
  const Expected expected[] = {
      {"ttyACM0", "Pico", false, "", "Pico", "E660", "2e8a", "000a"},
      {"ttyS0", "Serial port (16550A)", false, "", "", "", "", ""},
      {"ttyS10", "Serial port (16550A)", false, "", "", "", "", ""},
      {"ttyUSB0", "FTDI FT232R USB UART", true, "FTDI", "FT232R USB UART", "A9XYZ", "0403", "6001"},
  };
  const std::vector<FoundPort> found = FindPorts(tree.search());
  ASSERT_EQ(found.size(), std::size(expected));
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Expected& e = expected[i];
    const FoundPort& f = found[i];
    SCOPED_TRACE(e.tty);
    EXPECT_EQ(f.device, tree.DevPath(e.tty));
    EXPECT_EQ(f.description, e.description);
    EXPECT_EQ(f.byId, e.byId ? tree.DevPath(std::string("serial/by-id/") + kFtdiById) : "");
    EXPECT_EQ(f.manufacturer, e.manufacturer);
    EXPECT_EQ(f.product, e.product);
    EXPECT_EQ(f.serialNumber, e.serialNumber);
    EXPECT_EQ(f.vendorId, e.vendorId);
    EXPECT_EQ(f.productId, e.productId);
  }
}

TEST(PortDiscoveryTest, NoTreeFindsNothing) {
  EXPECT_TRUE(FindPorts({"/nonexistent/zephor-sys", "/nonexistent/zephor-dev"}).empty());
}

}  // namespace
}  // namespace zephor::serial
