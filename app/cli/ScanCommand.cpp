// corvane-cli scan: the problems found, numbered, by category.
#include <iostream>

#include <json/json.h>

#include "app/cli/Commands.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] scan [--categories LIST] [--json]

Scans the target and lists the problems found, grouped by category, each with a number (the id
that fix --only/--exclude and ignore add take), its full path and what fixing it does.
  --categories LIST   comma-separated categories (default: those of the settings):
                      )" +
           NameList(kCategoryNames) + "\n  --json              the result as JSON\n";
}

// The registry view a key was found in; null for a file.
Json::Value ViewName(const CRegError& record, const Platform::CRegistry& registry) {
    if (record.m_hRoot == 0) {
        return Json::Value();
    }
    const bool b32 = (record.m_dwRegSam & KEY_WOW64_32KEY) != 0 ||
                     ((record.m_dwRegSam & KEY_WOW64_64KEY) == 0 && !registry.Is64Bit());
    return b32 ? "32-bit" : "64-bit";
}

// A scan of a prefix that a wineserver serves reads what the server last saved.
void NoteRunningWineserver(const CCore& core) {
    if (core.Target().Registry().CheckWritable().m_lCode == ERROR_SHARING_VIOLATION) {
        std::cerr << "Note: a wineserver runs for this prefix; the registry files may be up to "
                     "half a minute older than what its programs see (wineserver saves them "
                     "periodically).\n";
    }
}

// A scan over what could not be read is incomplete: say so, with the first few places; the
// JSON result carries them all.
void NoteWhatWasNotRead(const CCore& core) {
    constexpr std::size_t kShown = 5;
    const std::vector<std::wstring> warnings = core.Target().Registry().LoadWarnings();
    for (std::size_t i = 0; i < warnings.size() && i < kShown; ++i) {
        std::cerr << "Warning: " << Narrow(warnings[i]) << "\n";
    }
    if (warnings.size() > kShown) {
        std::cerr << "Warning: " << warnings.size() - kShown
                  << " more (--json lists them as \"not_read\").\n";
    }
}

void PrintJson(CCore& core) {
    CScanManager& scan = core.ScanManager();
    const auto findings = core.Session().Findings();
    const DWORD dwQuiet = core.Session().QuietCategories();
    const Platform::CRegistry& registry = core.Target().Registry();
    Json::Value root(Json::objectValue);
    root["target"] = core.Target().Folder();
    root["not_read"] = Json::Value(Json::arrayValue);
    for (const std::wstring& strWarning : registry.LoadWarnings()) {
        root["not_read"].append(Narrow(strWarning));
    }
    root["categories"] = Json::Value(Json::arrayValue);
    for (const SScanTypeInfo& info : ScanTypes()) {
        if ((scan.GetScanCategories() & static_cast<DWORD>(info.nBit)) == 0) {
            continue;
        }
        Json::Value category(Json::objectValue);
        category["category"] = BitNames(static_cast<DWORD>(info.nBit), kCategoryNames);
        category["name"] = Narrow(info.pszDisplayName);
        category["quiet"] = (dwQuiet & static_cast<DWORD>(info.nBit)) != 0;
        category["findings"] = Json::Value(Json::arrayValue);
        for (const auto& [nId, pRecord] : findings) {
            if (pRecord->m_nScanType != info.nBit) {
                continue;
            }
            Json::Value finding(Json::objectValue);
            finding["id"] = nId;
            finding["path"] = Narrow(pRecord->GetDisplayPath(registry));
            finding["description"] = Narrow(pRecord->m_sDescription);
            finding["view_bits"] =
                pRecord->m_hRoot == 0 ? 0 : static_cast<int>(pRecord->m_dwRegSam);
            finding["view"] = ViewName(*pRecord, registry);
            const std::wstring strWhy = core.Session().WhyLeftAlone(*pRecord);
            finding["left_alone"] = !strWhy.empty();
            if (!strWhy.empty()) {
                finding["left_alone_reason"] = Narrow(strWhy);
            }
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
}

void PrintText(CCore& core) {
    const auto findings = core.Session().Findings();
    for (const SScanTypeInfo& info : ScanTypes()) {
        const std::size_t nCount = core.ScanManager().GetErrorCount(info.nBit);
        if (nCount == 0) {
            continue;
        }
        std::cout << Narrow(info.pszDisplayName) << " (" << nCount << ")\n";
        for (const auto& [nId, pRecord] : findings) {
            if (pRecord->m_nScanType != info.nBit) {
                continue;
            }
            std::cout << "  " << nId << ". "
                      << Narrow(pRecord->GetDisplayPath(core.Target().Registry())) << "\n"
                      << "     " << Narrow(pRecord->m_sDescription) << "\n";
            for (const std::string& strFix : FixTexts(*pRecord)) {
                std::cout << "     fix: " << strFix << "\n";
            }
            if (const std::wstring strWhy = core.Session().WhyLeftAlone(*pRecord);
                !strWhy.empty()) {
                std::cout << "     left alone by fix: " << Narrow(strWhy) << "\n";
            }
        }
    }
    const DWORD dwQuiet = core.Session().QuietCategories();
    if (dwQuiet != 0) {
        std::cout << "Quiet for seven days after a fix, not reported: "
                  << BitNames(dwQuiet, kCategoryNames) << "\n";
    }
    std::cout << "Total: " << findings.size() << " problem(s) found.\n";
}

int Run(CInvocation& invocation) {
    invocation.CheckWords(0);
    CCore& core = invocation.Core();
    NoteRunningWineserver(core);
    NoteWhatWasNotRead(core);
    RunScan(core, Categories(invocation));
    if (invocation.Args().bJson) {
        PrintJson(core);
    } else {
        PrintText(core);
    }
    return kOk;
}

}  // namespace

const SCommand kScanCommand = {"scan", "list the problems found", &Help,
                               {{"--categories", true}}, false, true, &Run};

}  // namespace Branwick::Cli
