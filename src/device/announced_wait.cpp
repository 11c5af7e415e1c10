#include "device/announced_wait.h"

#include <utility>

namespace zephor::device {

std::uint32_t StationTick(const Station& station) {
  return station.ports.timing != nullptr ? station.ports.timing->TickMs() : 0;
}

AnnouncedWait::AnnouncedWait(Station& station, std::string subject, int limitMs)
    : station_(station), subject_(std::move(subject)) {
  if (station_.panel == nullptr) return;
  ProgressEvent event;
  event.kind = ProgressKind::kWaitStart;
  event.subject = subject_;
  event.limitMs = limitMs > 0 ? static_cast<std::uint32_t>(limitMs) : 0;
  event.tickMs = StationTick(station_);
  station_.panel->ReportProgress(event);
}

AnnouncedWait::~AnnouncedWait() {
  if (station_.panel == nullptr) return;
  ProgressEvent event;
  event.kind = ProgressKind::kWaitEnd;
  event.subject = subject_;
  event.tickMs = StationTick(station_);
  station_.panel->ReportProgress(event);
}

}  // namespace zephor::device
