// Which program holds a device open, to say who has a port that is refused as in use.
#pragma once

#include <optional>
#include <string>

namespace zephor::process {

struct DeviceHolder {
  long processId = 0;
  std::string program;  // its name as the system lists it ("zephor")
};

// The process that holds the device's lock (what the serial driver takes at open); nothing when
// none does or the system does not tell (Windows, another user's process).
std::optional<DeviceHolder> HolderOfDevice(const std::string& device);

}  // namespace zephor::process
