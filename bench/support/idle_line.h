// What the idle benchmarks share: the process's CPU time, and a silent pseudo-terminal as COM1.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cpu_time.h"

namespace zephor::bench {

// Opens a pseudo-terminal nobody writes to and makes its slave COM1; the master descriptor, or
// -1 after a message.
inline int OpenSilentCom1() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  const char* slave = nullptr;
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      (slave = ptsname(master)) == nullptr) {
    std::perror("pseudo-terminal");
    return -1;
  }
  setenv("ZEPHOR_COM1", slave, 1);
  return master;
}

}  // namespace zephor::bench
