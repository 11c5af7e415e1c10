// CreateProcess with three inherited handles. Our ends of the pipes are never inheritable, and
// the child's ends exist only while its CreateProcess runs, so a child holds no other child's
// pipe and each pipe ends when its own child does. Anonymous pipes cannot be waited on: they are
// looked at with PeekNamedPipe.
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "process/child_process.h"
#include "process/line_splitter.h"
#include "process/own_input.h"
#include "process/parent_watch.h"

namespace zephor::process {
namespace {

constexpr DWORD kPipeChunkBytes = 4096;
constexpr int kKillSignal = 9;
constexpr int kSignalExitBase = 128;
// How often a wait looks at the pipes, which cannot wake it.
constexpr DWORD kLookEveryMs = 10;

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

std::string SystemWords(DWORD error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "system error " + std::to_string(error) : words;
}

// Our end of a pipe the child writes, read as far as it holds something.
struct PipeReader {
  HANDLE pipe = nullptr;
  bool atEnd = true;
  LineSplitter splitter;
  std::vector<std::string> kept;  // lines read while Finish waited

  void Open(HANDLE handle) {
    pipe = handle;
    atEnd = false;
  }
  // Something to read, or the end: the writer has gone once the pipe is broken.
  bool Ready() const {
    if (atEnd) return false;
    DWORD waiting = 0;
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) == 0 || waiting > 0;
  }
  void Read(std::vector<std::string>& lines) {
    lines.insert(lines.end(), kept.begin(), kept.end());
    kept.clear();
    Pull(lines);
  }
  void Pull(std::vector<std::string>& lines) {
    char chunk[kPipeChunkBytes];
    while (!atEnd) {
      DWORD waiting = 0;
      const bool open = PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) != 0;
      if (open && waiting == 0) return;
      DWORD got = 0;
      if (!open || ReadFile(pipe, chunk, std::min(waiting, kPipeChunkBytes), &got, nullptr) == 0 ||
          got == 0) {
        atEnd = true;
        splitter.End(lines);
        CloseIfOpen(pipe);
        return;
      }
      splitter.Take(chunk, got, lines);
    }
  }
};

struct StreamEnds {
  HANDLE child = nullptr;  // inheritable, closed once the child has it
  HANDLE ours = nullptr;
};

bool OpenStream(const Stream& stream, bool input, StreamEnds& ends, std::string& why) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  switch (stream.kind) {
    case Stream::Kind::kNull:
      ends.child =
          CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case Stream::Kind::kPipe: {
      HANDLE read = nullptr, write = nullptr;
      if (CreatePipe(&read, &write, &inherited, 0) == 0) break;
      ends.child = input ? read : write;
      ends.ours = input ? write : read;
      SetHandleInformation(ends.ours, HANDLE_FLAG_INHERIT, 0);
      break;
    }
    case Stream::Kind::kLent:
      if (DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(stream.lent),
                          GetCurrentProcess(), &ends.child, 0, TRUE, DUPLICATE_SAME_ACCESS) == 0) {
        ends.child = nullptr;
      }
      break;
    case Stream::Kind::kFile:
      ends.child =
          CreateFileW(stream.file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherited, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
  }
  if (ends.child != nullptr && ends.child != INVALID_HANDLE_VALUE) return true;
  ends.child = nullptr;
  why = SystemWords(GetLastError());
  return false;
}

// One argument as the C runtime splits a command line: quoted when it holds a space or a quote,
// with the backslashes before a quote doubled.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted.push_back(argument[i]);
  }
  return quoted + "\"";
}

// A handle to this program's own process that its children inherit, made once.
HANDLE InheritableSelf() {
  static const HANDLE self = [] {
    HANDLE handle = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &handle,
                        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0) == 0) {
      return HANDLE(nullptr);
    }
    return handle;
  }();
  return self;
}

// This program's environment with the parent's process for the child to watch.
std::string EnvironmentWithParent() {
  const std::string prefix = std::string(kParentVariable) + "=";
  std::string block;
  char* const strings = GetEnvironmentStringsA();
  if (strings != nullptr) {
    for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
      if (std::string_view(entry).starts_with(prefix)) continue;
      block.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
  }
  block += prefix +
           std::to_string(static_cast<unsigned long long>(
               reinterpret_cast<std::uintptr_t>(InheritableSelf()))) +
           ":" + std::to_string(GetCurrentProcessId());
  block.push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

struct ChildProcess::System {
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE input = nullptr;
  PipeReader out;
  PipeReader err;

  bool Over() const {
    return process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  }
};

ChildProcess::ChildProcess() : system_(std::make_unique<System>()) {}

ChildProcess::~ChildProcess() {
  CloseIfOpen(system_->input);
  CloseIfOpen(system_->out.pipe);
  CloseIfOpen(system_->err.pipe);
  CloseIfOpen(system_->process);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const ChildSetup& setup, std::string& why) {
  if (started()) {
    why = "already started";
    return false;
  }
  std::array<StreamEnds, 3> ends;
  const Stream* streams[] = {&setup.input, &setup.output, &setup.error};
  bool opened = true;
  for (std::size_t i = 0; i < ends.size() && opened; ++i) {
    opened = OpenStream(*streams[i], i == 0, ends[i], why);
  }
  const auto closeChildEnds = [&ends] {
    for (StreamEnds& end : ends) CloseIfOpen(end.child);
  };
  if (!opened) {
    closeChildEnds();
    for (StreamEnds& end : ends) CloseIfOpen(end.ours);
    return false;
  }
  std::string commandLine = Quoted(program);
  for (const std::string& arg : args) commandLine += " " + Quoted(arg);
  std::string environment;
  if (setup.stopWithParent) environment = EnvironmentWithParent();
  const std::string folder = setup.folder.string();
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ends[0].child;
  startup.hStdOutput = ends[1].child;
  startup.hStdError = ends[2].child;
  PROCESS_INFORMATION created{};
  // The child shares this program's console: the console's Ctrl-C, Ctrl-Break and closing
  // reach it as they reach this program.
  const BOOL ok = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                 environment.empty() ? nullptr : environment.data(),
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &created);
  const DWORD failure = GetLastError();
  closeChildEnds();
  if (ok == 0) {
    why = SystemWords(failure);
    for (StreamEnds& end : ends) CloseIfOpen(end.ours);
    return false;
  }
  CloseHandle(created.hThread);
  system_->process = created.hProcess;
  system_->id = created.dwProcessId;
  system_->input = ends[0].ours;
  if (ends[1].ours != nullptr) system_->out.Open(ends[1].ours);
  if (ends[2].ours != nullptr) system_->err.Open(ends[2].ours);
  return true;
}

bool ChildProcess::started() const { return system_->process != nullptr; }

long ChildProcess::id() const { return static_cast<long>(system_->id); }

void ChildProcess::WriteLine(const std::string& line) {
  if (system_->input == nullptr) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  // A child that is gone reads nothing more: the write fails.
  if (WriteFile(system_->input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ==
      0) {
    CloseInput();
  }
}

void ChildProcess::CloseInput() { CloseIfOpen(system_->input); }

void ChildProcess::Signal(int signal) {
  if (signal == kKillSignal && started() && !system_->Over()) {
    TerminateProcess(system_->process, kSignalExitBase + kKillSignal);
  }
}

void ChildProcess::Read(std::vector<std::string>& out, std::vector<std::string>& err) {
  system_->out.Read(out);
  system_->err.Read(err);
}

bool ChildProcess::Ended(int& code) {
  if (!system_->Over() || !system_->out.atEnd || !system_->err.atEnd) return false;
  DWORD exitCode = 0;
  GetExitCodeProcess(system_->process, &exitCode);
  code = static_cast<int>(exitCode);
  return true;
}

int ChildProcess::Finish(int limitMs) {
  if (!started()) return -1;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int code = -1;
  while (!Ended(code)) {
    if (std::chrono::steady_clock::now() > giveUp) {
      TerminateProcess(system_->process, kSignalExitBase + kKillSignal);
      WaitForSingleObject(system_->process, INFINITE);
      return -1;
    }
    system_->out.Pull(system_->out.kept);
    system_->err.Pull(system_->err.kept);
    WaitForSingleObject(system_->process, kLookEveryMs);
  }
  return code;
}

// A signal (the console's Ctrl-C) is caught on a thread of its own: the caller sees it at the
// latest when ms have passed.
void WaitForAny(const std::vector<ChildProcess*>& children, OwnInput* input, int ms) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    for (const ChildProcess* child : children) {
      const ChildProcess::System& system = *child->system_;
      if (system.out.Ready() || system.err.Ready() ||
          (system.Over() && system.out.atEnd && system.err.atEnd)) {
        return;
      }
    }
    if (input != nullptr && input->Ready()) return;
    if (std::chrono::steady_clock::now() >= giveUp) return;
    Sleep(kLookEveryMs);
  }
}

std::string OwnProgramPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(path, length);
}

}  // namespace zephor::process
