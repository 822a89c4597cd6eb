// corvane-cli fix: scan, back up, fix, and found and fixed per category.
#include <iostream>
#include <set>

#include <json/json.h>

#include "app/cli/Commands.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] fix [--categories LIST] [--only IDS] [--exclude IDS]
                                [--no-backup] [--json]

Scans, then fixes what was found and prints found and fixed per category. When the settings ask
for it (backup-before-fix), a backup of everything the fix deletes is taken first.
  --categories LIST   as for scan
  --only IDS          fix only these finding numbers (comma-separated, ranges like 3-7)
  --exclude IDS       leave these finding numbers alone
  --no-backup         no backup, whatever the settings say
)";
}

void Print(const SFixOutcome& outcome, DWORD dwCategories, bool bJson) {
    Json::Value root(Json::objectValue);
    root["categories"] = Json::Value(Json::arrayValue);
    for (const SScanTypeInfo& info : ScanTypes()) {
        const auto it = outcome.counts.find(info.nBit);
        if ((dwCategories & static_cast<DWORD>(info.nBit)) == 0 || it == outcome.counts.end()) {
            continue;
        }
        const SFixCount& count = it->second;
        if (bJson) {
            Json::Value category(Json::objectValue);
            category["category"] = BitNames(static_cast<DWORD>(info.nBit), kCategoryNames);
            category["found"] = count.nFound;
            category["fixed"] = count.nFixed;
            root["categories"].append(category);
        } else if (count.nFound != 0) {
            std::cout << Narrow(info.pszDisplayName) << ": found " << count.nFound << ", fixed "
                      << count.nFixed << "\n";
        }
    }
    if (bJson) {
        root["selected"] = outcome.nSelected;
        root["left_alone"] = outcome.nLeftAlone;
        root["fixed"] = outcome.nFixed;
        std::cout << root << "\n";
    } else {
        std::cout << "Total: " << outcome.nFixed << " of " << outcome.nSelected
                  << " selected problem(s) fixed.\n";
        if (outcome.nLeftAlone > 0) {
            std::cout << outcome.nLeftAlone
                      << " problem(s) left alone; `scan` says why for each.\n";
        }
    }
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0);
    const SArgs& args = invocation.Args();
    SFixChoice choice;
    if (args.Has("--only")) {
        choice.only = ParseIds(args.mapOptions.at("--only"));
    }
    if (args.Has("--exclude")) {
        choice.exclude = ParseIds(args.mapOptions.at("--exclude"));
    }
    choice.bNoBackup = args.Has("--no-backup");
    const DWORD dwCategories = Categories(invocation);
    CCore& core = invocation.Core();
    RequireWritable(core);
    RunScan(core, dwCategories);
    // A number the scan did not give is a mistake; fixing the rest silently would hide it.
    const std::size_t nFindings = core.Session().Findings().size();
    for (const std::set<int>* pIds : {&choice.only, &choice.exclude}) {
        for (const int nId : *pIds) {
            if (nId > static_cast<int>(nFindings)) {
                throw SUsageError("There is no finding " + std::to_string(nId) + "; the scan found " +
                                  std::to_string(nFindings) + ".");
            }
        }
    }
    const bool bFixed = core.Session().Fix(choice);
    const SFixOutcome& outcome = core.Session().FixOutcome();
    // Said even when the fix then failed: the user may want to restore it.
    if (!args.bJson && !outcome.strBackup.empty()) {
        std::cout << "Backup: " << Narrow(outcome.strBackup) << "\n";
    }
    if (!bFixed) {
        throw SFailure(Narrow(core.Session().LastError()));
    }
    Print(outcome, dwCategories, args.bJson);
    if (outcome.nFixed < outcome.nSelected) {
        throw SFailure(std::to_string(outcome.nSelected - outcome.nFixed) +
                       " selected problem(s) could not be fixed.");
    }
    return kOk;
}

}  // namespace

const SCommand kFixCommand = {"fix",
                              "scan, then fix the problems found",
                              &Help,
                              {{"--categories", true},
                               {"--only", true},
                               {"--exclude", true},
                               {"--no-backup", false}},
                              false,
                              true,
                              &Run};

}  // namespace Branwick::Cli
