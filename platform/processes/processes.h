// The running processes of this machine, as the process list of Windows would show them: id,
// executable, working set and CPU times in Windows units. A Wine process shows the Windows
// executable it runs (not the Wine loader) and the prefix it runs in.
//
// Threads: every function may be called from any thread; CProcessSource is used by one thread at
// a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

class CFileSystem;

// GetSystemTimes: the time all processors spent in kernel mode (idle time included, as Windows
// counts it) and in user mode since boot, in 100 ns units.
struct CSystemTimes {
    std::uint64_t m_nKernel = 0;
    std::uint64_t m_nUser = 0;
};

// False when the counters cannot be read.
bool GetSystemTimes(CSystemTimes& times);

struct CProcessRecord {
    DWORD m_dwPid = 0;
    // When the process started (clock ticks since boot): a process id that comes back with another
    // start time is another process.
    std::uint64_t m_nStartTime = 0;
    std::wstring m_strCommand;       // the kernel's short command name
    // The executable as the process list shows it: a Wine process's Windows path ("C:\x\app.exe"),
    // else the host path. Empty for a kernel thread and for a process whose executable this user
    // may not see.
    std::wstring m_strPath;
    std::string m_strPrefix;          // the prefix folder of a Wine process; empty otherwise
    // The host file behind m_strPath, for reading its resources and signature; empty when it is
    // unknown (a Windows path that does not resolve through the prefix's drives).
    std::string m_strHostFile;
    std::uint64_t m_nWorkingSetKB = 0;
    std::uint64_t m_nKernelTime = 0;  // 100 ns
    std::uint64_t m_nUserTime = 0;    // 100 ns
};

// Lists processes, keeping what it learnt about Wine prefixes (their drive maps) between calls.
class CProcessSource {
public:
    CProcessSource();
    ~CProcessSource();
    CProcessSource(const CProcessSource&) = delete;
    CProcessSource& operator=(const CProcessSource&) = delete;

    // Every process that exists while the call reads /proc (threads are not processes). A process
    // that ends while it is read is left out.
    std::vector<CProcessRecord> List();

    // One process; false when it does not exist (any more).
    bool Read(DWORD dwPid, CProcessRecord& record);

private:
    void ResolveWine(DWORD dwPid, CProcessRecord& record);
    CFileSystem* PrefixFiles(const std::string& strPrefix);

    std::map<std::string, std::unique_ptr<CFileSystem>> m_mapPrefixes;
};

// TerminateProcess: ends the process at once (SIGKILL), but only when it is still the one that
// started at nStartTime, so that a process id taken over by a new process is never hit.
// ERROR_SUCCESS; ERROR_INVALID_PARAMETER when it no longer exists (as OpenProcess answers for an
// unknown id); ERROR_ACCESS_DENIED when it belongs to another user and this one has no privilege.
LONG TerminateProcess(DWORD dwPid, std::uint64_t nStartTime);

}  // namespace Branwick::Platform
