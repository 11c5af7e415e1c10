// Fuzz target for the system report parser: arbitrary bytes with a length taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/system_info_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose how much of the rest the parser is told it may search.
  const std::size_t told = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (size - 1);
  const std::size_t rest = size - 2;
  std::unique_ptr<char[]> exact(new char[rest + 1]);
  std::memcpy(exact.get(), data + 2, rest);
  zephor::device::DeviceInfo info;
  zephor::device::ParseSystemInfo(exact.get(), static_cast<int>(told > rest ? rest : told), info);
  if (info.grade.size() > 2) std::abort();
  return 0;
}
