// corvane-cli backups: list, restore and delete the backups taken before fixes.
#include <ctime>
#include <iostream>

#include <json/json.h>

#include "app/cli/Commands.h"
#include "core/Text.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] backups list|restore NAME|delete NAME [--json]

  list           the backups, oldest first, with their times and the number of files they hold
  restore NAME   writes the backup's keys and values back into the registry and puts its files
                 back (never over a file that has appeared since); the backup is deleted once
                 everything in it has been restored
  delete NAME    deletes the backup and the files it holds
)";
}

void List(CCore& core, bool bJson) {
    Json::Value list(Json::arrayValue);
    for (const auto& [nTime, strName] : core.BackUpManager().GetBackups()) {
        char szTime[32];
        const auto t = static_cast<std::time_t>(nTime);
        std::tm local{};
        localtime_r(&t, &local);
        std::strftime(szTime, sizeof(szTime), "%Y-%m-%d %H:%M:%S", &local);
        const std::size_t nFiles = core.BackUpManager().CountFiles(strName);
        if (bJson) {
            Json::Value entry(Json::objectValue);
            entry["name"] = Narrow(strName);
            entry["time"] = Json::Int64(nTime);
            entry["files"] = Json::UInt64(nFiles);
            list.append(entry);
        } else {
            std::cout << Narrow(strName) << "\t" << szTime << "\t" << nFiles << " file(s)\n";
        }
    }
    if (bJson) {
        std::cout << list << "\n";
    }
}

int Run(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    CCore& core = invocation.Core();
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    if (strVerb == "list") {
        invocation.CheckWords(1);
        List(core, args.bJson);
        return kOk;
    }
    if (strVerb != "restore" && strVerb != "delete") {
        throw SUsageError("backups takes list, restore NAME or delete NAME.");
    }
    invocation.CheckWords(2);
    const std::wstring strName = Utf8ToWide(args.vcWords[1]);
    std::wstring strError;
    if (strVerb == "restore") {
        RequireWritable(core);
        if (!core.RestoreBackup(strName)) {
            const std::vector<std::wstring> failures = core.BackUpManager().LastRestoreFailures();
            for (const std::wstring& strFailure : failures) {
                std::cerr << "Not restored: " << Narrow(strFailure) << "\n";
            }
            throw SFailure("The backup " + args.vcWords[1] + " was not restored completely, so it is kept.");
        }
        core.BackUpManager().DeleteBackup(strName, strError);
        std::cout << "Restored " << args.vcWords[1] << ".\n";
        return kOk;
    }
    if (!core.BackUpManager().DeleteBackup(strName, strError)) {
        throw SFailure("The backup " + args.vcWords[1] + " was not deleted: " + Narrow(strError));
    }
    std::cout << "Deleted " << args.vcWords[1] << ".\n";
    return kOk;
}

}  // namespace

const SCommand kBackupsCommand = {"backups",
                                  "list, restore or delete the backups taken before fixes",
                                  &Help, {}, false, true, &Run};

}  // namespace Branwick::Cli
