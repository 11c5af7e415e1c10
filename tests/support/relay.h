// Copies bytes both ways between a pseudo-terminal master and lrzsz's socket: lrzsz's flushes
// on a socket fail harmlessly instead of discarding bytes the other side has not read.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

namespace zephor::transfer {

class Relay {
 public:
  Relay(int master, int sock);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

 private:
  void Run();

  int master_;
  int sock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zephor::transfer
