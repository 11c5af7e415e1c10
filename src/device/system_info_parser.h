// Reads the instrument's answer to "system" into a DeviceInfo.
#pragma once

#include "device/device_info.h"

namespace zephor::device {

// Fills info from the first length characters of text, stopping early at a zero byte. Nothing
// outside that range is read; a missing label or a value cut short leaves its field unchanged.
void ParseSystemInfo(const char* text, int length, DeviceInfo& info);

}  // namespace zephor::device
