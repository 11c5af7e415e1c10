// The same file, the same kind of pseudo-terminal and the same receiver (lrzsz rx behind the
// relay): once sent by our SendFile, once by lrzsz's sx; the times as a ratio.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "lrzsz_session.h"
#include "process/child_process.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "transfer/xmodem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileBytes = 128 * 1024;
constexpr int kSenderWaitMs = 120000;
constexpr int kRuns = 5;

// The middle value; a failed run (negative) counts as failed throughout.
double Median(std::vector<double> values) {
  if (std::any_of(values.begin(), values.end(), [](double v) { return v <= 0; })) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool CopyIsWhole(const std::filesystem::path& path, const Bytes& data) {
  const Bytes got = ReadAll(path);
  return got.size() >= data.size() && std::equal(data.begin(), data.end(), got.begin());
}

// Seconds from starting rx until it has ended, the file sent by send(slavePath); < 0 on failure.
template <typename Send>
double TimeOneRun(const std::filesystem::path& dir, const Bytes& data, Send send) {
  std::filesystem::remove(dir / "got.bin");
  zephor::transfer::LrzszSession rx;
  const auto began = Clock::now();
  if (!rx.Start(zephor::transfer::kRx, {"-c", "got.bin"}, dir)) return -1;
  const bool sent = send(rx.slavePath());
  const int code = rx.Finish();
  const std::chrono::duration<double> took = Clock::now() - began;
  return sent && code == 0 && CopyIsWhole(dir / "got.bin", data) ? took.count() : -1;
}

}  // namespace

int main() {
  using namespace zephor;
  if (access(transfer::kRx, X_OK) != 0 || access(transfer::kSx, X_OK) != 0) {
    std::fprintf(stderr, "lrzsz's rx and sx are needed at %s and %s\n", transfer::kRx,
                 transfer::kSx);
    return 1;
  }
  const auto dir = std::filesystem::temp_directory_path() / "zephor_bench_lrzsz";
  std::filesystem::create_directories(dir);
  Bytes data(kFileBytes);
  std::mt19937 random(7);
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  std::ofstream(dir / "image.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

  const auto oursOnce = [&] {
    return TimeOneRun(dir, data, [&](const std::string& slave) {
      setenv("ZEPHOR_COM1", slave.c_str(), 1);
      serial::PosixPortFactory factory;
      serial::SystemTiming timing;
      serial::PortHandle port(serial::OpenPort({&factory, &timing}, 0, 9600, 'N', 8, 1));
      return port->status == serial::kOk &&
             transfer::SendFile(*port, (dir / "image.bin").string()) == 1;
    });
  };
  const auto theirsOnce = [&] {
    return TimeOneRun(dir, data, [&](const std::string& slave) {
      const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
      process::ChildProcess sx;
      std::string why;
      sx.Start(transfer::kSx, {"image.bin"}, process::ChildSetup::Lending(dir, fd, fd, -1), why);
      close(fd);
      return sx.Finish(kSenderWaitMs) == 0;
    });
  };
  // rx's input flushes now and then eat the start of a block, which costs one sender a retry:
  // the two senders take turns and the medians are compared.
  std::vector<double> oursRuns, theirsRuns;
  for (int run = 0; run < kRuns; ++run) {
    oursRuns.push_back(oursOnce());
    theirsRuns.push_back(theirsOnce());
  }
  const double ours = Median(oursRuns);
  const double theirs = Median(theirsRuns);
  std::filesystem::remove_all(dir);

  std::printf(
      "%zu bytes into rx -c over a pseudo-terminal, median of %d: SendFile %.3f s, sx %.3f s",
      kFileBytes, kRuns, ours, theirs);
  if (ours <= 0 || theirs <= 0) {
    std::printf(": a run failed\n");
    return 1;
  }
  std::printf("; sx time / SendFile time = %.2f (target >= 1.00)\n", theirs / ours);
  return theirs / ours >= 1.0 ? 0 : 2;
}
