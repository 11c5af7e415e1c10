// A wait for the instrument that the view may count down: the loader's letter, READY, the
// conversion line.
#pragma once

#include <string>

#include "device/operator_panel.h"

namespace zephor::device {

// Tells the panel, for this scope, that the operation waits at most limitMs for subject.
class AnnouncedWait {
 public:
  AnnouncedWait(Station& station, std::string subject, int limitMs);
  ~AnnouncedWait();
  AnnouncedWait(const AnnouncedWait&) = delete;
  AnnouncedWait& operator=(const AnnouncedWait&) = delete;

 private:
  Station& station_;
  std::string subject_;
};

// The tick counter of the station's waits, 0 without one.
std::uint32_t StationTick(const Station& station);

}  // namespace zephor::device
