// What zephor info --json prints, and the fleet's reading of it: one JSON object with the port,
// the device it opened, the identification's outcome and, when an instrument answered, what it
// told of itself. Written and read here alone, so that the two cannot drift apart.
#pragma once

#include <optional>
#include <string>

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::app {

struct InfoAnswer {
  std::string port;    // as the technician named it
  std::string device;  // the device that name opened
  std::string status;  // the identification's outcome ("OK", "No BOOT program", ...)
  // What the instrument told of itself; only after an "OK", and never without its number.
  std::optional<device::DeviceInfo> info;
};

// The object as zephor info --json prints it: indented, versions with the instrument's two
// decimals.
std::string WriteInfoJson(const InfoAnswer& answer);

// The instrument on the station's port identified, as zephor info --json tells it. answered: an
// instrument or its loader answered; info then holds what it told.
InfoAnswer IdentifyAnswer(device::Station& station, const std::string& portName,
                          device::DeviceInfo& info, bool& answered);

// What another program printed, read back: a field that is missing or of another type stays
// empty, and text that is no JSON object reads as no answer at all.
InfoAnswer ReadInfoJson(const std::string& text);

}  // namespace zephor::app
