// Runs the system report parser over seeded random reports under the address and undefined
// behaviour sanitizers: every input lies in a buffer of exactly its length.
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "device/system_info_parser.h"

namespace {

constexpr int kRounds = 20000;
constexpr int kMaxLength = 400;
constexpr unsigned kSeed = 20240611;

const std::vector<std::string> kPieces = {"ZEPHOR - ",
                                          "ISSUE: ",
                                          "PCB: ",
                                          "MAIN Version         : V",
                                          "BOOT Version         : V",
                                          "UPDATE Version       : V",
                                          "Build                : ",
                                          "1.40",
                                          "12 ",
                                          "0x",
                                          "08",
                                          "QH",
                                          " Q",
                                          "A12345678",
                                          "-",
                                          "+",
                                          "inf",
                                          "nan",
                                          "1e99",
                                          "99999999999",
                                          "\r\n",
                                          " "};

}  // namespace

int main() {
  std::mt19937 random(kSeed);
  std::uniform_int_distribution<int> lengthOf(0, kMaxLength);
  std::uniform_int_distribution<int> byteOf(0, 255);
  std::uniform_int_distribution<std::size_t> pieceOf(0, kPieces.size() - 1);
  std::uniform_int_distribution<int> choice(0, 3);
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    const int length = lengthOf(random);
    std::string text;
    while (static_cast<int>(text.size()) < length) {
      if (choice(random) == 0) {
        text.push_back(static_cast<char>(byteOf(random)));
      } else {
        text += kPieces[pieceOf(random)];
      }
    }
    text.resize(static_cast<std::size_t>(length));
    // An exact-size heap copy, so any read past its end is caught.
    std::unique_ptr<char[]> exact(new char[static_cast<std::size_t>(length) + (length == 0)]);
    std::memcpy(exact.get(), text.data(), static_cast<std::size_t>(length));
    zephor::device::DeviceInfo info;
    zephor::device::ParseSystemInfo(exact.get(), length, info);
    if (info.grade.size() > 2) {
      std::fprintf(stderr, "round %d: grade of %zu letters\n", round, info.grade.size());
      ++failures;
    }
  }
  std::printf("%d rounds, %d failures\n", kRounds, failures);
  return failures == 0 ? 0 : 1;
}
