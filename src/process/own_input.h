// This program's own standard input, read line by line as the lines come and never waited on:
// the technician's answers to the fleet's questions while its runs go on.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zephor::process {

class OwnInput {
 public:
  OwnInput();
  ~OwnInput();
  OwnInput(const OwnInput&) = delete;
  OwnInput& operator=(const OwnInput&) = delete;

  // The complete lines that came since the last call, without their line ends; the rest when
  // the input ends.
  void Read(std::vector<std::string>& lines);
  bool atEnd() const;
  // A line, or the input's end, waits to be read.
  bool Ready();
  // A terminal, which shows what is typed as it is typed.
  bool echoed() const;

 private:
  struct System;
  std::unique_ptr<System> system_;
};

}  // namespace zephor::process
