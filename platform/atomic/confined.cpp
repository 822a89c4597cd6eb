#include "platform/atomic/confined.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace Branwick::Platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The part of strFolder below strRoot ("" for the root itself), or false when it is not below it.
bool Below(const std::string& strRoot, const std::string& strFolder, std::string& strRest) {
    std::string root = strRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    if (strFolder == root) {
        strRest.clear();
        return true;
    }
    const std::string prefix = root == "/" ? root : root + "/";
    if (strFolder.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    strRest = strFolder.substr(prefix.size());
    return true;
}

// One element at a time, for kernels without openat2 ("." and ".." already refused).
int WalkDown(int fdRoot, const std::string& strRest) {
    int fd = fcntl(fdRoot, F_DUPFD_CLOEXEC, 0);
    std::size_t at = 0;
    while (fd >= 0 && at < strRest.size()) {
        std::size_t end = strRest.find('/', at);
        end = end == std::string::npos ? strRest.size() : end;
        const std::string name = strRest.substr(at, end - at);
        at = end + 1;
        if (name.empty()) {
            continue;
        }
        const int next = openat(fd, name.c_str(), kFolderFlags | O_NOFOLLOW);
        const int err = errno;
        close(fd);
        fd = next;
        errno = err;
    }
    return fd;
}

int OpenBelow(int fdRoot, const std::string& strRest) {
    for (std::size_t at = 0; at < strRest.size();) {
        std::size_t end = strRest.find('/', at);
        end = end == std::string::npos ? strRest.size() : end;
        const std::string name = strRest.substr(at, end - at);
        if (name == "." || name == "..") {
            errno = EINVAL;
            return -1;
        }
        at = end + 1;
    }
    if (strRest.empty()) {
        return fcntl(fdRoot, F_DUPFD_CLOEXEC, 0);
    }
    open_how how{};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, fdRoot, strRest.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != EAGAIN)) {
        // A link on the way is ELOOP from openat2 as from O_NOFOLLOW.
        return static_cast<int>(fd);
    }
    return WalkDown(fdRoot, strRest);
}

}  // namespace

CConfinedFolder::~CConfinedFolder() { Close(); }

CConfinedFolder::CConfinedFolder(CConfinedFolder&& other) noexcept
    : m_fd(other.m_fd), m_strPath(std::move(other.m_strPath)) {
    other.m_fd = -1;
}

CConfinedFolder& CConfinedFolder::operator=(CConfinedFolder&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_strPath = std::move(other.m_strPath);
        other.m_fd = -1;
    }
    return *this;
}

void CConfinedFolder::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

bool CConfinedFolder::Open(const std::string& strRoot, const std::string& strFolder) {
    Close();
    m_strPath = strFolder;
    std::string rest;
    if (!Below(strRoot, strFolder, rest)) {
        errno = EXDEV;
        return false;
    }
    const int root = open(strRoot.c_str(), kFolderFlags);
    if (root < 0) {
        return false;
    }
    m_fd = OpenBelow(root, rest);
    const int err = errno;
    close(root);
    errno = err;
    return m_fd >= 0;
}

bool SplitReal(const std::string& strPath, std::string& strRealFolder, std::string& strLeaf) {
    std::string path = strPath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t slash = path.rfind('/');
    strLeaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (strLeaf.empty() || strLeaf == "." || strLeaf == "..") {
        errno = EINVAL;
        return false;
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char real[PATH_MAX];
    if (realpath(folder.c_str(), real) == nullptr) {
        return false;
    }
    strRealFolder = real;
    return true;
}

}  // namespace Branwick::Platform
