#include "ui/App/CommandLine.h"

#include <stdexcept>

namespace Branwick::Wnd {

const char kUsageText[] = R"(Usage: corvane [TARGET] [-scan | -shed]

Opens the Corvane window on a Wine prefix or an offline Windows installation.

Target (default: the last one used, else $WINEPREFIX, else ~/.wine; when none of these is a
Wine prefix, a chooser lists the Windows systems found on this machine):
  --prefix DIR             the Wine prefix in DIR
  --windows DIR --user NAME
                           the offline Windows volume mounted at DIR, for the user NAME
  --demo                   a fresh demo prefix with planted problems, in a temporary folder
  --keep DIR               with --demo: make the demo prefix in DIR and keep it

  -scan                    start a scan as soon as the window opens
  -shed                    the scheduled scan: ask the running Corvane to scan, or start one
                           that scans
)";

std::vector<std::string> SCommandLine::TargetArguments() const {
    std::vector<std::string> out;
    if (strPrefix) {
        out = {"--prefix", *strPrefix};
    } else if (strWindows) {
        out = {"--windows", *strWindows, "--user", strUser.value_or("")};
    } else if (bDemo) {
        out = {"--demo"};
        if (strKeep) {
            out.insert(out.end(), {"--keep", *strKeep});
        }
    }
    return out;
}

EStartMode StartModeOf(const std::vector<std::string>& vcArgs) {
    std::string strWhole;
    for (const std::string& arg : vcArgs) {
        strWhole += arg + " ";
    }
    if (strWhole.find("-scan") != std::string::npos) {
        return EStartMode::Scan;
    }
    if (strWhole.find("-shed") != std::string::npos) {
        return EStartMode::Scheduled;
    }
    return EStartMode::Normal;
}

SCommandLine ParseCommandLine(const std::vector<std::string>& vcArgs) {
    SCommandLine line;
    line.eMode = StartModeOf(vcArgs);
    for (std::size_t i = 1; i < vcArgs.size(); ++i) {
        const std::string& arg = vcArgs[i];
        std::optional<std::string>* pValue = arg == "--prefix"    ? &line.strPrefix
                                             : arg == "--windows" ? &line.strWindows
                                             : arg == "--user"    ? &line.strUser
                                             : arg == "--keep"    ? &line.strKeep
                                                                  : nullptr;
        if (pValue != nullptr) {
            if (i + 1 >= vcArgs.size()) {
                throw std::invalid_argument(arg + " needs a value.");
            }
            *pValue = vcArgs[++i];
        } else if (arg == "--demo") {
            line.bDemo = true;
        } else if (arg == "--help" || arg == "-h") {
            line.bHelp = true;
        } else if (arg != "-scan" && arg != "-shed") {
            throw std::invalid_argument("'" + arg + "' is not an option of corvane.");
        }
    }
    if ((line.strPrefix ? 1 : 0) + (line.strWindows ? 1 : 0) + (line.bDemo ? 1 : 0) > 1) {
        throw std::invalid_argument("Choose one target: --prefix, --windows or --demo.");
    }
    if (line.strWindows.has_value() != line.strUser.has_value()) {
        throw std::invalid_argument("--windows and --user go together.");
    }
    if (line.strKeep && !line.bDemo) {
        throw std::invalid_argument("--keep goes with --demo.");
    }
    return line;
}

}  // namespace Branwick::Wnd
