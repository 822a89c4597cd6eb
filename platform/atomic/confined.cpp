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

// The part of sFolder below sRoot ("" for the root itself), or false when it is not below it.
bool Below(const std::string& sRoot, const std::string& sFolder, std::string& sRest) {
    std::string root = sRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    if (sFolder == root) {
        sRest.clear();
        return true;
    }
    const std::string prefix = root == "/" ? root : root + "/";
    if (sFolder.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    sRest = sFolder.substr(prefix.size());
    return true;
}

// One element at a time, for kernels without openat2 ("." and ".." already refused).
int WalkDown(int fdRoot, const std::string& sRest) {
    int fd = fcntl(fdRoot, F_DUPFD_CLOEXEC, 0);
    std::size_t at = 0;
    while (fd >= 0 && at < sRest.size()) {
        std::size_t end = sRest.find('/', at);
        end = end == std::string::npos ? sRest.size() : end;
        const std::string name = sRest.substr(at, end - at);
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

int OpenBelow(int fdRoot, const std::string& sRest) {
    for (std::size_t at = 0; at < sRest.size();) {
        std::size_t end = sRest.find('/', at);
        end = end == std::string::npos ? sRest.size() : end;
        const std::string name = sRest.substr(at, end - at);
        if (name == "." || name == "..") {
            errno = EINVAL;
            return -1;
        }
        at = end + 1;
    }
    if (sRest.empty()) {
        return fcntl(fdRoot, F_DUPFD_CLOEXEC, 0);
    }
    open_how how{};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, fdRoot, sRest.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != EAGAIN)) {
        // A link on the way is ELOOP from openat2 as from O_NOFOLLOW.
        return static_cast<int>(fd);
    }
    return WalkDown(fdRoot, sRest);
}

}  // namespace

CConfinedFolder::~CConfinedFolder() { Close(); }

CConfinedFolder::CConfinedFolder(CConfinedFolder&& other) noexcept
    : m_fd(other.m_fd), m_sPath(std::move(other.m_sPath)) {
    other.m_fd = -1;
}

CConfinedFolder& CConfinedFolder::operator=(CConfinedFolder&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_sPath = std::move(other.m_sPath);
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

bool CConfinedFolder::Open(const std::string& sRoot, const std::string& sFolder) {
    Close();
    m_sPath = sFolder;
    std::string rest;
    if (!Below(sRoot, sFolder, rest)) {
        errno = EXDEV;
        return false;
    }
    const int root = open(sRoot.c_str(), kFolderFlags);
    if (root < 0) {
        return false;
    }
    m_fd = OpenBelow(root, rest);
    const int err = errno;
    close(root);
    errno = err;
    return m_fd >= 0;
}

bool SplitReal(const std::string& sPath, std::string& sRealFolder, std::string& sLeaf) {
    std::string path = sPath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t slash = path.rfind('/');
    sLeaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (sLeaf.empty() || sLeaf == "." || sLeaf == "..") {
        errno = EINVAL;
        return false;
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char real[PATH_MAX];
    if (realpath(folder.c_str(), real) == nullptr) {
        return false;
    }
    sRealFolder = real;
    return true;
}

}  // namespace Branwick::Platform
