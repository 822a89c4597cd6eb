// corvane-cli history: erases browsing and usage traces of the target's user.
#include <iostream>

#include "app/cli/Commands.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] history [--items LIST]

Erases browsing and usage traces of the target's user.
  --items LIST   comma-separated items (default: those of the settings):
                 )" +
           NameList(kHistoryItemNames) + "\n";
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0);
    const SArgs& args = invocation.Args();
    CCore& core = invocation.Core();
    const DWORD dwItems =
        args.Has("--items")
            ? ParseNames(args.mapOptions.at("--items"), kHistoryItemNames, "history item")
            : core.Settings().GetHistoryFlags();
    RequireWritable(core);
    if (!core.CleanHistory(dwItems)) {
        throw SFailure(Narrow(core.ScanManager().GetLastError()));
    }
    const std::vector<std::wstring> lines = core.Waiter().GetHistoryLines();
    for (const std::wstring& line : lines) {
        std::cout << Narrow(line) << "\n";
    }
    const int nNotErased = core.Waiter().GetHistoryNotErased();
    std::cout << "Total: " << static_cast<int>(lines.size()) - nNotErased << " item(s) erased.\n";
    if (nNotErased > 0) {
        throw SFailure(std::to_string(nNotErased) + " item(s) could not be erased.");
    }
    return kOk;
}

}  // namespace

const SCommand kHistoryCommand = {"history", "erase browsing and usage traces", &Help,
                                  {{"--items", true}}, false, true, &Run};

}  // namespace Branwick::Cli
