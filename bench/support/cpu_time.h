// Processor time of this process and of the children it has reaped, in seconds.
#pragma once

#include <sys/resource.h>

namespace zephor::bench {

inline double Seconds(const rusage& usage) {
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User and system time of this process so far.
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage);
}

// User and system time of every child reaped so far, with the children they reaped in turn: a
// child still running (a simulator) is not in it yet.
inline double ReapedChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return Seconds(usage);
}

}  // namespace zephor::bench
