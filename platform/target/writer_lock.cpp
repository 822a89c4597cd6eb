#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/target/target.h"
#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

// The process that holds an flock on the file, from /proc/locks; 0 when it cannot be told (a
// holder in another pid namespace shows no pid).
pid_t LockHolder(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return 0;
    }
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (in >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" && where == device && pid > 0) {
            return static_cast<pid_t>(pid);
        }
    }
    return 0;
}

// Who holds the lock on fd, as the start of a sentence.
std::wstring HolderText(int fd) {
    const pid_t holder = LockHolder(fd);
    if (holder <= 0) {
        return L"Another process";
    }
    std::ifstream comm("/proc/" + std::to_string(holder) + "/comm");
    std::string name;
    std::getline(comm, name);
    const std::wstring pid = L"pid " + std::to_wstring(holder);
    return name.empty() ? L"Another process (" + pid + L")" : L"Another process (" + FromUtf8(name) + L", " + pid + L")";
}

}  // namespace

CWriterLock::~CWriterLock() { Release(); }

void CWriterLock::Release() {
    if (m_pTarget == nullptr) {
        return;
    }
    std::lock_guard lock(m_pTarget->m_lockMutex);
    if (--m_pTarget->m_nLockCount == 0) {
        close(m_pTarget->m_nLockFd);  // drops the flock
        m_pTarget->m_nLockFd = -1;
    }
    m_pTarget = nullptr;
}

bool CWriterLock::Acquire(const CTarget& target, int nWaitMs, std::wstring& strError) {
    if (m_pTarget != nullptr) {
        return true;
    }
    std::lock_guard lock(target.m_lockMutex);
    if (target.m_nLockCount > 0) {
        ++target.m_nLockCount;
        m_pTarget = &target;
        return true;
    }
    const std::string& strFolder = target.Folder();
    const int fd = open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        strError = L"The target " + FromUtf8(strFolder) + L" cannot be locked for writing: " +
                   FromUtf8(std::strerror(errno)) + L".";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nWaitMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            strError = L"The target " + FromUtf8(strFolder) + L" cannot be locked for writing: " +
                       FromUtf8(std::strerror(errno)) + L".";
            close(fd);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            strError = HolderText(fd) + L" is changing " + FromUtf8(strFolder) +
                       L"; try again when it has finished.";
            close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    target.m_nLockFd = fd;
    target.m_nLockCount = 1;
    m_pTarget = &target;
    return true;
}

}  // namespace Branwick::Platform
