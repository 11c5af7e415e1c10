// How far a whole run has come, in per cent, from the transfers it planned: each counts by its
// length, since at the line's fixed rate that is the time it takes. A length known only when its
// transfer begins (the memory, the conversion) counts as the mean of the known ones until then.
// The per cent never goes back and stays below 100 until the run ends.
#pragma once

#include <string>
#include <vector>

#include "device/progress_event.h"

namespace zephor::app {

inline constexpr int kNoRunPercent = -1;

class RunProgress {
 public:
  void Take(const device::ProgressEvent& event);
  void Reset() { *this = RunProgress(); }
  // kNoRunPercent while nothing is planned.
  int percent() const { return shown_; }

 private:
  struct Planned {
    std::string subject;
    long bytes = 0;  // 0: not known yet
    long moved = 0;
    bool started = false;
    bool done = false;
  };
  void Update();

  std::vector<Planned> planned_;
  std::size_t running_ = 0;  // index into planned_ of the transfer moving, when it is planned
  bool inPlanned_ = false;
  int shown_ = kNoRunPercent;
};

}  // namespace zephor::app
