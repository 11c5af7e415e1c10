// An output stream whose bytes go to a file on a Disk, for writers that print (the line trace).
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "files/disk.h"

namespace zephor::files {

class DiskOutput final : public std::ostream {
 public:
  DiskOutput();
  ~DiskOutput() override;
  DiskOutput(const DiskOutput&) = delete;
  DiskOutput& operator=(const DiskOutput&) = delete;

  // Opens path on disk for output, made or emptied (Disk::OpenForOutput); false with why() set,
  // and the stream then fails.
  bool Open(Disk& disk, const std::filesystem::path& path);
  // Why the file could not be opened or the last bytes could not be written.
  const std::string& why() const { return buffer_.why; }

 private:
  // Holds what was printed until a flush or a full buffer sends it to the file.
  struct Buffer final : std::streambuf {
    Buffer();
    int_type overflow(int_type c) override;
    int sync() override;
    bool Send();

    static constexpr std::size_t kHeldBytes = 4096;
    std::unique_ptr<DiskFile> file;
    std::array<char, kHeldBytes> held{};
    std::string why;
  };
  Buffer buffer_;
};

}  // namespace zephor::files
