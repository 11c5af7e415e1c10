// The Info reports in the activity log, and the Info button's handler.
#pragma once

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::device {

inline constexpr int kProgressIdle = 0;
inline constexpr int kProgressIdentified = 50;
inline constexpr int kProgressDone = 100;

// System, software and hardware information; ends with the bar at 100.
void ShowSystemInfo(Station& station, const DeviceInfo& info);
// The "No info available" frame and the current status text.
void ShowNoInfo(Station& station);
// Run by the Info button: identifies the instrument and reports what it found.
void OnInfo(Station& station);

}  // namespace zephor::device
