// corvane-cli recover: the dirty hives of an offline Windows volume brought up to date from their
// transaction logs and written back clean, the original hives and logs kept.
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "core/Text.h"

namespace Branwick::Cli {

namespace {

// A new folder beside the fix backups for the originals, as a host path.
std::string OriginalsFolder(const Platform::CTarget& target) {
    const std::wstring strHistory = target.DataFolder() + L"History";
    CStatus status = target.CreateDataFolder();
    if (status.Ok()) {
        status = target.Files().CreateDirectory(strHistory);
    }
    if (!status.Ok() && status.m_lCode != ERROR_ALREADY_EXISTS) {
        throw SFailure("Nothing was changed, because no folder for the original hives can be made in " +
                                 WideToUtf8(strHistory) + ": " + WideToUtf8(status.m_strText));
    }
    const std::wstring strName =
        strHistory + L"\\" + UtcTimeText(std::time(nullptr), "Corvanes_recovery_%B_%d_%Y_%H_%M_%S");
    std::wstring strFolder = strName;
    for (int n = 2; target.Files().GetFileAttributes(strFolder) != INVALID_FILE_ATTRIBUTES; ++n) {
        strFolder = strName + L"_" + std::to_wstring(n);
    }
    std::string strHost;
    if (const CStatus s = target.Files().HostPath(strFolder, strHost); !s.Ok()) {
        throw SFailure("Nothing was changed: " + WideToUtf8(s.m_strText));
    }
    return strHost;
}

std::string Help() {
    return R"(Usage: corvane-cli --windows DIR --user NAME recover

Brings every hive of the volume that Windows left dirty up to date from its .LOG1/.LOG2 and writes
it back clean, the logs emptied; the original hives and logs are kept in a folder beside the
backups. Says what was applied; a dirty hive whose logs cannot be used is left as it is (exit 1).
)";
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0, false);
    const Platform::CTarget& target = invocation.Core().Target();
    if (target.Kind() != Platform::ETargetKind::OfflineVolume) {
        throw SUsageError("recover works on an offline Windows volume: --windows DIR --user NAME.");
    }
    const std::string strFolder = OriginalsFolder(target);
    std::vector<std::wstring> vcApplied;
    const CStatus status = target.Registry().WriteBackRecovered(strFolder, &vcApplied);
    if (!status.Ok()) {
        throw SFailure("Nothing was changed: " + WideToUtf8(status.m_strText));
    }
    for (const std::wstring& strLine : vcApplied) {
        std::cout << "Recovered " << WideToUtf8(strLine) << "\n";
    }
    if (vcApplied.empty()) {
        std::cout << "No hive needed recovering from its logs.\n";
    } else {
        std::cout << "The original hives and logs are kept in " << strFolder << "\n";
    }
    // Dirty hives whose logs could not be used stay as they are; say so.
    int nLeft = 0;
    for (const std::wstring& strWarning : target.Registry().LoadWarnings()) {
        if (strWarning.find(L"not shut down cleanly: ") != std::wstring::npos) {
            std::cerr << "corvane-cli: " << WideToUtf8(strWarning) << "\n";
            ++nLeft;
        }
    }
    return nLeft == 0 ? kOk : kFailure;
}

}  // namespace

const SCommand kRecoverCommand = {"recover",
                                  "replay the transaction logs of an offline volume's dirty hives",
                                  &Help, {}, false, true, &Run};

}  // namespace Branwick::Cli
