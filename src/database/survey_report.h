// The readable survey report "_Quarvel.txt".
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::database {

// Writes one section per survey and shows where the report is. Of the instrument's identity
// it prints equipmentNumber after "NE" and it prints the A column from build 224 on. False when the
// file could not be created or written.
bool WriteSurveyReport(device::Station& station, std::span<const std::uint8_t> database,
                       const device::DeviceInfo& info, const std::filesystem::path& directory = {});

}  // namespace zephor::database
