// SendFile of a 256 000-byte image into the simulated instrument's receiver on a line paced at
// 9600 baud in virtual time, against the XMODEM-128 limit: 128 data bytes per 133-byte block
// and its one-byte ACK.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>
#include <vector>

#include "serial/memory_line.h"
#include "sim/xmodem_block_receiver.h"
#include "transfer/xmodem.h"

namespace {

constexpr std::size_t kImageBytes = 256000;
constexpr long kBaud = 9600;
constexpr double kBitsPerByte = 10.0;  // start, eight data, stop
constexpr double kBlockData = 128.0;
constexpr double kBlockWithAck = 133.0 + 1.0;
constexpr double kTargetPercent = 95.0;
// The instrument's ACK takes one byte time on its way back.
constexpr std::uint32_t kAckLineMs = 2;

}  // namespace

int main() {
  using namespace zephor;
  const auto dir = std::filesystem::temp_directory_path() / "zephor_bench_efficiency";
  std::filesystem::create_directories(dir);
  const auto file = dir / "main.bin";
  std::vector<std::uint8_t> image(kImageBytes);
  std::mt19937 random(1);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(kImageBytes));

  serial::MemoryLine line;
  line.txBaud = kBaud;
  serial::MemoryPortFactory factory;
  factory.AddLine(0, &line);
  serial::VirtualTiming timing;
  serial::PortHandle port(serial::OpenPort({&factory, &timing}, 0, kBaud, 'N', 8, 1));

  sim::XmodemBlockReceiver receiver;
  sim::Outbox out;
  std::deque<std::pair<std::uint32_t, std::uint8_t>> back;  // release time, byte
  timing.Attach(&line, [&](std::uint32_t now, serial::MemoryLine& l) {
    while (!l.toPeer.empty()) {
      receiver.Receive(l.toPeer.front(), now, out);
      l.toPeer.pop_front();
    }
    receiver.Tick(now, out);
    for (std::uint8_t b : out) back.emplace_back(now + kAckLineMs, b);
    out.clear();
    while (!back.empty() && back.front().first <= now) {
      l.toHost.push_back(back.front().second);
      back.pop_front();
    }
  });
  receiver.Start(timing.now(), out);

  const std::uint32_t start = timing.now();
  const int rc = transfer::SendFile(*port, file.string());
  const double seconds = (timing.now() - start) / 1000.0;
  std::filesystem::remove_all(dir);

  const double lineBytesPerSecond = kBaud / kBitsPerByte;
  const double limit = lineBytesPerSecond * kBlockData / kBlockWithAck;
  const double achieved = kImageBytes / seconds;
  const double percent = 100.0 * achieved / limit;
  const bool copied = receiver.data().size() >= kImageBytes &&
                      std::equal(image.begin(), image.end(), receiver.data().begin());
  std::printf(
      "SendFile %zu bytes at %ld baud (virtual time, line paced at ten bits a byte): result %d, "
      "copy %s, %.1f s, %.1f bytes/s; XMODEM-128 limit %.1f bytes/s; %.2f %% of it (target >= "
      "%.0f %%)\n",
      kImageBytes, kBaud, rc, copied ? "identical" : "DIFFERENT", seconds, achieved, limit, percent,
      kTargetPercent);
  return rc == 1 && copied && percent >= kTargetPercent ? 0 : 2;
}
