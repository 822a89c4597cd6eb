// corvane-cli ignore: the problems that scans leave alone.
#include <iostream>

#include "app/cli/Commands.h"

namespace Branwick::Cli {

namespace {

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] ignore list|add IDS|remove N [--categories LIST]

  list           the ignored problems, numbered
  add IDS        scans and adds the findings with these numbers to the ignore list
  remove N       removes entry N of the list
)";
}

// An entry's path as scan prints its finding (a 32-bit-view key where the native view has it).
std::string EntryPath(const CIgnoreEntry& entry, const Platform::CRegistry& registry) {
    const std::wstring strRoot = GetRootKeyName(entry.m_hRoot);
    if (strRoot.empty() || entry.m_strPath.rfind(strRoot + L"\\", 0) != 0) {
        return Narrow(entry.m_strPath);
    }
    const CRegError record(0, entry.m_hRoot, entry.m_strPath.substr(strRoot.size() + 1), L"",
                           entry.m_dwRegSam, false);
    return Narrow(record.GetDisplayPath(registry));
}

// The ignore list's entries in the order they are numbered.
std::vector<std::pair<std::int32_t, const CIgnoreEntry*>> Entries(const CIgnoreList& list) {
    std::vector<std::pair<std::int32_t, const CIgnoreEntry*>> out;
    for (const SScanTypeInfo& info : ScanTypes()) {
        for (const CIgnoreEntry& entry : list.GetEntries(info.nBit)) {
            out.emplace_back(info.nBit, &entry);
        }
    }
    return out;
}

void Add(CInvocation& invocation) {
    CCore& core = invocation.Core();
    const std::set<int> ids = ParseIds(invocation.Args().vcWords[1]);
    RunScan(core, Categories(invocation));
    const auto findings = core.Session().Findings();
    for (const int nId : ids) {
        if (nId > static_cast<int>(findings.size())) {
            throw SFailure("There is no finding " + std::to_string(nId) + "; the scan found " +
                           std::to_string(findings.size()) + ".");
        }
    }
    for (const auto& [nId, pRecord] : findings) {
        if (ids.count(nId) != 0) {
            const std::string strPath = Narrow(pRecord->GetDisplayPath(core.Target().Registry()));
            if (!core.ScanManager().IgnoreError(pRecord->m_nScanType, pRecord)) {
                throw SFailure(Narrow(core.ScanManager().GetIgnoreList().LastError()));
            }
            std::cout << "Ignored: " << strPath << "\n";
        }
    }
}

void Remove(CInvocation& invocation) {
    const std::string& strEntry = invocation.Args().vcWords[1];
    CCore& core = invocation.Core();
    CIgnoreList& list = core.ScanManager().GetIgnoreList();
    const std::set<int> ids = ParseIds(strEntry);
    const auto entries = Entries(list);
    if (ids.size() != 1 || *ids.begin() > static_cast<int>(entries.size())) {
        throw SFailure("There is no entry " + strEntry + " in the ignore list.");
    }
    const auto& [nBit, pEntry] = entries[static_cast<std::size_t>(*ids.begin() - 1)];
    const std::string strPath = EntryPath(*pEntry, core.Target().Registry());
    if (!list.Remove(nBit, pEntry)) {
        throw SFailure(Narrow(list.LastError()));
    }
    std::cout << "Removed: " << strPath << "\n";
}

int Run(CInvocation& invocation) {
    const SArgs& args = invocation.Args();
    const std::string strVerb = args.vcWords.empty() ? "" : args.vcWords[0];
    if (strVerb == "list") {
        invocation.CheckWords(1, false);
        CCore& core = invocation.Core();
        int n = 0;
        for (const auto& [nBit, pEntry] : Entries(core.ScanManager().GetIgnoreList())) {
            std::cout << ++n << ". " << Narrow(ScanTypeDisplayName(nBit)) << ": "
                      << EntryPath(*pEntry, core.Target().Registry()) << "\n";
        }
        return kOk;
    }
    if (strVerb == "add") {
        invocation.CheckWords(2);
        Add(invocation);
        return kOk;
    }
    if (strVerb == "remove") {
        invocation.CheckWords(2, false);
        Remove(invocation);
        return kOk;
    }
    throw SUsageError("ignore takes list, add IDS or remove N.");
}

}  // namespace

const SCommand kIgnoreCommand = {"ignore",
                                 "list or change the problems that scans leave alone",
                                 &Help, {{"--categories", true}}, false, true, &Run};

}  // namespace Branwick::Cli
