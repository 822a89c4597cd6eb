// corvane-cli: the application core without windows, for terminals and scripts.
//
// Exit status: 0 success, 1 failure (said in one sentence on stderr), 2 bad usage.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/json.h>

#include "app/cli/Core.h"
#include "core/RegError.h"
#include "core/Text.h"
#include "platform/demo/demo.h"

namespace Branwick::Cli {
namespace {

constexpr int kOk = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

constexpr char kUsageText[] = R"(Usage: corvane-cli [TARGET] COMMAND [OPTIONS]

Maintains the registry and files of a Wine prefix or an offline Windows installation.

Target (default: the Wine prefix $WINEPREFIX, else ~/.wine):
  --prefix DIR             the Wine prefix in DIR
  --windows DIR --user NAME
                           the offline Windows volume mounted at DIR, for the user NAME
  --demo                   a fresh demo prefix with planted problems, in a temporary folder
  --keep DIR               with --demo: make the demo prefix in DIR and keep it

Commands:
  scan                     list the problems found
  fix                      scan, then fix the problems found
  backups                  list, restore or delete the backups taken before fixes
  ignore                   list or change the problems that scans leave alone
  history                  erase browsing and usage traces
  settings                 show or change the settings
  schedule                 list or change the times of unattended scans

'corvane-cli COMMAND --help' describes a command.
Exit status: 0 success, 1 failure, 2 bad usage.
)";

struct SCommandHelp {
    const char* pszName;
    const char* pszText;
};

constexpr SCommandHelp kHelp[] = {
    {"scan", R"(Usage: corvane-cli [TARGET] scan [--categories LIST] [--json]

Scans the target and lists the problems found, grouped by category, each with a number (the id
that fix --only/--exclude and ignore add take), its full path and what fixing it does.
  --categories LIST   comma-separated categories (default: those of the settings):
                      )"},
    {"fix", R"(Usage: corvane-cli [TARGET] fix [--categories LIST] [--only IDS] [--exclude IDS]
                                [--no-backup] [--json]

Scans, then fixes what was found and prints found and fixed per category. When the settings ask
for it (backup-before-fix), a backup of everything the fix deletes is taken first.
  --categories LIST   as for scan
  --only IDS          fix only these finding numbers (comma-separated, ranges like 3-7)
  --exclude IDS       leave these finding numbers alone
  --no-backup         no backup, whatever the settings say
)"},
    {"backups", R"(Usage: corvane-cli [TARGET] backups list|restore NAME|delete NAME [--json]

  list           the backups, oldest first, with their times
  restore NAME   writes the backup's keys and values back into the registry; the backup is
                 deleted once it has been restored
  delete NAME    deletes the backup
)"},
    {"ignore", R"(Usage: corvane-cli [TARGET] ignore list|add IDS|remove N [--categories LIST]

  list           the ignored problems, numbered
  add IDS        scans and adds the findings with these numbers to the ignore list
  remove N       removes entry N of the list
)"},
    {"history", R"(Usage: corvane-cli [TARGET] history [--items LIST]

Erases browsing and usage traces of the target's user.
  --items LIST   comma-separated items (default: those of the settings):
                 )"},
    {"settings", R"(Usage: corvane-cli [TARGET] settings show|set NAME VALUE

  show               prints every setting
  set NAME VALUE     changes one:
      backup-before-fix on|off   take a backup before every fix
      fix-after-scan on|off      fix at once after a scan (desktop program)
      hide-after-fix on|off      hide the window after a fix (desktop program)
      categories LIST            the categories a scan covers ("all" for every one)
      history-items LIST         the items history cleaning erases ("all" for every one)
)"},
    {"schedule", R"(Usage: corvane-cli [TARGET] schedule list|add KIND ...|delete N

  list                       the triggers of the scheduled scan, numbered
  add once YYYY-MM-DD HH:MM  a scan on that day at that time
  add daily HH:MM            a scan every day at that time
  add weekly DAYS HH:MM      a scan on those days of every week at that time
  add monthly MDAYS MONTHS HH:MM
                             a scan on those days of those months at that time
  add monthly WEEK DAYS MONTHS HH:MM
                             a scan on that week's days of those months at that time,
                             e.g. monthly last fri all 18:00
  add idle [MINUTES]         a scan when the computer has been idle that long (1 to 999;
                             the idle time is the task's, shared by its idle triggers and
                             kept when MINUTES is left out); checked only while Corvane runs
  add startup                a scan at every system start
  add logon                  a scan at every log-on
  delete N                   removes trigger N

  DAYS     mon,tue,wed,thu,fri,sat,sun or all
  MDAYS    days of the month, e.g. 1,15 (each must occur in one of the months)
  MONTHS   jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec or all
  WEEK     first, second, third, fourth or last
  Each trigger begins today.
)"},
};

struct SName {
    const char* pszName;
    DWORD dwBit;
};

constexpr SName kCategories[] = {
    {"com", COM},         {"uninstall", UNINSTALL},     {"fonts", FONTS},
    {"shared-dlls", SHARED_DLLS}, {"startup", STARTUP}, {"file-paths", FILE_PATH},
    {"shortcuts", SHOTCATS}, {"empty-keys", EMPTY_KEYS}, {"help-files", HELP_FILES},
    {"app-paths", APP_PATH}, {"file-associations", FILE_ASSOCIATIONS},
    {"junk-files", JUNK_FILES}};

constexpr SName kHistoryItems[] = {
    {"ie-temp", 0x1},        {"ie-history", 0x2},      {"ie-cookies", 0x4},
    {"ie-forms", 0x8},       {"ie-index", 0x10},       {"firefox-cache", 0x20},
    {"firefox-history", 0x40}, {"firefox-downloads", 0x100}, {"firefox-cookies", 0x80},
    {"firefox-forms", 0x200}, {"recycle-bin", 0x1000}, {"recent-documents", 0x2000},
    {"windows-logs", 0x800}, {"windows-temp", 0x400}};

// Bad usage: said on stderr, exit status 2.
struct SUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A failure: said on stderr, exit status 1.
struct SFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Narrow(const std::wstring& s) { return WideToUtf8(s); }

template <std::size_t N>
std::string NameList(const SName (&names)[N]) {
    std::string text;
    for (const SName& n : names) {
        text += (text.empty() ? "" : ", ") + std::string(n.pszName);
    }
    return text;
}

template <std::size_t N>
DWORD ParseNames(const std::string& strList, const SName (&names)[N], const char* pszWhat) {
    if (strList == "all") {
        DWORD dw = 0;
        for (const SName& n : names) {
            dw |= n.dwBit;
        }
        return dw;
    }
    DWORD dw = 0;
    for (const std::string& strName : SplitCommaList(strList)) {
        DWORD dwBit = 0;
        for (const SName& n : names) {
            if (strName == n.pszName) {
                dwBit = n.dwBit;
            }
        }
        if (dwBit == 0) {
            throw SUsageError("'" + strName + "' is no " + pszWhat + "; known are: " +
                              NameList(names) + ".");
        }
        dw |= dwBit;
    }
    return dw;
}

template <std::size_t N>
std::string BitNames(DWORD dwBits, const SName (&names)[N]) {
    std::string text;
    for (const SName& n : names) {
        if ((dwBits & n.dwBit) != 0) {
            text += (text.empty() ? "" : ",") + std::string(n.pszName);
        }
    }
    return text.empty() ? "none" : text;
}

std::set<int> ParseIds(const std::string& strList) {
    std::set<int> ids;
    for (const std::string& strItem : SplitCommaList(strList)) {
        const std::size_t nDash = strItem.find('-');
        try {
            std::size_t nUsed = 0;
            const int nFirst = std::stoi(strItem.substr(0, nDash), &nUsed);
            const int nLast = nDash == std::string::npos ? nFirst : std::stoi(strItem.substr(nDash + 1));
            if (nFirst < 1 || nLast < nFirst || nLast - nFirst > 1000000) {
                throw std::invalid_argument(strItem);
            }
            for (int n = nFirst; n <= nLast; ++n) {
                ids.insert(n);
            }
        } catch (const std::logic_error&) {
            throw SUsageError("'" + strItem + "' is not a finding number or range like 3-7.");
        }
    }
    return ids;
}

// The command line after the target options.
struct SArgs {
    std::string strCommand;
    std::vector<std::string> vcWords;                 // positional words after the command
    std::map<std::string, std::string> mapOptions;    // --name value (value "" for flags)
    bool bHelp = false;
    bool bJson = false;
    std::optional<std::string> strPrefix, strWindows, strUser, strKeep;
    bool bDemo = false;

    bool Has(const std::string& strName) const { return mapOptions.count(strName) != 0; }
};

SArgs ParseArgs(int argc, char** argv) {
    static const std::set<std::string> kWithValue = {"--prefix", "--windows", "--user", "--keep",
                                                     "--categories", "--only", "--exclude",
                                                     "--items"};
    static const std::set<std::string> kFlags = {"--demo", "--json", "--no-backup", "--help",
                                                 "-h"};
    SArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (kWithValue.count(arg) != 0) {
            if (i + 1 >= argc) {
                throw SUsageError(arg + " needs a value.");
            }
            const std::string value = argv[++i];
            if (arg == "--prefix") {
                args.strPrefix = value;
            } else if (arg == "--windows") {
                args.strWindows = value;
            } else if (arg == "--user") {
                args.strUser = value;
            } else if (arg == "--keep") {
                args.strKeep = value;
            } else {
                args.mapOptions[arg] = value;
            }
        } else if (kFlags.count(arg) != 0) {
            if (arg == "--help" || arg == "-h") {
                args.bHelp = true;
            } else if (arg == "--demo") {
                args.bDemo = true;
            } else if (arg == "--json") {
                args.bJson = true;
            } else {
                args.mapOptions[arg] = "";
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw SUsageError("'" + arg + "' is not an option of corvane-cli.");
        } else if (args.strCommand.empty()) {
            args.strCommand = arg;
        } else {
            args.vcWords.push_back(arg);
        }
    }
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
    return args;
}

void CheckOptions(const SArgs& args, const std::set<std::string>& allowed, std::size_t nWords) {
    for (const auto& [name, value] : args.mapOptions) {
        if (allowed.count(name) == 0) {
            throw SUsageError(name + " is not an option of " + args.strCommand + ".");
        }
    }
    if (args.vcWords.size() != nWords) {
        throw SUsageError("'" + args.strCommand + "' takes " +
                          (nWords == 0 ? std::string("no further words") :
                                         std::to_string(nWords) + " word(s)") +
                          " here; see corvane-cli " + args.strCommand + " --help.");
    }
}

// A demo prefix that is removed at the end unless it was asked to be kept.
class CDemoFolder {
public:
    explicit CDemoFolder(const std::optional<std::string>& strKeep) : m_bKeep(strKeep.has_value()) {
        if (m_bKeep) {
            m_strPath = *strKeep;
        } else {
            std::string strTemplate =
                (std::filesystem::temp_directory_path() / "corvane-demo-XXXXXX").string();
            if (mkdtemp(strTemplate.data()) == nullptr) {
                throw SFailure("No temporary folder could be made for the demo prefix.");
            }
            m_strPath = strTemplate;
        }
        std::wstring strError;
        if (!Platform::MakeDemoPrefix(m_strPath, nullptr, strError)) {
            throw SFailure(Narrow(strError));
        }
        std::fprintf(stderr, "Demo prefix: %s\n", m_strPath.c_str());
    }
    ~CDemoFolder() {
        if (!m_bKeep) {
            std::error_code ec;
            std::filesystem::remove_all(m_strPath, ec);
        }
    }
    const std::string& Path() const { return m_strPath; }

private:
    bool m_bKeep;
    std::string m_strPath;
};

std::unique_ptr<Platform::CTarget> OpenTarget(const SArgs& args, const CDemoFolder* pDemo) {
    std::wstring strError;
    std::unique_ptr<Platform::CTarget> pTarget;
    if (pDemo != nullptr) {
        pTarget = Platform::CTarget::OpenWinePrefix(pDemo->Path(), strError);
    } else if (args.strWindows) {
        pTarget = Platform::CTarget::OpenOfflineVolume(*args.strWindows,
                                                       Utf8ToWide(*args.strUser), strError);
    } else {
        pTarget = Platform::CTarget::OpenWinePrefix(args.strPrefix.value_or(""), strError);
    }
    if (pTarget == nullptr) {
        throw SFailure(Narrow(strError));
    }
    return pTarget;
}

// Refuses a command that writes when the target's registry cannot be written now.
void RequireWritable(const CCore& core) {
    const Platform::CRegStatus status = core.Target().Registry().CheckWritable();
    if (!status.Ok()) {
        throw SFailure("Nothing was changed, because the target cannot be written now: " +
                       Narrow(status.m_sMessage));
    }
}

DWORD Categories(const SArgs& args, CCore& core) {
    return args.Has("--categories")
               ? ParseNames(args.mapOptions.at("--categories"), kCategories, "category")
               : core.Settings().GetScanFlags() & 0xFFF;
}

// The findings in the order they are numbered: category by category, in the order found.
std::vector<std::pair<int, CRegError*>> NumberedFindings(CScanManager& scan) {
    std::vector<std::pair<int, CRegError*>> out;
    int nId = 0;
    for (const SScanTypeInfo& info : ScanTypes()) {
        const auto it = scan.GetErrors().find(info.nBit);
        if (it == scan.GetErrors().end()) {
            continue;
        }
        for (CRegError& record : it->second) {
            out.emplace_back(++nId, &record);
        }
    }
    return out;
}

std::vector<std::string> FixTexts(const CRegError& record) {
    std::vector<std::string> texts;
    for (const auto& pFix : record.GetFixes()) {
        // A key fix made without a data text has nothing to say; "delete the key" follows.
        if (!pFix->GetDescription().empty()) {
            texts.push_back(Narrow(pFix->GetDescription()));
        }
    }
    if (record.m_bDeleteSelf) {
        texts.push_back(record.m_hRoot == 0 ? "delete the file" : "delete the key");
    }
    return texts;
}

void RunScan(CCore& core, DWORD dwCategories) {
    if (!core.Scan(dwCategories)) {
        throw SFailure(Narrow(core.ScanManager().GetLastError()));
    }
}

void PrintScan(CCore& core, bool bJson) {
    CScanManager& scan = core.ScanManager();
    const auto findings = NumberedFindings(scan);
    const DWORD dwQuiet = scan.GetScanCategories() & ~scan.GetAcceptedCategories() & 0xFFF;
    if (bJson) {
        Json::Value root(Json::objectValue);
        root["target"] = core.Target().Folder();
        root["categories"] = Json::Value(Json::arrayValue);
        for (const SScanTypeInfo& info : ScanTypes()) {
            if ((scan.GetScanCategories() & static_cast<DWORD>(info.nBit)) == 0) {
                continue;
            }
            Json::Value category(Json::objectValue);
            category["category"] = BitNames(static_cast<DWORD>(info.nBit), kCategories);
            category["name"] = Narrow(info.pszDisplayName);
            category["quiet"] = (dwQuiet & static_cast<DWORD>(info.nBit)) != 0;
            category["findings"] = Json::Value(Json::arrayValue);
            for (const auto& [nId, pRecord] : findings) {
                if (pRecord->m_nScanType != info.nBit) {
                    continue;
                }
                Json::Value finding(Json::objectValue);
                finding["id"] = nId;
                finding["path"] = Narrow(pRecord->GetFullPath());
                finding["description"] = Narrow(pRecord->m_sDescription);
                finding["view"] = pRecord->m_hRoot == 0 ? 0 : static_cast<int>(pRecord->m_dwRegSam);
                finding["fixes"] = Json::Value(Json::arrayValue);
                for (const std::string& strFix : FixTexts(*pRecord)) {
                    finding["fixes"].append(strFix);
                }
                category["findings"].append(finding);
            }
            root["categories"].append(category);
        }
        root["total"] = static_cast<int>(findings.size());
        std::cout << root << "\n";
        return;
    }
    for (const SScanTypeInfo& info : ScanTypes()) {
        const std::size_t nCount = scan.GetErrorCount(info.nBit);
        if (nCount == 0) {
            continue;
        }
        std::cout << Narrow(info.pszDisplayName) << " (" << nCount << ")\n";
        for (const auto& [nId, pRecord] : findings) {
            if (pRecord->m_nScanType != info.nBit) {
                continue;
            }
            std::cout << "  " << nId << ". " << Narrow(pRecord->GetFullPath()) << "\n"
                      << "     " << Narrow(pRecord->m_sDescription) << "\n";
            for (const std::string& strFix : FixTexts(*pRecord)) {
                std::cout << "     fix: " << strFix << "\n";
            }
        }
    }
    if (dwQuiet != 0) {
        std::cout << "Quiet for seven days after a fix, not reported: "
                  << BitNames(dwQuiet, kCategories) << "\n";
    }
    std::cout << "Total: " << findings.size() << " problem(s) found.\n";
}

int CommandScan(CCore& core, const SArgs& args) {
    CheckOptions(args, {"--categories"}, 0);
    RunScan(core, Categories(args, core));
    PrintScan(core, args.bJson);
    return kOk;
}

int CommandFix(CCore& core, const SArgs& args) {
    CheckOptions(args, {"--categories", "--only", "--exclude", "--no-backup"}, 0);
    const std::set<int> only = args.Has("--only") ? ParseIds(args.mapOptions.at("--only")) : std::set<int>();
    const std::set<int> exclude =
        args.Has("--exclude") ? ParseIds(args.mapOptions.at("--exclude")) : std::set<int>();
    const DWORD dwCategories = Categories(args, core);
    RequireWritable(core);
    RunScan(core, dwCategories);
    int nSelected = 0;
    for (const auto& [nId, pRecord] : NumberedFindings(core.ScanManager())) {
        const bool bSelected = (only.empty() || only.count(nId) != 0) && exclude.count(nId) == 0;
        pRecord->m_nState = bSelected ? 1 : 0;
        nSelected += bSelected ? 1 : 0;
    }
    const bool bBackup = (core.Settings().GetGeneral() & CSettings::GENERAL_BACKUP_BEFORE_FIX) != 0 &&
                         !args.Has("--no-backup");
    if (bBackup && nSelected > 0) {
        const std::size_t nBefore = core.BackUpManager().GetBackups().size();
        if (!core.CreateBackup() || core.BackUpManager().GetBackups().size() == nBefore) {
            throw SFailure("Nothing was fixed, because the backup could not be taken.");
        }
        if (!args.bJson) {
            std::cout << "Backup: " << Narrow(core.BackUpManager().GetBackups().rbegin()->second)
                      << "\n";
        }
    }
    if (!core.Fix()) {
        throw SFailure(Narrow(core.ScanManager().GetLastError()));
    }
    const CFinishFixMessage finish = core.Waiter().GetFinishFix();
    core.ScanManager().SetQuietAfterFix(finish.m_mapStatistics);
    int nFixed = 0;
    Json::Value root(Json::objectValue);
    root["categories"] = Json::Value(Json::arrayValue);
    for (const SScanTypeInfo& info : ScanTypes()) {
        const SFixCount count = finish.m_mapStatistics.at(info.nBit);
        core.Settings().SetLastScan(info.nBit, count.nFound, count.nFixed, 0);
        nFixed += count.nFixed;
        if ((dwCategories & static_cast<DWORD>(info.nBit)) == 0) {
            continue;
        }
        if (args.bJson) {
            Json::Value category(Json::objectValue);
            category["category"] = BitNames(static_cast<DWORD>(info.nBit), kCategories);
            category["found"] = count.nFound;
            category["fixed"] = count.nFixed;
            root["categories"].append(category);
        } else if (count.nFound != 0) {
            std::cout << Narrow(info.pszDisplayName) << ": found " << count.nFound << ", fixed "
                      << count.nFixed << "\n";
        }
    }
    core.Settings().SetLastScanTime(std::time(nullptr));
    core.Settings().Serialize(true);
    if (args.bJson) {
        root["selected"] = nSelected;
        root["fixed"] = nFixed;
        std::cout << root << "\n";
    } else {
        std::cout << "Total: " << nFixed << " of " << nSelected << " selected problem(s) fixed.\n";
    }
    if (nFixed < nSelected) {
        throw SFailure(std::to_string(nSelected - nFixed) + " selected problem(s) could not be fixed.");
    }
    return kOk;
}

int CommandBackups(CCore& core, const SArgs& args) {
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    CBackUpManager& backups = core.BackUpManager();
    if (strVerb == "list") {
        CheckOptions(args, {}, 1);
        Json::Value list(Json::arrayValue);
        for (const auto& [nTime, strName] : backups.GetBackups()) {
            char szTime[32];
            const auto t = static_cast<std::time_t>(nTime);
            std::tm local{};
            localtime_r(&t, &local);
            std::strftime(szTime, sizeof(szTime), "%Y-%m-%d %H:%M:%S", &local);
            if (args.bJson) {
                Json::Value entry(Json::objectValue);
                entry["name"] = Narrow(strName);
                entry["time"] = Json::Int64(nTime);
                list.append(entry);
            } else {
                std::cout << Narrow(strName) << "\t" << szTime << "\n";
            }
        }
        if (args.bJson) {
            std::cout << list << "\n";
        }
        return kOk;
    }
    if (strVerb != "restore" && strVerb != "delete") {
        throw SUsageError("backups takes list, restore NAME or delete NAME.");
    }
    CheckOptions(args, {}, 2);
    const std::wstring strName = Utf8ToWide(args.vcWords[1]);
    std::wstring strError;
    if (strVerb == "restore") {
        RequireWritable(core);
        if (!core.RestoreBackup(strName)) {
            throw SFailure("The backup " + args.vcWords[1] + " was not restored.");
        }
        backups.DeleteBackup(strName, strError);
        std::cout << "Restored " << args.vcWords[1] << ".\n";
        return kOk;
    }
    if (!backups.DeleteBackup(strName, strError)) {
        throw SFailure("The backup " + args.vcWords[1] + " was not deleted: " + Narrow(strError));
    }
    std::cout << "Deleted " << args.vcWords[1] << ".\n";
    return kOk;
}

// The ignore list's entries in the order they are numbered.
std::vector<std::pair<std::int32_t, const CIgnoreEntry*>> IgnoreEntries(const CIgnoreList& list) {
    std::vector<std::pair<std::int32_t, const CIgnoreEntry*>> out;
    for (const SScanTypeInfo& info : ScanTypes()) {
        for (const CIgnoreEntry& entry : list.GetEntries(info.nBit)) {
            out.emplace_back(info.nBit, &entry);
        }
    }
    return out;
}

int CommandIgnore(CCore& core, const SArgs& args) {
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    CIgnoreList& list = core.ScanManager().GetIgnoreList();
    if (strVerb == "list") {
        CheckOptions(args, {}, 1);
        int n = 0;
        for (const auto& [nBit, pEntry] : IgnoreEntries(list)) {
            std::cout << ++n << ". " << Narrow(ScanTypeDisplayName(nBit)) << ": "
                      << Narrow(pEntry->m_strPath) << "\n";
        }
        return kOk;
    }
    if (strVerb == "add") {
        CheckOptions(args, {"--categories"}, 2);
        const std::set<int> ids = ParseIds(args.vcWords[1]);
        RunScan(core, Categories(args, core));
        const auto findings = NumberedFindings(core.ScanManager());
        for (const int nId : ids) {
            if (nId > static_cast<int>(findings.size())) {
                throw SFailure("There is no finding " + std::to_string(nId) + "; the scan found " +
                               std::to_string(findings.size()) + ".");
            }
        }
        for (const auto& [nId, pRecord] : findings) {
            if (ids.count(nId) != 0) {
                std::cout << "Ignored: " << Narrow(pRecord->GetFullPath()) << "\n";
                core.ScanManager().IgnoreError(pRecord->m_nScanType, pRecord);
            }
        }
        return kOk;
    }
    if (strVerb == "remove") {
        CheckOptions(args, {}, 2);
        const std::set<int> ids = ParseIds(args.vcWords[1]);
        const auto entries = IgnoreEntries(list);
        if (ids.size() != 1 || *ids.begin() > static_cast<int>(entries.size())) {
            throw SFailure("There is no entry " + args.vcWords[1] + " in the ignore list.");
        }
        const auto& [nBit, pEntry] = entries[static_cast<std::size_t>(*ids.begin() - 1)];
        std::cout << "Removed: " << Narrow(pEntry->m_strPath) << "\n";
        list.Remove(nBit, pEntry);
        if (!list.Save()) {
            throw SFailure("The ignore list could not be saved.");
        }
        return kOk;
    }
    throw SUsageError("ignore takes list, add IDS or remove N.");
}

int CommandHistory(CCore& core, const SArgs& args) {
    CheckOptions(args, {"--items"}, 0);
    const DWORD dwItems = args.Has("--items")
                              ? ParseNames(args.mapOptions.at("--items"), kHistoryItems, "history item")
                              : core.Settings().GetHistoryFlags();
    RequireWritable(core);
    if (!core.CleanHistory(dwItems)) {
        throw SFailure(Narrow(core.ScanManager().GetLastError()));
    }
    const std::vector<std::wstring> lines = core.Waiter().GetHistoryLines();
    for (const std::wstring& line : lines) {
        std::cout << "Erased: " << Narrow(line) << "\n";
    }
    std::cout << "Total: " << lines.size() << " item(s) erased.\n";
    return kOk;
}

bool ParseOnOff(const std::string& strValue) {
    if (strValue == "on") {
        return true;
    }
    if (strValue == "off") {
        return false;
    }
    throw SUsageError("The value must be on or off.");
}

int CommandSettings(CCore& core, const SArgs& args) {
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    CSettings& settings = core.Settings();
    struct SFlag {
        const char* pszName;
        DWORD dwBit;
    };
    constexpr SFlag kFlags[] = {{"backup-before-fix", CSettings::GENERAL_BACKUP_BEFORE_FIX},
                                {"fix-after-scan", CSettings::GENERAL_FIX_AFTER_SCAN},
                                {"hide-after-fix", CSettings::GENERAL_HIDE_AFTER_FIX}};
    if (strVerb == "show") {
        CheckOptions(args, {}, 1);
        for (const SFlag& flag : kFlags) {
            std::cout << flag.pszName << " " << ((settings.GetGeneral() & flag.dwBit) ? "on" : "off")
                      << "\n";
        }
        std::cout << "categories " << BitNames(settings.GetScanFlags(), kCategories) << "\n"
                  << "history-items " << BitNames(settings.GetHistoryFlags(), kHistoryItems) << "\n"
                  << "file " << Narrow(settings.GetPath()) << "\n";
        return kOk;
    }
    if (strVerb != "set") {
        throw SUsageError("settings takes show or set NAME VALUE.");
    }
    CheckOptions(args, {}, 3);
    const std::string& strName = args.vcWords[1];
    const std::string& strValue = args.vcWords[2];
    bool bKnown = false;
    for (const SFlag& flag : kFlags) {
        if (strName == flag.pszName) {
            settings.SetGeneralFlag(flag.dwBit, ParseOnOff(strValue));
            bKnown = true;
        }
    }
    if (strName == "categories") {
        const DWORD dw = ParseNames(strValue, kCategories, "category");
        settings.RemoveScanFlags(0xFFF & ~dw);
        settings.AddScanFlags(dw);
        bKnown = true;
    } else if (strName == "history-items") {
        const DWORD dw = ParseNames(strValue, kHistoryItems, "history item");
        settings.RemoveHistoryFlags(0x3FFF & ~dw);
        settings.AddHistoryFlags(dw);
        bKnown = true;
    }
    if (!bKnown) {
        throw SUsageError("'" + strName + "' is no setting; see corvane-cli settings --help.");
    }
    if (!settings.Serialize(true)) {
        throw SFailure("The settings could not be saved.");
    }
    return kOk;
}

int RunCommand(const SArgs& args, CCore& core);

int Main(int argc, char** argv) {
    SArgs args = ParseArgs(argc, argv);
    if (args.strCommand.empty()) {
        if (args.bHelp) {
            std::cout << kUsageText;
            return kOk;
        }
        throw SUsageError("Name a command; see corvane-cli --help.");
    }
    const SCommandHelp* pHelp = nullptr;
    for (const SCommandHelp& help : kHelp) {
        if (args.strCommand == help.pszName) {
            pHelp = &help;
        }
    }
    if (pHelp == nullptr) {
        throw SUsageError("'" + args.strCommand + "' is not a command; see corvane-cli --help.");
    }
    if (args.bHelp) {
        std::cout << pHelp->pszText;
        if (args.strCommand == "scan") {
            std::cout << NameList(kCategories) << "\n  --json              the result as JSON\n";
        } else if (args.strCommand == "history") {
            std::cout << NameList(kHistoryItems) << "\n";
        }
        return kOk;
    }
    std::optional<CDemoFolder> demo;
    if (args.bDemo) {
        demo.emplace(args.strKeep);
    }
    CCore core(OpenTarget(args, demo ? &*demo : nullptr), args.strCommand == "schedule",
               isatty(STDERR_FILENO) != 0 && !args.bJson);
    return RunCommand(args, core);
}

}  // namespace
}  // namespace Branwick::Cli

namespace Branwick::Cli {
int CommandSchedule(CCore& core, const std::vector<std::string>& vcWords);
namespace {
int RunCommand(const SArgs& args, CCore& core) {
    const std::string& c = args.strCommand;
    if (c == "scan") {
        return CommandScan(core, args);
    }
    if (c == "fix") {
        return CommandFix(core, args);
    }
    if (c == "backups") {
        return CommandBackups(core, args);
    }
    if (c == "ignore") {
        return CommandIgnore(core, args);
    }
    if (c == "history") {
        return CommandHistory(core, args);
    }
    if (c == "settings") {
        return CommandSettings(core, args);
    }
    CheckOptions(args, {}, args.vcWords.size());
    return CommandSchedule(core, args.vcWords);
}
}  // namespace
}  // namespace Branwick::Cli

int main(int argc, char** argv) {
    using namespace Branwick::Cli;
    try {
        return Main(argc, argv);
    } catch (const SUsageError& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", e.what());
        return kUsage;
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", e.what());
        return kUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-cli: %s\n", e.what());
        return kFailure;
    }
}
