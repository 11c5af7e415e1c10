// The version and build stamps that a loaded image carries, read the way the image files are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zephor::sim {

inline constexpr char kVersionMarker[] = "Version xx";
inline constexpr char kBuildMarker[] = "Build xx";
// How close to the end a candidate marker may start before the scan stops.
inline constexpr std::size_t kProgramVersionMargin = 2500;
inline constexpr std::size_t kMainVersionMargin = 2000;
inline constexpr std::size_t kMainBuildMargin = 100;

// The number after marker as text ("1.40", "7"), or empty when there is no stamp or it reads as 0.
std::string ReadStampText(const std::vector<std::uint8_t>& image, const char* marker,
                          std::size_t stopMargin);

}  // namespace zephor::sim
