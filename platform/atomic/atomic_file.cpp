#include "platform/atomic/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Branwick::Platform {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string Reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    const std::string folder = FolderOf(path);
    std::vector<char> tmpl(path.begin(), path.end());
    const std::string suffix = ".tmp-XXXXXX";
    tmpl.insert(tmpl.end(), suffix.begin(), suffix.end());
    tmpl.push_back('\0');

    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        error = Reason("cannot create a temporary file beside", path);
        return false;
    }
    const std::string tmp(tmpl.data());

    struct stat st {};
    mode_t mode = 0644;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }

    bool ok = WriteAll(fd, bytes);
    if (!ok)
        error = Reason("cannot write", tmp);
    if (ok && ::fchmod(fd, mode) != 0) {
        ok = false;
        error = Reason("cannot set the permissions of", tmp);
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = Reason("cannot sync", tmp);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = Reason("cannot close", tmp);
    }
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = Reason("cannot replace", path);
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename is durable only once the folder's entry is on disk.
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace Branwick::Platform
