// An output stream over a DiskFile: the bytes are held in a buffer and written on a flush.
#include "files/disk_output.h"

#include <cstdint>
#include <span>

namespace zephor::files {

DiskOutput::Buffer::Buffer() { setp(held.data(), held.data() + held.size()); }

bool DiskOutput::Buffer::Send() {
  const std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  setp(held.data(), held.data() + held.size());
  if (count == 0) return true;
  if (!file) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(held.data());
  return file->Write(std::span<const std::uint8_t>(bytes, count), why);
}

DiskOutput::Buffer::int_type DiskOutput::Buffer::overflow(int_type c) {
  if (!Send()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int DiskOutput::Buffer::sync() { return Send() ? 0 : -1; }

DiskOutput::DiskOutput() : std::ostream(nullptr) {
  rdbuf(&buffer_);
  setstate(std::ios::badbit);  // until a file is open
}

DiskOutput::~DiskOutput() {
  buffer_.Send();
  if (buffer_.file) buffer_.file->Close(buffer_.why);
}

bool DiskOutput::Open(Disk& disk, const std::filesystem::path& path) {
  buffer_.file = disk.OpenForOutput(path, buffer_.why);
  if (!buffer_.file) return false;
  clear();
  return true;
}

}  // namespace zephor::files
