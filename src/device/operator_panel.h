// The main window as the instrument operations see it: log, progress bar, message boxes, exit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "device/progress_event.h"
#include "files/disk.h"
#include "serial/serial_port.h"

namespace zephor::device {

enum class MessageButtons { kOk, kOkCancel };

class OperatorPanel {
 public:
  virtual ~OperatorPanel() = default;
  // Appends text unchanged; callers format whole lines ("\t...\r\n").
  virtual void AppendLog(std::string_view text) = 0;
  virtual void ClearLog() = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  // Returns true for OK.
  virtual bool ShowMessage(std::string_view text, MessageButtons buttons) = 0;
  // Ends the program with a code; the caller returns at once after it.
  virtual void ExitProgram(int code) = 0;
  // A transfer or a long wait moved on; a panel without a live view ignores it.
  virtual void ReportProgress(const ProgressEvent&) {}
};

// Passes everything on to another panel; a wrapper overrides only what it changes.
class PanelRelay : public OperatorPanel {
 public:
  explicit PanelRelay(OperatorPanel& inner) : inner_(inner) {}
  void AppendLog(std::string_view text) override { inner_.AppendLog(text); }
  void ClearLog() override { inner_.ClearLog(); }
  void SetProgress(int position) override { inner_.SetProgress(position); }
  void SetProgressRange(int low, int high) override { inner_.SetProgressRange(low, high); }
  bool ShowMessage(std::string_view text, MessageButtons buttons) override {
    return inner_.ShowMessage(text, buttons);
  }
  void ExitProgram(int code) override { inner_.ExitProgram(code); }
  void ReportProgress(const ProgressEvent& event) override { inner_.ReportProgress(event); }

 protected:
  OperatorPanel& inner_;
};

void LogSection(OperatorPanel& panel, std::string_view message);
void LogError(OperatorPanel& panel, std::string_view message);

// The state the operations share for the life of the program, and their surroundings.
struct Station {
  serial::PortEnvironment ports;
  OperatorPanel* panel = nullptr;
  int portIndex = 0;       // 0 is COM1
  std::string statusText;  // outcome of the last identification
  std::string grade;       // first two letters of the instrument's grade
  int downloadReply[3] = {0, 0, 0};
  // An image load or the database chain runs: stopping now leaves the instrument waiting for its
  // programs until Make Update finishes it, so closing the window asks first.
  bool loading = false;
  // The disk the run's files are on; the system's when none is set (see DiskOf).
  files::Disk* disk = nullptr;
};

// The disk every file operation of the station's run goes through.
inline files::Disk& DiskOf(const Station& station) {
  return station.disk != nullptr ? *station.disk : files::SystemDisk();
}

// The station keeps the first two letters of the instrument's grade; a later run and the database
// restore read them.
inline constexpr std::size_t kStoredGradeLetters = 2;
inline void StoreGrade(Station& station, const std::string& grade) {
  station.grade = grade.substr(0, kStoredGradeLetters);
}

// True once the operator closed the window or a signal came: every wait then ends at once.
inline bool StopRequested(const Station& station) {
  return station.ports.timing != nullptr && station.ports.timing->StopRequested();
}

// Marks the station as loading for one scope.
class LoadingScope {
 public:
  explicit LoadingScope(Station& station) : station_(station), was_(station.loading) {
    station_.loading = true;
  }
  ~LoadingScope() { station_.loading = was_; }
  LoadingScope(const LoadingScope&) = delete;
  LoadingScope& operator=(const LoadingScope&) = delete;

 private:
  Station& station_;
  bool was_;
};

}  // namespace zephor::device
