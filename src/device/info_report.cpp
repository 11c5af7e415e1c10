// Info reports: what the identification found, printed line by line into the activity log.
#include "device/info_report.h"

#include <cstdio>
#include <string>

#include "device/command_link.h"
#include "device/identify.h"

namespace zephor::device {

namespace {

constexpr int kLineSize = 128;

template <typename... Args>
void AppendFormatted(OperatorPanel& panel, const char* format, Args... args) {
  char line[kLineSize];
  std::snprintf(line, sizeof line, format, args...);
  panel.AppendLog(line);
}

}  // namespace

void ShowSystemInfo(Station& station, const DeviceInfo& info) {
  OperatorPanel& panel = *station.panel;
  panel.AppendLog("\t------------------------------\r\n");
  panel.AppendLog("\t----  System info  ----\r\n");
  panel.AppendLog("\t------------------------------\r\n");
  panel.AppendLog("\t----  Software info  ----\r\n");
  AppendFormatted(panel, "\tBoot version\t: %2.1f\r\n", static_cast<double>(info.bootVersion));
  AppendFormatted(panel, "\tUpdate version\t: %2.1f\r\n", static_cast<double>(info.updateVersion));
  AppendFormatted(panel, "\tMain version\t: %2.2f\r\n", static_cast<double>(info.mainVersion));
  AppendFormatted(panel, "\tBuild\t\t: %i\r\n", static_cast<int>(info.build));
  AppendFormatted(panel, "\tGrade\t\t: %2s\r\n", info.grade.c_str());
  panel.AppendLog("\t----  Hardware info  ----\r\n");
  AppendFormatted(panel, "\tIssue card\t: %i\r\n", static_cast<int>(info.cardIssue));
  AppendFormatted(panel, "\tNumber equipment\t: %li\r\n", static_cast<long>(info.equipmentNumber));
  AppendFormatted(panel, "\tNumber card\t: %li\r\n", static_cast<long>(info.cardNumber));
  panel.SetProgress(kProgressDone);
}

void ShowNoInfo(Station& station) {
  OperatorPanel& panel = *station.panel;
  panel.AppendLog("\t--------------------------------------\r\n");
  panel.AppendLog("\t----  No info available ----\r\n");
  panel.AppendLog("\t--------------------------------------\r\n");
  panel.AppendLog("\t" + station.statusText + " \r\n");
}

void OnInfo(Station& station) {
  station.panel->SetProgress(kProgressIdle);
  DeviceInfo info;
  if (!Identify(station, info)) {
    ShowNoInfo(station);
    return;
  }
  if (station.statusText != kStatusOk) {
    ShowNoInfo(station);
  } else {
    station.panel->SetProgress(kProgressIdentified);
    ShowSystemInfo(station, info);
    station.panel->SetProgress(kProgressDone);
  }
  ShortPause();
  station.panel->SetProgress(kProgressIdle);
}

}  // namespace zephor::device
