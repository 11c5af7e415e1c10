// Windows tells no program which process holds a COM port open.
#include "process/device_holder.h"

namespace zephor::process {

std::optional<DeviceHolder> HolderOfDevice(const std::string&) { return std::nullopt; }

}  // namespace zephor::process
