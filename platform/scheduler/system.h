// Private to platform/scheduler: the few programs of the host that the scheduler talks to.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace Branwick::Platform {

// Runs `argv` (looked up in PATH, no shell) with no input, keeping its standard output in
// `output` when given and dropping its errors. Returns its exit status, or -1 when it could not
// be started or did not exit normally.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// The idle hint in the output of `loginctl show-session -p IdleHint -p IdleSinceHint`: when the
// computer became idle, or nullopt when it is in use or the text says nothing usable.
std::optional<std::time_t> ParseIdleHint(const std::string& output);

}  // namespace Branwick::Platform
