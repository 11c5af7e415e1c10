// How far a whole run has come, in per cent, from the transfers it planned: each counts by its
// length, since at the line's fixed rate that is the time it takes. A length known only when its
// transfer begins (the memory, the conversion) counts as the longest one known until then; when
// it becomes known, what is left of the bar is spread anew over what is left to move, so the
// per cent neither jumps nor goes back. It stays below 100 until the run ends.
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
  // The share reached, 0 to 1, and where the last spreading began: the share and the bytes
  // moved then, and the total it spread over.
  double share_ = 0;
  double baseShare_ = 0;
  double baseMoved_ = 0;
  double total_ = 0;
  int shown_ = kNoRunPercent;
};

}  // namespace zephor::app
