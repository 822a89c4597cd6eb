// Test support: a folder whose entries cannot be deleted while the lock lasts. Folder permissions
// stop a normal user but not root, so root gets the file system's immutable flag instead (ext4 and
// most disk file systems have it; tmpfs does not, and then Locked() says so).
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

namespace CorvaneTest {

class CLockedFolder {
public:
    explicit CLockedFolder(std::filesystem::path folder) : m_folder(std::move(folder)) {
        m_bLocked = geteuid() == 0 ? SetImmutable(true) : SetWritable(false);
    }
    ~CLockedFolder() { Unlock(); }
    CLockedFolder(const CLockedFolder&) = delete;
    CLockedFolder& operator=(const CLockedFolder&) = delete;

    bool Locked() const { return m_bLocked; }

    void Unlock() {
        if (m_bLocked) {
            m_bLocked = false;
            geteuid() == 0 ? SetImmutable(false) : SetWritable(true);
        }
    }

private:
    bool SetWritable(bool bWritable) {
        std::error_code ec;
        std::filesystem::permissions(m_folder,
                                     bWritable ? std::filesystem::perms::owner_all
                                               : std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec,
                                     ec);
        return !ec;
    }

    bool SetImmutable(bool bImmutable) {
        const int fd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool bOk = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = bImmutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        bOk = bOk && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return bOk;
    }

    std::filesystem::path m_folder;
    bool m_bLocked = false;
};

}  // namespace CorvaneTest
