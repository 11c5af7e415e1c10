// Identification: catch a waiting loader, unlock, ask "system" and read the report.
#pragma once

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::device {

inline constexpr int kLoaderLetterLimitMs = 1000;
inline constexpr int kSystemReportSize = 350;
inline constexpr int kSystemReportLimitMs = 500;
inline constexpr int kSystemReportBufferSize = 500;
inline constexpr int kSystemTailSize = 15;
inline constexpr int kSystemTailLimitMs = 1000;

inline constexpr char kStatusOk[] = "OK";
inline constexpr char kStatusNoBoot[] = "No BOOT program";
inline constexpr char kStatusNoUpdate[] = "No UPDATE program";
inline constexpr char kStatusNoMain[] = "No MAIN program";

// Empties the log first. False when no instrument answered the unlock; true otherwise, with
// info filled when station.statusText is "OK" and untouched after a loader letter.
bool Identify(Station& station, DeviceInfo& info);

}  // namespace zephor::device
