// A console's input cannot be looked at line by line without waiting, so a thread of its own
// reads standard input, from the first time an answer is wanted, and hands on what it read. It is
// left to the end of the program, which ends it wherever it waits.
#include <windows.h>

#include <memory>
#include <mutex>
#include <thread>

#include "process/line_splitter.h"
#include "process/own_input.h"

namespace zephor::process {
namespace {

constexpr DWORD kInputChunkBytes = 4096;

// What the reading thread and the program share.
struct Received {
  std::mutex lock;
  std::string bytes;
  bool ended = false;
};

void ReadUntilTheEnd(const std::shared_ptr<Received>& received) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char chunk[kInputChunkBytes];
  for (;;) {
    DWORD got = 0;
    const bool read = ReadFile(input, chunk, kInputChunkBytes, &got, nullptr) != 0 && got > 0;
    const std::lock_guard<std::mutex> held(received->lock);
    if (!read) {
      received->ended = true;
      return;
    }
    received->bytes.append(chunk, got);
  }
}

}  // namespace

struct OwnInput::System {
  std::shared_ptr<Received> received = std::make_shared<Received>();
  bool reading = false;
  bool atEnd = false;
  LineSplitter splitter;

  void StartReading() {
    if (reading) return;
    reading = true;
    std::thread([received = received] { ReadUntilTheEnd(received); }).detach();
  }
};

OwnInput::OwnInput() : system_(std::make_unique<System>()) {}

OwnInput::~OwnInput() = default;

void OwnInput::Read(std::vector<std::string>& lines) {
  if (system_->atEnd) return;
  system_->StartReading();
  std::string bytes;
  bool ended = false;
  {
    const std::lock_guard<std::mutex> held(system_->received->lock);
    bytes.swap(system_->received->bytes);
    ended = system_->received->ended;
  }
  system_->splitter.Take(bytes.data(), bytes.size(), lines);
  if (ended) {
    system_->atEnd = true;
    system_->splitter.End(lines);
  }
}

bool OwnInput::atEnd() const { return system_->atEnd; }

bool OwnInput::Ready() {
  if (system_->atEnd) return false;
  system_->StartReading();
  const std::lock_guard<std::mutex> held(system_->received->lock);
  return system_->received->ended || system_->received->bytes.find('\n') != std::string::npos;
}

bool OwnInput::echoed() const {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace zephor::process
