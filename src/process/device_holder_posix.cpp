// The serial driver locks the device it opens (flock); /proc/locks lists each lock with its
// process and the device and inode of the file it is on, and /proc/PID/comm names the process.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "process/device_holder.h"

namespace zephor::process {
namespace {

// "00:1a:123": the file system's device (major and minor in hexadecimal) and the inode.
bool SameFile(const std::string& where, const struct stat& file) {
  unsigned systemMajor = 0, systemMinor = 0;
  unsigned long inode = 0;
  char colon1 = 0, colon2 = 0;
  std::istringstream in(where);
  in >> std::hex >> systemMajor >> colon1 >> systemMinor >> colon2 >> std::dec >> inode;
  return in && colon1 == ':' && colon2 == ':' && systemMajor == major(file.st_dev) &&
         systemMinor == minor(file.st_dev) && inode == file.st_ino;
}

}  // namespace

std::optional<DeviceHolder> HolderOfDevice(const std::string& device) {
  struct stat file {};
  if (stat(device.c_str(), &file) != 0) return std::nullopt;
  // "1: FLOCK  ADVISORY  WRITE 4242 00:1a:123 0 EOF"; a waiting lock's line starts "1: ->".
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK") continue;
    if (pid <= 0 || !SameFile(where, file)) continue;
    DeviceHolder holder{pid, {}};
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, holder.program);
    if (holder.program.empty()) holder.program = "another program";
    return holder;
  }
  return std::nullopt;
}

}  // namespace zephor::process
