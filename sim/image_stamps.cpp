// A stamp is the marker and five bytes of decimal text; blanks lead, a NUL or a non-digit ends it.
#include "sim/image_stamps.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zephor::sim {
namespace {

constexpr std::size_t kStampTextSize = 5;

// Takes what a "%f" conversion would read from the five stamp bytes.
std::string NumberText(const std::uint8_t* text, std::size_t size) {
  std::string raw(reinterpret_cast<const char*>(text), size);
  raw = raw.substr(0, raw.find('\0'));
  const std::size_t start = raw.find_first_not_of(" \t\r\n\v\f");
  if (start == std::string::npos) return {};
  char* end = nullptr;
  const std::string tail = raw.substr(start);
  const double value = std::strtod(tail.c_str(), &end);
  if (value == 0) return {};
  return tail.substr(0, static_cast<std::size_t>(end - tail.c_str()));
}

}  // namespace

std::string ReadStampText(const std::vector<std::uint8_t>& image, const char* marker,
                          std::size_t stopMargin) {
  const std::size_t markerSize = std::strlen(marker);
  const std::size_t length = image.size();
  std::size_t p = 0;
  while (true) {
    const auto found = std::find(image.begin() + static_cast<long>(p), image.end(),
                                 static_cast<std::uint8_t>(marker[0]));
    if (found == image.end()) return {};
    const auto at = static_cast<std::size_t>(found - image.begin());
    if (length - at >= markerSize && std::memcmp(image.data() + at, marker, markerSize) == 0) {
      const std::size_t textAt = at + markerSize;
      return NumberText(image.data() + textAt, std::min(kStampTextSize, length - textAt));
    }
    p = at + 1;
    // The first candidate is always tried; later ones only before the margin.
    if (length <= stopMargin || p >= length - stopMargin) return {};
  }
}

}  // namespace zephor::sim
