// The process manager: the running processes, sampled on request, each with its CPU share,
// memory, description, signer and reputation; and ending a process.
//
// Threads: a CProcessCollector is used by one thread at a time; EndProcess from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/win32/win32.h"

namespace Branwick {

// Whether the process's file name is listed in the reputation database.
enum class ProcessStatus { NotListed = 0, Unwanted = 1, Malicious = 2 };

// What the signer column shows besides a signer's name.
inline constexpr wchar_t kNotSigned[] = L"Not Signed";
inline constexpr wchar_t kInvalidSignature[] = L"Invalid Signature";

struct CProcessInfo {
    DWORD m_dwProcessId = 0;
    std::uint64_t m_nStartTime = 0;  // tells a process from a later one with the same id
    // The executable's file name; the kernel's command name when there is no path.
    std::wstring m_strName;
    // A Wine process's Windows executable, a native process's host executable; empty for a
    // kernel thread and for an executable this user may not see.
    std::wstring m_strPath;
    std::wstring m_strPrefix;        // the Wine prefix a Wine process runs in
    std::uint64_t m_nMemory = 0;     // working set, KB
    std::uint64_t m_nKernelTime = 0; // 100 ns
    std::uint64_t m_nUserTime = 0;   // 100 ns
    std::wstring m_strDescription;
    std::wstring m_strSigner;        // a name, kNotSigned or kInvalidSignature
    double m_dCpuUsage = 0;          // percent of all processors since the previous sample
    ProcessStatus m_eStatus = ProcessStatus::NotListed;
};

// "Processes.db" in the program's installed data folder.
std::string DefaultProcessesDatabase();

class CProcessCollector {
public:
    // Opens the reputation database read-only. A database that is missing or lacks its tables
    // leaves every process NotListed, and DatabaseError() says why.
    explicit CProcessCollector(const std::string& strDatabase);
    ~CProcessCollector();
    CProcessCollector(const CProcessCollector&) = delete;
    CProcessCollector& operator=(const CProcessCollector&) = delete;

    // Empty when the reputation list is in use; otherwise one sentence saying it is unavailable.
    const std::wstring& DatabaseError() const { return m_strDatabaseError; }

    // One full sample: every running process by id. A process's CPU share is measured against
    // the previous sample (0 the first time it is seen). False, with mapOut untouched, when the
    // system's times cannot be read.
    bool Sample(std::map<DWORD, CProcessInfo>& mapOut);

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
    std::wstring m_strDatabaseError;
};

// Ends the process at once, as TerminateProcess does. Empty on success; otherwise the sentence
// to show: it has already ended, or it belongs to another user (only one's own processes can be
// ended without administrator rights).
std::wstring EndProcess(const CProcessInfo& process);

}  // namespace Branwick
