// A set of small image files, each filled with its own letter so that a loader can tell which one
// it received, with optional version and build stamps; and filler bytes with text placed in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace zephor::update::script {

struct ImageSpec {
  const char* name;
  std::size_t size;
  char filler;  // neither 'V' nor 'B', so no stamp marker starts by chance
};

inline constexpr ImageSpec kBootSpec{"boot.bin", 300, 'b'};
inline constexpr ImageSpec kUpdateSpec{"update.bin", 420, 'u'};
inline constexpr ImageSpec kNewBootSpec{"newboot.bin", 260, 'n'};
inline constexpr ImageSpec kSpecialMainSpec{"main1p29.bin", 200, 's'};
inline constexpr ImageSpec kMainSpec{"main.bin", 700, 'm'};

// The instrument's loader tells the special main from the newboot by this stamp.
inline constexpr const char* kSpecialMainStamp = "1.29";

// Stamps as the text after the marker; empty leaves the image unstamped.
struct ImageStamps {
  std::string boot;
  std::string update;
  std::string main;
  std::string build;
};

inline std::vector<std::uint8_t> ImageBytes(const ImageSpec& spec, const std::string& version,
                                            const std::string& build = {}) {
  std::vector<std::uint8_t> bytes(spec.size, static_cast<std::uint8_t>(spec.filler));
  std::size_t at = 16;
  auto place = [&](const std::string& marker, const std::string& value) {
    std::string text = marker + value;
    text.resize(marker.size() + 5, ' ');
    for (char c : text) bytes.at(at++) = static_cast<std::uint8_t>(c);
    at += 8;
  };
  if (!version.empty()) place("Version xx", version);
  if (!build.empty()) place("Build xx", build);
  return bytes;
}

// Writes all five images and returns them in load order: newboot, boot, update, special, main.
inline std::vector<std::vector<std::uint8_t>> WriteImageSet(const TempDir& dir,
                                                            const ImageStamps& stamps) {
  std::vector<std::vector<std::uint8_t>> images{
      ImageBytes(kNewBootSpec, {}), ImageBytes(kBootSpec, stamps.boot),
      ImageBytes(kUpdateSpec, stamps.update), ImageBytes(kSpecialMainSpec, kSpecialMainStamp),
      ImageBytes(kMainSpec, stamps.main, stamps.build)};
  const ImageSpec* specs[] = {&kNewBootSpec, &kBootSpec, &kUpdateSpec, &kSpecialMainSpec,
                              &kMainSpec};
  for (std::size_t i = 0; i < images.size(); ++i) dir.Write(specs[i]->name, images[i]);
  return images;
}

}  // namespace zephor::update::script

namespace zephor::update {

// Filler bytes that hold neither 'V' nor 'B', with text placed at an offset.
inline std::vector<std::uint8_t> Filler(std::size_t size) {
  return std::vector<std::uint8_t>(size, 'x');
}

inline void Place(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    bytes.at(at + i) = static_cast<std::uint8_t>(text[i]);
}

}  // namespace zephor::update
