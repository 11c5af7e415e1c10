#include "device/transfer_progress.h"

#include <algorithm>
#include <filesystem>

#include "device/announced_wait.h"
#include "transfer/xmodem.h"

namespace zephor::device {
namespace {

ProgressEvent TransferEvent(const Station& station, ProgressKind kind, const std::string& path,
                            bool sending) {
  ProgressEvent event;
  event.kind = kind;
  event.subject = std::filesystem::path(path).filename().string();
  event.sending = sending;
  event.tickMs = StationTick(station);
  return event;
}

void Report(Station& station, const ProgressEvent& event) {
  if (station.panel != nullptr) station.panel->ReportProgress(event);
}

// Bytes the far end holds: a sent block counts once it was acknowledged, and the sender reads
// the next block only then.
long SettledBytes(const transfer::XFER& x) {
  if (!x.sending || x.blockLength <= 0) return x.offset;
  return std::max(0L, x.offset - x.blockLength);
}

long FileLength(const Station& station, const std::string& path) {
  files::NameStatus status;
  std::string why;
  if (!DiskOf(station).Status(path, status, why) || status.kind != files::EntryKind::kFile) {
    return 0;
  }
  return static_cast<long>(status.size);
}

// The transfer's local file is on the station's disk.
transfer::XferOptions OnDisk(const Station& station) {
  transfer::XferOptions options;
  options.disk = &DiskOf(station);
  return options;
}

int RunReported(Station& station, const std::string& path, bool sending, long expectedBytes,
                const std::function<int(const transfer::PollRoutine&)>& run,
                const transfer::PollRoutine& extraPoll) {
  ProgressEvent event = TransferEvent(station, ProgressKind::kTransferStart, path, sending);
  event.totalBytes = sending ? FileLength(station, path) : std::max(0L, expectedBytes);
  Report(station, event);
  long blocksResent = 0;
  long settled = 0;
  const transfer::PollRoutine poll = [&](transfer::XFER& x) {
    if (extraPoll) extraPoll(x);
    ProgressEvent step = event;
    step.kind = ProgressKind::kTransferStep;
    step.bytes = settled = SettledBytes(x);
    step.blocksResent = blocksResent = x.blocksResent;
    step.tickMs = StationTick(station);
    Report(station, step);
  };
  const int result = run(poll);
  ProgressEvent end = event;
  end.kind = ProgressKind::kTransferEnd;
  end.result = result;
  end.blocksResent = blocksResent;
  end.tickMs = StationTick(station);
  end.bytes = settled;
  if (result > 0) end.bytes = sending ? event.totalBytes : FileLength(station, path);
  Report(station, end);
  return result;
}

}  // namespace

int SendReported(Station& station, serial::SerialPort& port, const std::string& path,
                 const transfer::PollRoutine& extraPoll) {
  return RunReported(
      station, path, true, 0,
      [&](const transfer::PollRoutine& poll) {
        return transfer::SendFile(port, path, OnDisk(station), {}, poll);
      },
      extraPoll);
}

int ReceiveReported(Station& station, serial::SerialPort& port, const std::string& fileName,
                    long expectedBytes, transfer::FileFailure* failure) {
  return RunReported(station, fileName, false, expectedBytes,
                     [&](const transfer::PollRoutine& poll) {
                       return transfer::ReceiveFile(port, fileName, OnDisk(station), {}, poll,
                                                    failure);
                     },
                     {});
}

void AnnounceTransfer(Station& station, const std::string& fileName, long totalBytes) {
  ProgressEvent event = TransferEvent(station, ProgressKind::kTransferPlanned, fileName, false);
  event.totalBytes = std::max(0L, totalBytes);
  Report(station, event);
}

}  // namespace zephor::device
