// The readable survey report "_Quarvel.txt".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

#include "database/record_walk.h"
#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::database {

// Writes one section per survey and shows where the report is. Of the instrument's identity
// it prints equipmentNumber after "NE" and it prints the A column from build 224 on. False when the
// file could not be created or written.
bool WriteSurveyReport(device::Station& station, std::span<const std::uint8_t> database,
                       const device::DeviceInfo& info, const std::filesystem::path& directory = {});

// The records the report reads, in order: up to the end-of-data byte, or up to and including the
// first survey not stopped. That survey was still running when the memory was read and its count
// is not written yet, so nothing behind it can be read: the data ends there (kEndOfData).
WalkEnd WalkReportRecords(std::span<const std::uint8_t> database,
                          const std::function<bool(const Record&)>& visit);

}  // namespace zephor::database
