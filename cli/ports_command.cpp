// ports: the serial ports of this computer, by the names the port argument takes.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/port_choice.h"
#include "cli/commands.h"
#include "serial/port_discovery.h"

namespace zephor::cli {
namespace {

using json = nlohmann::ordered_json;

// Between the fields of a line.
constexpr char kGap[] = "  ";
constexpr int kJsonIndent = 2;

// The COM name that opens the port, when an index opens it; empty otherwise.
std::string ComNameOf(const serial::FoundPort& port) {
  const int index = app::PortIndexOfDevice(port.device);
  return index < 0 ? std::string() : "COM" + std::to_string(index + 1);
}

// "COM5  /dev/ttyS4  Serial port (16550A)", or for an adapter
// "/dev/ttyUSB0  FTDI FT232R USB UART  0403:6001  serial A1B2  /dev/serial/by-id/usb-...".
std::string PortLine(const serial::FoundPort& port) {
  std::vector<std::string> fields;
  const std::string com = ComNameOf(port);
  if (!com.empty() && com != port.device) fields.push_back(com);
  fields.push_back(port.device);
  if (!port.description.empty()) fields.push_back(port.description);
  if (!port.vendorId.empty()) fields.push_back(port.vendorId + ":" + port.productId);
  if (!port.serialNumber.empty()) fields.push_back("serial " + port.serialNumber);
  if (!port.byId.empty()) fields.push_back(port.byId);
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : kGap) + field;
  return line;
}

json PortObject(const serial::FoundPort& port) {
  const std::string com = ComNameOf(port);
  return {{"port", com.empty() ? json(nullptr) : json(com)},
          {"device", port.device},
          {"description", port.description},
          {"byId", port.byId},
          {"manufacturer", port.manufacturer},
          {"product", port.product},
          {"serialNumber", port.serialNumber},
          {"vendorId", port.vendorId},
          {"productId", port.productId}};
}

int ListPorts(bool asJson) {
  const std::vector<serial::FoundPort> found = serial::FindPorts();
  if (asJson) {
    json list = json::array();
    for (const serial::FoundPort& port : found) list.push_back(PortObject(port));
    // A device string that is not UTF-8 is shown with replacement characters, never refused.
    std::cout << list.dump(kJsonIndent, ' ', false, json::error_handler_t::replace) << "\n";
    return EXIT_SUCCESS;
  }
  if (found.empty()) std::cerr << "no serial ports found\n";
  for (const serial::FoundPort& port : found) std::cout << PortLine(port) << "\n";
  return EXIT_SUCCESS;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& exitCode) {
  auto asJson = std::make_shared<bool>(false);
  CLI::App* ports = app.add_subcommand(
      "ports", "List the serial ports found: the COM name or device, description and by-id name");
  ports->add_flag("--json", *asJson, "A JSON array of objects, one a port");
  ports->callback([&exitCode, asJson] { exitCode = ListPorts(*asJson); });
}

}  // namespace zephor::cli
