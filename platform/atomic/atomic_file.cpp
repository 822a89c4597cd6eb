#include "platform/atomic/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace Branwick::Platform {

namespace {

std::string Folder(const std::string& sPath) {
    const std::size_t slash = sPath.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : sPath.substr(0, slash);
}

// Temporary files that a killed writer left beside the target.
void RemoveLeftovers(const std::string& sFolder, const std::string& sPrefix) {
    DIR* dir = opendir(sFolder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, sPrefix.c_str(), sPrefix.size()) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
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

bool CAtomicFile::Fail(const std::string& sWhat, int nErrno) {
    return Refuse(sWhat + " " + m_sTarget + ": " + std::strerror(nErrno));
}

bool CAtomicFile::Refuse(const std::string& sWhy) {
    Abort();
    m_sError = sWhy;
    return false;
}

bool CAtomicFile::Create(const std::string& sPath) {
    Abort();
    m_sError.clear();
    m_sTarget = sPath;
    struct stat st {};
    if (lstat(sPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (realpath(sPath.c_str(), real) == nullptr) {
            return Fail("cannot follow the link", errno);
        }
        m_sTarget = real;
    }
    mode_t mode = 0644;
    const bool exists = stat(m_sTarget.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        return Fail("cannot examine", errno);
    }
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            return Refuse(m_sTarget + " is not a regular file");
        }
        if (st.st_nlink > 1) {
            return Refuse(m_sTarget + " has other hard links; replacing it would split them");
        }
        mode = st.st_mode & 07777;
    }
    const std::size_t slash = m_sTarget.rfind('/');
    // Appended piece by piece: GCC 12 at -O3 warns wrongly (-Wrestrict) about "." + substr.
    std::string prefix = ".";
    prefix += m_sTarget.substr(slash == std::string::npos ? 0 : slash + 1);
    prefix += ".corvane-";
    RemoveLeftovers(Folder(m_sTarget), prefix);
    std::string temp = Folder(m_sTarget) + "/" + prefix + "XXXXXX";
    m_fd = mkostemp(temp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        return Fail("cannot create a temporary file beside", errno);
    }
    m_sTemp = temp;
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
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        return Fail("cannot write", errno);
    }
    return true;
}

bool CAtomicFile::Commit() {
    if (rename(m_sTemp.c_str(), m_sTarget.c_str()) != 0) {
        return Fail("cannot replace", errno);
    }
    m_sTemp.clear();
    const int dir = open(Folder(m_sTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return Fail("cannot open the folder of", errno);
    }
    const int synced = fsync(dir);
    const int err = errno;
    close(dir);
    if (synced != 0) {
        return Fail("cannot sync the folder of", err);
    }
    return true;
}

void CAtomicFile::Abort() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (!m_sTemp.empty()) {
        unlink(m_sTemp.c_str());
        m_sTemp.clear();
    }
}

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    CAtomicFile file;
    if (!file.Create(path)) {
        error = file.Error();
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
