// corvane-cli: the application core without windows, for terminals and scripts.
//
// Exit status: 0 success, 1 failure (said in one sentence on stderr), 2 bad usage.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/EscapedOutput.h"
#include "core/Text.h"

namespace Branwick::Cli {
namespace {

constexpr char kUsageHead[] = R"(Usage: corvane-cli [TARGET] COMMAND [OPTIONS]

Maintains the registry and files of a Wine prefix or an offline Windows installation.

Target (default: the Wine prefix $WINEPREFIX, else ~/.wine):
  --prefix DIR             the Wine prefix in DIR
  --windows DIR --user NAME
                           the offline Windows volume mounted at DIR, for the user NAME
  --demo                   a fresh demo prefix with planted problems, in a temporary folder
  --keep DIR               with --demo: make the demo prefix in DIR and keep it
  --allow-drive X:         let fixes delete on drive X: too, where the prefix maps it outside its
                           own folder (several: C:,D:); without it such findings are left alone

Commands:
)";

constexpr char kUsageTail[] = R"(
'corvane-cli COMMAND --help' describes a command.
Exit status: 0 success, 1 failure, 2 bad usage.
)";

void PrintUsage() {
    std::cout << kUsageHead;
    for (const SCommand* pCommand : kCommands) {
        std::string strName = pCommand->pszName;
        strName.resize(std::max<std::size_t>(strName.size() + 1, 25), ' ');
        std::cout << "  " << strName << pCommand->pszSummary << "\n";
    }
    std::cout << kUsageTail;
}

// The options of the target, and those of every command: an option is known to the parser
// whichever command it belongs to, and refused later by the commands that do not take it.
void KnownOptions(std::set<std::string>& withValue, std::set<std::string>& flags) {
    withValue = {"--prefix", "--windows", "--user", "--keep", "--allow-drive"};
    flags = {"--demo", "--json", "--help", "-h"};
    for (const SCommand* pCommand : kCommands) {
        for (const SOption& option : pCommand->vcOptions) {
            (option.bValue ? withValue : flags).insert(option.pszName);
        }
    }
}

void CheckTarget(const SArgs& args) {
    const int nTargets = (args.strPrefix ? 1 : 0) + (args.strWindows ? 1 : 0) + (args.bDemo ? 1 : 0);
    if (nTargets > 1) {
        throw SUsageError("Choose one target: --prefix, --windows or --demo.");
    }
    if (args.strWindows.has_value() != args.strUser.has_value()) {
        throw SUsageError("--windows and --user go together.");
    }
    if (args.strKeep && !args.bDemo) {
        throw SUsageError("--keep goes with --demo.");
    }
}

void TakeOption(SArgs& args, const std::string& arg, const std::string& value) {
    if (arg == "--prefix") {
        args.strPrefix = value;
    } else if (arg == "--windows") {
        args.strWindows = value;
    } else if (arg == "--user") {
        args.strUser = value;
    } else if (arg == "--keep") {
        args.strKeep = value;
    } else if (arg == "--allow-drive") {
        for (const std::string& strDrive : SplitCommaList(value)) {
            if (strDrive.size() != 2 || strDrive[1] != ':' || !std::isalpha(static_cast<unsigned char>(strDrive[0]))) {
                throw SUsageError("--allow-drive takes drive letters like C: (several with commas).");
            }
            args.strAllowedDrives += static_cast<char>(std::toupper(static_cast<unsigned char>(strDrive[0])));
        }
    } else {
        args.mapOptions[arg] = value;
    }
}

void TakeFlag(SArgs& args, const std::string& arg) {
    if (arg == "--help" || arg == "-h") {
        args.bHelp = true;
    } else if (arg == "--demo") {
        args.bDemo = true;
    } else if (arg == "--json") {
        args.bJson = true;
    } else {
        args.mapOptions[arg] = "";
    }
}

SArgs ParseArgs(int argc, char** argv) {
    std::set<std::string> withValue, flags;
    KnownOptions(withValue, flags);
    SArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (withValue.count(arg) != 0) {
            if (i + 1 >= argc) {
                throw SUsageError(arg + " needs a value.");
            }
            TakeOption(args, arg, argv[++i]);
        } else if (flags.count(arg) != 0) {
            TakeFlag(args, arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw SUsageError("'" + arg + "' is not an option of corvane-cli.");
        } else if (args.strCommand.empty()) {
            args.strCommand = arg;
        } else {
            args.vcWords.push_back(arg);
        }
    }
    CheckTarget(args);
    return args;
}

int Main(int argc, char** argv) {
    const SArgs args = ParseArgs(argc, argv);
    if (args.strCommand.empty()) {
        if (args.bHelp) {
            PrintUsage();
            return kOk;
        }
        throw SUsageError("Name a command; see corvane-cli --help.");
    }
    const SCommand* pCommand = nullptr;
    for (const SCommand* p : kCommands) {
        if (args.strCommand == p->pszName) {
            pCommand = p;
        }
    }
    if (pCommand == nullptr) {
        throw SUsageError("'" + args.strCommand + "' is not a command; see corvane-cli --help.");
    }
    if (args.bHelp) {
        std::cout << pCommand->pfnHelp();
        return kOk;
    }
    // JSON escapes control characters itself; "\x" would make it invalid.
    std::optional<CEscapedCout> escaped;
    if (!args.bJson) {
        escaped.emplace();
    }
    CInvocation invocation(*pCommand, args);
    if (pCommand->bTarget) {
        invocation.Core();
    }
    return pCommand->pfnRun(invocation);
}

}  // namespace
}  // namespace Branwick::Cli

int main(int argc, char** argv) {
    using namespace Branwick::Cli;
    try {
        return Main(argc, argv);
    } catch (const SUsageError& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", Branwick::EscapeControls(e.what()).c_str());
        return kUsage;
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", Branwick::EscapeControls(e.what()).c_str());
        return kUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", Branwick::EscapeControls(e.what()).c_str());
        return kFailure;
    }
}
