// Where the running module (the program, or libfendral.so) lives, and where it keeps its logs.
// Each module links its own copy of this piece, so "the module" is always the one that calls.
#pragma once

#include <string>

namespace Branwick::Platform {

// The host folder of the module that contains this code, ending in '/'; empty when it cannot be
// found. Thread-safe.
std::string GetModuleFolder();

// The host folder for log files, ending in '/', created if missing; empty when no folder can be
// made. In order of preference: $CORVANE_LOG_DIR when set and not empty; "Logs/" beside the module
// when that folder can be written (a build tree); $XDG_STATE_HOME/corvane/Logs/ (XDG_STATE_HOME
// defaulting to ~/.local/state). Looked up afresh on every call. Thread-safe.
std::string GetLogsFolder();

}  // namespace Branwick::Platform
