// The exit codes of the command line's runs: a script tells by them how a run ended, and a fleet
// ranks its instruments' by them.
#pragma once

namespace zephor::app {

inline constexpr int kExitDone = 0;
inline constexpr int kExitCancelled = 1;
inline constexpr int kExitBadUsage = 2;
inline constexpr int kExitNoInstrument = 3;
inline constexpr int kExitUpdateStopped = 4;
inline constexpr int kExitRestoreIncomplete = 5;
inline constexpr int kExitFolderBusy = 6;
// A program ended by a signal: this and the signal's number, as a shell gives it.
inline constexpr int kExitSignalBase = 128;

}  // namespace zephor::app
