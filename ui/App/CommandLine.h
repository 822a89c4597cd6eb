// The desktop program's command line: the target options of corvane-cli and the start switches.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Branwick::Wnd {

enum class EStartMode { Normal, Scheduled, Scan };

// Command ids that the main window takes from its tray menu and from other instances.
inline constexpr int kCmdOpen = 32778;
inline constexpr int kCmdStartScan = 32779;
inline constexpr int kCmdShowLastScan = 32780;
inline constexpr int kCmdExit = 32782;

struct SCommandLine {
    EStartMode eMode = EStartMode::Normal;
    std::optional<std::string> strPrefix, strWindows, strUser, strKeep;
    bool bDemo = false;
    bool bHelp = false;

    bool HasTarget() const { return strPrefix || strWindows || bDemo; }
    // The target options as they were given, for a process that must open the same target.
    std::vector<std::string> TargetArguments() const;
};

// The start mode as the switches choose it: searched for anywhere in the whole command line,
// program path included, case-sensitively; "-scan" wins over "-shed".
EStartMode StartModeOf(const std::vector<std::string>& vcArgs);

// Parses argv (program first). The switches may stand anywhere; target options are those of
// corvane-cli. Throws std::invalid_argument with one sentence for bad usage.
SCommandLine ParseCommandLine(const std::vector<std::string>& vcArgs);

extern const char kUsageText[];

}  // namespace Branwick::Wnd
