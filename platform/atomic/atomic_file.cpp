#include "platform/atomic/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace Branwick::Platform {

namespace {

// A temporary file younger than this may belong to a writer that has created it but not yet
// locked it.
constexpr time_t kLeftoverAge = 10;

// Temporary files that a killed writer left beside the target. A live writer holds an flock on
// its file, so a file whose lock can be taken and that is not brand new has no writer any more.
void RemoveLeftovers(int fdFolder, const std::string& strPrefix) {
    const int fdList = fcntl(fdFolder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = fdList >= 0 ? fdopendir(fdList) : nullptr;
    if (dir == nullptr) {
        if (fdList >= 0) {
            close(fdList);
        }
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, strPrefix.c_str(), strPrefix.size()) != 0) {
            continue;
        }
        const int fd = openat(fdFolder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            time(nullptr) - st.st_ctime > kLeftoverAge) {
            unlinkat(fdFolder, entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}

// A new, locked temporary file named strPrefix + six random characters in the folder.
int CreateTemporary(int fdFolder, const std::string& strPrefix, std::string& strName) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        strName = strPrefix;
        for (int i = 0; i < 6; ++i) {
            strName += kChars[random() % (sizeof kChars - 1)];
        }
        const int fd = openat(fdFolder, strName.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            flock(fd, LOCK_EX);
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

CAtomicFile::~CAtomicFile() {
    Abort();
}

bool CAtomicFile::Fail(const std::string& strWhat, int nErrno) {
    return Refuse(strWhat + " " + m_strTarget + ": " + std::strerror(nErrno));
}

bool CAtomicFile::Refuse(const std::string& strWhy) {
    Abort();
    m_strError = strWhy;
    return false;
}

bool CAtomicFile::Create(const std::string& strPath, const std::string& strConfineTo) {
    Abort();
    m_strError.clear();
    m_strTarget = strPath;
    struct stat st {};
    if (lstat(strPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (realpath(strPath.c_str(), real) == nullptr) {
            return Fail("cannot follow the link", errno);
        }
        m_strTarget = real;
    }
    std::string folder;
    if (!SplitReal(m_strTarget, folder, m_strLeaf)) {
        return Fail("cannot open the folder of", errno);
    }
    std::string root = folder;
    if (!strConfineTo.empty()) {
        char real[PATH_MAX];
        if (realpath(strConfineTo.c_str(), real) == nullptr) {
            return Fail("cannot open the folder that must hold", errno);
        }
        root = real;
    }
    if (!m_folder.Open(root, folder)) {
        if (errno == EXDEV) {
            return Refuse(strPath + " is not written: it leads to " + folder + "/" + m_strLeaf +
                          ", outside " + strConfineTo);
        }
        return Fail("cannot open the folder of", errno);
    }
    m_strTarget = folder + (folder == "/" ? "" : "/") + m_strLeaf;
    mode_t mode = 0644;
    const bool exists = fstatat(m_folder.Fd(), m_strLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        return Fail("cannot examine", errno);
    }
    if (exists) {
        if (S_ISLNK(st.st_mode)) {
            return Refuse(m_strTarget + " became a symbolic link while it was being written");
        }
        if (!S_ISREG(st.st_mode)) {
            return Refuse(m_strTarget + " is not a regular file");
        }
        if (st.st_nlink > 1) {
            return Refuse(m_strTarget + " has other hard links; replacing it would split them");
        }
        mode = st.st_mode & 07777;
    }
    // Appended piece by piece: GCC 12 at -O3 warns wrongly (-Wrestrict) about "." + name.
    std::string prefix = ".";
    prefix += m_strLeaf;
    prefix += ".corvane-";
    RemoveLeftovers(m_folder.Fd(), prefix);
    m_fd = CreateTemporary(m_folder.Fd(), prefix, m_strTemp);
    if (m_fd < 0) {
        m_strTemp.clear();
        return Fail("cannot create a temporary file beside", errno);
    }
    if (fchmod(m_fd, mode) != 0) {
        return Fail("cannot set the permissions of the new", errno);
    }
    if (exists && (st.st_uid != geteuid() || st.st_gid != getegid()) &&
        fchown(m_fd, st.st_uid, st.st_gid) != 0) {
        return Fail("cannot keep the owner of", errno);
    }
    return true;
}

bool CAtomicFile::Finish() {
    if (fsync(m_fd) != 0) {
        return Fail("cannot sync the new", errno);
    }
    return true;
}

bool CAtomicFile::Commit() {
    if (renameat(m_folder.Fd(), m_strTemp.c_str(), m_folder.Fd(), m_strLeaf.c_str()) != 0) {
        return Fail("cannot replace", errno);
    }
    m_strTemp.clear();
    close(m_fd);  // its data were synced by Finish
    m_fd = -1;
    const bool synced = fsync(m_folder.Fd()) == 0;
    const int err = errno;
    m_folder.Close();
    return synced || Fail("cannot sync the folder of", err);
}

void CAtomicFile::Abort() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (!m_strTemp.empty()) {
        unlinkat(m_folder.Fd(), m_strTemp.c_str(), 0);
        m_strTemp.clear();
    }
    m_folder.Close();
}

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                        const std::string& confineTo) {
    CAtomicFile file;
    if (!file.Create(path, confineTo)) {        error = file.Error();
        return false;
    }
    if (!WriteAll(file.Fd(), bytes)) {
        file.Abort();
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!file.Finish() || !file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

}  // namespace Branwick::Platform
