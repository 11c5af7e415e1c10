// A scripted instrument loader on a memory line: takes the banner, sends its letter, takes and
// answers the image header and receives the file by XMODEM with CRC blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/memory_line.h"

namespace zephor::update::script {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::size_t kBlockFrame = 133;  // SOH, number, complement, 128 bytes, CRC high and low

// The instrument's loader: takes the banner, sends its letter, takes the header, answers it and
// receives the file by XMODEM with CRC blocks.
struct Loader {
  std::size_t bannerSize = 0;
  int letter = 'B';
  std::size_t headerSize = 23;
  std::uint8_t headerReply = kAck;
  bool receive = true;
  std::string afterEot;

  enum class Phase { kBanner, kHeader, kStart, kBlocks, kDone } phase = Phase::kBanner;
  std::vector<std::uint8_t> inbox;
  std::vector<std::uint8_t> banner;
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> data;
  std::uint32_t eotAt = 0;

  void Step(std::uint32_t now, serial::MemoryLine& line) {
    inbox.insert(inbox.end(), line.toPeer.begin(), line.toPeer.end());
    line.toPeer.clear();
    switch (phase) {
      case Phase::kBanner:
        if (inbox.size() < bannerSize) return;
        banner.assign(inbox.begin(), inbox.begin() + static_cast<long>(bannerSize));
        inbox.erase(inbox.begin(), inbox.begin() + static_cast<long>(bannerSize));
        line.PeerSend({static_cast<std::uint8_t>(letter)});
        phase = Phase::kHeader;
        return;
      case Phase::kHeader:
        if (inbox.size() < headerSize) return;
        header.assign(inbox.begin(), inbox.begin() + static_cast<long>(headerSize));
        inbox.erase(inbox.begin(), inbox.begin() + static_cast<long>(headerSize));
        line.PeerSend({headerReply});
        phase = (headerReply == kAck) ? Phase::kStart : Phase::kDone;
        return;
      case Phase::kStart:
        if (receive) {
          line.PeerSend({'C'});
          phase = Phase::kBlocks;
        }
        return;
      case Phase::kBlocks:
        if (!inbox.empty() && inbox[0] == kEot) {
          inbox.erase(inbox.begin());
          line.PeerSend({kAck});
          eotAt = now;
          phase = Phase::kDone;
        } else if (inbox.size() >= kBlockFrame && inbox[0] == kSoh) {
          data.insert(data.end(), inbox.begin() + 3, inbox.begin() + 131);
          inbox.erase(inbox.begin(), inbox.begin() + kBlockFrame);
          line.PeerSend({kAck});
        }
        return;
      case Phase::kDone:
        if (!afterEot.empty() && now >= eotAt + 100) {
          line.PeerSend(std::vector<std::uint8_t>(afterEot.begin(), afterEot.end()));
          afterEot.clear();
        }
        return;
    }
  }
};

// Loaders as the instrument runs them for each image.
inline Loader BootLoader() { return Loader{}; }
inline Loader UpdateLoader() {
  Loader loader;
  loader.letter = 'U';
  return loader;
}
// newboot.bin, main1p29.bin and main.bin: banner first, letter S, short header.
inline Loader MainPathLoader(std::string afterEot = {}) {
  Loader loader;
  loader.bannerSize = 37;
  loader.letter = 'S';
  loader.headerSize = 19;
  loader.afterEot = std::move(afterEot);
  return loader;
}
inline constexpr const char* kConversionLine = "end dBase convertion\r\n";

}  // namespace zephor::update::script
