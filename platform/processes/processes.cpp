#include "platform/processes/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/files/files.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

// 100 ns units per clock tick of /proc.
std::uint64_t HundredNsPerTick() {
    static const std::uint64_t s_nPerTick = [] {
        const long nHz = sysconf(_SC_CLK_TCK);
        return nHz > 0 ? 10'000'000ULL / static_cast<std::uint64_t>(nHz) : 100'000ULL;
    }();
    return s_nPerTick;
}

std::uint64_t PageKB() {
    static const std::uint64_t s_nKB = [] {
        const long nPage = sysconf(_SC_PAGESIZE);
        return nPage > 0 ? static_cast<std::uint64_t>(nPage) / 1024 : 4ULL;
    }();
    return s_nKB;
}

// The whole of a small /proc file (at most nLimit bytes); false when it cannot be read.
bool ReadSmallFile(const std::string& strPath, std::string& strOut, std::size_t nLimit = 1 << 16) {
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    strOut.clear();
    char buf[4096];
    bool bOk = true;
    while (strOut.size() < nLimit) {
        const ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            bOk = false;
            break;
        }
        if (n == 0) {
            break;
        }
        strOut.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return bOk;
}

std::string ReadLink(const std::string& strPath) {
    char buf[4096];
    const ssize_t n = readlink(strPath.c_str(), buf, sizeof(buf));
    return n > 0 && static_cast<std::size_t>(n) < sizeof(buf) ? std::string(buf, static_cast<std::size_t>(n))
                                                             : std::string();
}

std::string_view BaseName(std::string_view path) {
    const std::size_t pos = path.find_last_of('/');
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::uint64_t ToNumber(std::string_view s) {
    std::uint64_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') {
            break;
        }
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

// The fields of /proc/PID/stat after the command name; the name itself may hold spaces and
// parentheses, so it ends at the last ')'.
bool ParseStat(const std::string& strStat, CProcessRecord& record) {
    const std::size_t open = strStat.find('(');
    const std::size_t close = strStat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    record.m_strCommand = FromUtf8(std::string_view(strStat).substr(open + 1, close - open - 1));
    std::vector<std::string_view> vcFields;  // vcFields[0] is field 3 (state)
    std::string_view rest = std::string_view(strStat).substr(close + 1);
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(start);
        const std::size_t end = rest.find(' ');
        vcFields.push_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (vcFields.size() < 22) {
        return false;
    }
    const std::uint64_t nTick = HundredNsPerTick();
    record.m_nUserTime = ToNumber(vcFields[11]) * nTick;    // utime, field 14
    record.m_nKernelTime = ToNumber(vcFields[12]) * nTick;  // stime, field 15
    record.m_nStartTime = ToNumber(vcFields[19]);           // starttime, field 22
    record.m_nWorkingSetKB = ToNumber(vcFields[21]) * PageKB();  // rss, field 24
    return true;
}

// The NUL-separated strings of /proc/PID/cmdline or /environ.
std::vector<std::string_view> SplitNul(std::string_view data) {
    std::vector<std::string_view> vc;
    while (!data.empty()) {
        const std::size_t end = data.find('\0');
        vc.push_back(data.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        data.remove_prefix(end + 1);
    }
    return vc;
}

bool IsWineLoader(std::string_view exe) {
    const std::string_view name = BaseName(exe);
    return name == "wine" || name == "wine64" || name == "wine-preloader" || name == "wine64-preloader";
}

bool IsWindowsFullPath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

// The prefix Wine uses for a process with this environment: WINEPREFIX, else ~/.wine.
std::string PrefixOf(const std::vector<std::string_view>& vcEnv) {
    std::string_view home;
    for (const std::string_view var : vcEnv) {
        if (var.starts_with("WINEPREFIX=") && var.size() > 11) {
            return std::string(var.substr(11));
        }
        if (var.starts_with("HOME=")) {
            home = var.substr(5);
        }
    }
    return home.empty() ? std::string() : std::string(home) + "/.wine";
}

// The Windows path of a host file through the drive whose folder holds it most closely.
std::wstring WindowsPathOf(const CDriveMap& map, const std::string& strHost) {
    std::size_t nBest = 0;
    std::wstring strBest;
    for (const auto& [chDrive, strFolder] : map.m_mapDrives) {
        const std::string strRoot = RealPath(strFolder);
        if (strRoot.empty() || !IsBelowOrSame(strHost, strRoot) || (!strBest.empty() && strRoot.size() <= nBest)) {
            continue;
        }
        std::string strRest = strHost.substr(strRoot == "/" ? 0 : strRoot.size());
        for (char& c : strRest) {
            c = c == '/' ? '\\' : c;
        }
        if (strRest.empty() || strRest[0] != '\\') {
            strRest.insert(strRest.begin(), '\\');
        }
        strBest = std::wstring(1, chDrive) + L":" + FromUtf8(strRest);
        nBest = strRoot.size();
    }
    return strBest;
}

}  // namespace

bool GetSystemTimes(CSystemTimes& times) {
    std::string strStat;
    if (!ReadSmallFile("/proc/stat", strStat, 4096) || !strStat.starts_with("cpu ")) {
        return false;
    }
    // user nice system idle iowait irq softirq steal: Windows counts idle time as kernel time.
    std::uint64_t a[8] = {};
    std::string_view rest = std::string_view(strStat).substr(4);
    for (std::uint64_t& n : a) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos || rest[start] == '\n') {
            return false;
        }
        rest.remove_prefix(start);
        n = ToNumber(rest);
        const std::size_t end = rest.find_first_of(" \n");
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    const std::uint64_t nTick = HundredNsPerTick();
    times.m_nUser = (a[0] + a[1]) * nTick;
    times.m_nKernel = (a[2] + a[3] + a[4] + a[5] + a[6] + a[7]) * nTick;
    return true;
}

CProcessSource::CProcessSource() = default;
CProcessSource::~CProcessSource() = default;

std::vector<CProcessRecord> CProcessSource::List() {
    std::vector<CProcessRecord> vc;
    DIR* dir = opendir("/proc");
    if (dir == nullptr) {
        return vc;
    }
    while (const dirent* d = readdir(dir)) {
        if (d->d_name[0] < '1' || d->d_name[0] > '9') {
            continue;
        }
        CProcessRecord record;
        if (Read(static_cast<DWORD>(ToNumber(d->d_name)), record)) {
            vc.push_back(std::move(record));
        }
    }
    closedir(dir);
    return vc;
}

bool CProcessSource::Read(DWORD dwPid, CProcessRecord& record) {
    const std::string strDir = "/proc/" + std::to_string(dwPid);
    std::string strStat;
    if (!ReadSmallFile(strDir + "/stat", strStat, 4096) || !ParseStat(strStat, record)) {
        return false;
    }
    record.m_dwPid = dwPid;
    std::string strExe = ReadLink(strDir + "/exe");
    if (IsWineLoader(strExe)) {
        ResolveWine(dwPid, record);
        return true;
    }
    // An executable replaced or removed since it started keeps running from the old file.
    if (constexpr std::string_view kDeleted = " (deleted)"; strExe.ends_with(kDeleted)) {
        strExe.resize(strExe.size() - kDeleted.size());
    }
    record.m_strPath = FromUtf8(strExe);
    record.m_strHostFile = strExe;
    return true;
}

void CProcessSource::ResolveWine(DWORD dwPid, CProcessRecord& record) {
    const std::string strDir = "/proc/" + std::to_string(dwPid);
    std::string strCmd;
    std::string strEnv;
    if (!ReadSmallFile(strDir + "/cmdline", strCmd) || strCmd.empty()) {
        return;
    }
    const std::vector<std::string_view> vcArgs = SplitNul(strCmd);
    const std::string_view image = vcArgs.front();
    if (ReadSmallFile(strDir + "/environ", strEnv, 1 << 20)) {
        record.m_strPrefix = PrefixOf(SplitNul(strEnv));
    }
    CFileSystem* pFiles = record.m_strPrefix.empty() ? nullptr : PrefixFiles(record.m_strPrefix);
    if (IsWindowsFullPath(image)) {
        record.m_strPath = FromUtf8(image);
        if (pFiles != nullptr && !pFiles->HostPath(record.m_strPath, record.m_strHostFile).Ok()) {
            record.m_strHostFile.clear();
        }
        return;
    }
    // Started by a host path: shown through the prefix's drives as Windows would show it. A bare
    // name says too little to find the file; it is shown as it is.
    if (image.starts_with('/')) {
        record.m_strHostFile = std::string(image);
        if (pFiles != nullptr) {
            record.m_strPath = WindowsPathOf(pFiles->DriveMap(), RealPath(record.m_strHostFile));
        }
    }
    if (record.m_strPath.empty()) {
        record.m_strPath = FromUtf8(image);
    }
}

CFileSystem* CProcessSource::PrefixFiles(const std::string& strPrefix) {
    auto it = m_mapPrefixes.find(strPrefix);
    if (it == m_mapPrefixes.end()) {
        std::unique_ptr<CFileSystem> pFiles;
        if (access((strPrefix + "/dosdevices").c_str(), F_OK) == 0 ||
            access((strPrefix + "/system.reg").c_str(), F_OK) == 0) {
            pFiles = std::make_unique<CFileSystem>(WineDriveMap(strPrefix));
        }
        it = m_mapPrefixes.emplace(strPrefix, std::move(pFiles)).first;
    }
    return it->second.get();
}

LONG TerminateProcess(DWORD dwPid, std::uint64_t nStartTime) {
    // A pidfd pins the process: once it is open and the start time matches, the signal reaches
    // that process even if it ends and its id is reused in between.
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(dwPid), 0));
    if (fd < 0) {
        return errno == ESRCH ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
    }
    std::string strStat;
    CProcessRecord record;
    LONG nResult = ERROR_SUCCESS;
    if (!ReadSmallFile("/proc/" + std::to_string(dwPid) + "/stat", strStat, 4096) || !ParseStat(strStat, record) ||
        record.m_nStartTime != nStartTime) {
        nResult = ERROR_INVALID_PARAMETER;
    } else if (syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0) != 0) {
        nResult = errno == ESRCH ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
    }
    close(fd);
    return nResult;
}

}  // namespace Branwick::Platform
