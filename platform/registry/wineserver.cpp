#include "platform/registry/wineserver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/registry/utf8.h"

namespace Branwick::Platform::Reg {

namespace {

// What could be read of the file; empty when it cannot be opened. A process's entries in /proc
// fail to read once the process has ended, which may happen between the open and the read: that is
// an answer (the process is gone), never an error. The standard streams would throw there.
std::string ReadSmallFile(const std::string& strPath) {
    std::string strText;
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return strText;
    }
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        strText.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return strText;
}

// The process that holds the server's lock (-1 when the kernel does not say), or 0.
long LockHolder(const std::string& strLockFile) {
    const int fd = open(strLockFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    // An open-file-description query also sees locks of this very process.
    int r = fcntl(fd, F_OFD_GETLK, &fl);
    if (r != 0 && errno == EINVAL) {
        fl = {};
        fl.l_type = F_WRLCK;
        fl.l_len = 1;
        r = fcntl(fd, F_GETLK, &fl);
    }
    close(fd);
    if (r != 0 || fl.l_type == F_UNLCK) {
        return 0;
    }
    return fl.l_pid > 0 ? fl.l_pid : -1;
}

bool SameFile(const std::string& strPath, const struct stat& st) {
    struct stat other {};
    return stat(strPath.c_str(), &other) == 0 && other.st_dev == st.st_dev &&
           other.st_ino == st.st_ino;
}

bool ServesPrefix(const std::string& strProc, const std::string& strServerDir,
                  const struct stat& prefix) {
    char cwd[4096];
    const ssize_t n = readlink((strProc + "/cwd").c_str(), cwd, sizeof(cwd) - 1);
    if (n > 0) {
        const std::string dir(cwd, static_cast<std::size_t>(n));
        if (dir.size() >= strServerDir.size() + 1 &&
            dir.compare(dir.size() - strServerDir.size(), strServerDir.size(), strServerDir) == 0 &&
            dir[dir.size() - strServerDir.size() - 1] == '/') {
            return true;
        }
    }
    const std::string env = ReadSmallFile(strProc + "/environ");
    for (std::size_t pos = 0; pos < env.size(); pos = env.find('\0', pos) + 1) {
        if (env.compare(pos, 11, "WINEPREFIX=") == 0) {
            return SameFile(env.substr(pos + 11, env.find('\0', pos) - pos - 11), prefix);
        }
        if (env.find('\0', pos) == std::string::npos) {
            break;
        }
    }
    return false;
}

long ScanProc(const std::string& strServerDir, const struct stat& prefix) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    long found = 0;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        const std::string dir = std::string("/proc/") + entry->d_name;
        const std::string comm = ReadSmallFile(dir + "/comm");
        if (comm.rfind("wineserver", 0) == 0 && ServesPrefix(dir, strServerDir, prefix)) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

}  // namespace

std::wstring FindRunningWineserver(const std::string& strPrefixDir) {
    struct stat prefix {};
    if (stat(strPrefixDir.c_str(), &prefix) != 0) {
        return {};
    }
    char serverDir[64];
    std::snprintf(serverDir, sizeof(serverDir), "server-%lx-%lx",
                  static_cast<unsigned long>(prefix.st_dev),
                  static_cast<unsigned long>(prefix.st_ino));
    std::vector<std::string> roots;
    for (const uid_t uid : {getuid(), prefix.st_uid}) {
        roots.push_back("/tmp/.wine-" + std::to_string(uid));
        roots.push_back("/run/user/" + std::to_string(uid) + "/wine");
    }
    // Debian's Wine keeps the server folder's name in the prefix when /run/user is missing.
    std::string name = ReadSmallFile(strPrefixDir + "/wineserver");
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
        name.pop_back();
    }
    if (!name.empty() && name.find('/') == std::string::npos) {
        const char* tmp = std::getenv("TMPDIR");
        roots.push_back(std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + name);
    }
    long pid = 0;
    for (const std::string& root : roots) {
        if ((pid = LockHolder(root + "/" + serverDir + "/lock")) != 0) {
            break;
        }
    }
    if (pid == 0) {
        pid = ScanProc(serverDir, prefix);
    }
    if (pid == 0) {
        return {};
    }
    const std::wstring dir = WidenUtf8(strPrefixDir);
    return L"a wineserver" +
           (pid > 0 ? L" (process " + std::to_wstring(pid) + L")" : std::wstring()) +
           L" is running for the Wine prefix " + dir +
           L"; it writes its own copy of the registry when it exits, so changes saved now would be "
           L"lost. "
           L"Close the prefix's Windows programs or run \"wineserver -k\" with WINEPREFIX=" +
           dir + L", then try again";
}

}  // namespace Branwick::Platform::Reg
