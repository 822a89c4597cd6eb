#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/module/module.h"
#include "platform/packages/packages.h"
#include "platform/processes/processes.h"
#include "platform/text/text.h"
#include "tools/ProcessManager/CppSQLite3.h"
#include "tools/ProcessManager/PeFile.h"
#include "tools/ProcessManager/ProcessManager.h"

namespace Branwick {

namespace {

// What a file says about itself; kept while the file is unchanged.
struct CFileFacts {
    std::uintmax_t m_nSize = 0;
    std::filesystem::file_time_type m_time;
    std::wstring m_strDescription;
    std::wstring m_strSigner;
};

std::optional<std::pair<std::uintmax_t, std::filesystem::file_time_type>> Identity(const std::string& strPath) {
    std::error_code ec;
    const std::uintmax_t nSize = std::filesystem::file_size(strPath, ec);
    if (ec) {
        return std::nullopt;
    }
    const auto time = std::filesystem::last_write_time(strPath, ec);
    if (ec) {
        return std::nullopt;
    }
    return std::make_pair(nSize, time);
}

// A native program has no version resource; the package it came with describes it instead.
CFileFacts ReadFacts(const std::string& strPath, Platform::CPackageIndex& packages) {
    CFileFacts facts;
    facts.m_strSigner = kNotSigned;
    Tools::CFileSource source(strPath);
    if (!source.IsOpen()) {
        return facts;
    }
    Tools::CPeFile pe(source);
    if (!pe.IsPe()) {
        facts.m_strDescription = packages.Summary(strPath);
        return facts;
    }
    facts.m_strDescription = pe.FileDescription();
    const Tools::CSignerInfo signer = pe.Signer();
    if (signer.m_eState == Tools::ESignature::Invalid) {
        facts.m_strSigner = kInvalidSignature;
    } else if (signer.m_eState == Tools::ESignature::Signed) {
        facts.m_strSigner = signer.m_strName;
    }
    return facts;
}

std::wstring FileNameOf(const std::wstring& strPath) {
    const std::size_t pos = strPath.find_last_of(L"\\/");
    return pos == std::wstring::npos ? strPath : strPath.substr(pos + 1);
}

}  // namespace

struct CProcessCollector::CState {
    Platform::CProcessSource source;
    Platform::CPackageIndex packages;
    std::map<DWORD, CProcessInfo> mapPrevious;
    std::uint64_t nPreviousKernel = 0;
    std::uint64_t nPreviousUser = 0;
    std::unordered_map<std::string, CFileFacts> mapFiles;
    CppSQLite3DB db;
    CppSQLite3Statement unwanted;
    CppSQLite3Statement malicious;
    bool bDatabase = false;

    ProcessStatus Lookup(const std::wstring& strName);
    const CFileFacts* Facts(const std::string& strPath);
    void Describe(const Platform::CProcessRecord& record, CProcessInfo& info);
};

ProcessStatus CProcessCollector::CState::Lookup(const std::wstring& strName) {
    if (!bDatabase) {
        return ProcessStatus::NotListed;
    }
    const std::string strUtf8 = Platform::ToUtf8(strName);
    try {
        for (auto [pStatement, eStatus] : {std::pair{&unwanted, ProcessStatus::Unwanted},
                                           std::pair{&malicious, ProcessStatus::Malicious}}) {
            pStatement->bind(1, strUtf8);
            CppSQLite3Query query = pStatement->execQuery();
            const bool bListed = !query.eof();
            query.finalize();
            if (bListed) {
                return eStatus;
            }
        }
    } catch (const CppSQLite3Exception&) {
        // A database that fails while being read (replaced under us, damaged) answers nothing.
    }
    return ProcessStatus::NotListed;
}

const CFileFacts* CProcessCollector::CState::Facts(const std::string& strPath) {
    const auto identity = Identity(strPath);
    if (!identity) {
        return nullptr;
    }
    auto it = mapFiles.find(strPath);
    if (it == mapFiles.end() || it->second.m_nSize != identity->first || it->second.m_time != identity->second) {
        CFileFacts facts = ReadFacts(strPath, packages);
        facts.m_nSize = identity->first;
        facts.m_time = identity->second;
        it = mapFiles.insert_or_assign(strPath, std::move(facts)).first;
    }
    return &it->second;
}

void CProcessCollector::CState::Describe(const Platform::CProcessRecord& record, CProcessInfo& info) {
    info.m_strSigner = kNotSigned;
    if (record.m_strPath.empty()) {
        info.m_strName = record.m_strCommand;
        return;
    }
    info.m_strName = FileNameOf(record.m_strPath);
    info.m_eStatus = Lookup(info.m_strName);
    if (record.m_strHostFile.empty()) {
        return;
    }
    if (const CFileFacts* pFacts = Facts(record.m_strHostFile)) {
        info.m_strDescription = pFacts->m_strDescription;
        info.m_strSigner = pFacts->m_strSigner;
    }
}

std::string DefaultProcessesDatabase() { return Platform::GetDataFolder() + "Processes.db"; }

CProcessCollector::CProcessCollector(const std::string& strDatabase) : m_pState(std::make_unique<CState>()) {
    try {
        m_pState->db.open(strDatabase);
        m_pState->unwanted = m_pState->db.compileStatement("SELECT rowid FROM unwanted WHERE process_name = ?");
        m_pState->malicious = m_pState->db.compileStatement("SELECT rowid FROM malicious WHERE process_name = ?");
        m_pState->bDatabase = true;
    } catch (const CppSQLite3Exception& e) {
        m_strDatabaseError = L"The reputation list of processes is unavailable (" + Platform::FromUtf8(e.errorMessage()) +
                             L"); no process is marked.";
    }
}

CProcessCollector::~CProcessCollector() = default;

bool CProcessCollector::Sample(std::map<DWORD, CProcessInfo>& mapOut) {
    CState& s = *m_pState;
    Platform::CSystemTimes before;
    Platform::CSystemTimes after;
    if (!Platform::GetSystemTimes(before)) {
        return false;
    }
    const std::vector<Platform::CProcessRecord> vcRecords = s.source.List();
    if (!Platform::GetSystemTimes(after)) {
        return false;
    }
    // The processes are read over a while; the middle of it is the moment the sample stands for.
    const std::uint64_t nKernel = before.m_nKernel / 2 + after.m_nKernel / 2;
    const std::uint64_t nUser = before.m_nUser / 2 + after.m_nUser / 2;
    const std::uint64_t nSystemDelta = (nKernel - s.nPreviousKernel) + (nUser - s.nPreviousUser);

    std::map<DWORD, CProcessInfo> mapCurrent;
    for (const Platform::CProcessRecord& record : vcRecords) {
        CProcessInfo info;
        info.m_dwProcessId = record.m_dwPid;
        info.m_nStartTime = record.m_nStartTime;
        info.m_strPath = record.m_strPath;
        info.m_strPrefix = Platform::FromUtf8(record.m_strPrefix);
        info.m_nMemory = record.m_nWorkingSetKB;
        info.m_nKernelTime = record.m_nKernelTime;
        info.m_nUserTime = record.m_nUserTime;
        const auto it = s.mapPrevious.find(record.m_dwPid);
        // A process id can be taken over by a new process; only the same process is measured
        // against its previous sample, and only its own earlier findings are kept.
        if (it != s.mapPrevious.end() && it->second.m_nStartTime == record.m_nStartTime &&
            it->second.m_strPath == record.m_strPath) {
            const CProcessInfo& previous = it->second;
            info.m_strName = previous.m_strName;
            info.m_strDescription = previous.m_strDescription;
            info.m_strSigner = previous.m_strSigner;
            info.m_eStatus = previous.m_eStatus;
            const std::uint64_t nNow = info.m_nKernelTime + info.m_nUserTime;
            const std::uint64_t nThen = previous.m_nKernelTime + previous.m_nUserTime;
            if (nSystemDelta > 0 && nNow >= nThen) {
                info.m_dCpuUsage = 100.0 * static_cast<double>(nNow - nThen) / static_cast<double>(nSystemDelta);
            }
        } else {
            s.Describe(record, info);
        }
        mapCurrent.emplace(info.m_dwProcessId, std::move(info));
    }
    s.nPreviousKernel = nKernel;
    s.nPreviousUser = nUser;
    s.mapPrevious = mapCurrent;
    mapOut = std::move(mapCurrent);
    return true;
}

std::wstring EndProcess(const CProcessInfo& process) {
    const std::wstring strWho = L"The process " + std::to_wstring(process.m_dwProcessId) + L" (" + process.m_strName + L")";
    switch (Platform::TerminateProcess(process.m_dwProcessId, process.m_nStartTime)) {
        case ERROR_SUCCESS:
            return {};
        case ERROR_INVALID_PARAMETER:
            return strWho + L" has already ended.";
        default:
            return strWho + L" belongs to another user; only your own processes can be ended without administrator rights.";
    }
}

}  // namespace Branwick
