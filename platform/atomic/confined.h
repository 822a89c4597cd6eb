// Folders reached without following links, for deleting, moving and writing inside a target that
// someone else may be changing at the same time. A path checked first and then used by name can be
// redirected between the two steps (a folder swapped for a link to elsewhere); a folder handle
// opened one element at a time with O_NOFOLLOW cannot, and every *at call made relative to it
// stays where the check was made.
//
// Threads: the functions keep no state; a CConfinedFolder belongs to one thread at a time.
#pragma once

#include <string>

namespace Branwick::Platform {

// An open folder reached from a root without following any symbolic link below that root.
// Not copyable; movable; the destructor closes it.
class CConfinedFolder {
public:
    CConfinedFolder() = default;
    ~CConfinedFolder();
    CConfinedFolder(CConfinedFolder&& other) noexcept;
    CConfinedFolder& operator=(CConfinedFolder&& other) noexcept;
    CConfinedFolder(const CConfinedFolder&) = delete;
    CConfinedFolder& operator=(const CConfinedFolder&) = delete;

    // Opens sFolder (absolute, no "." or ".." elements) when it is sRoot or lies below it. sRoot is
    // opened as given (links in it are the caller's trust); every element below it is opened with
    // O_NOFOLLOW | O_DIRECTORY. Returns false with errno set and the folder closed: EXDEV when
    // sFolder does not lie below sRoot, ELOOP when an element is a symbolic link, ENOTDIR when it
    // is not a folder, ENOENT when it is missing, EINVAL for "." or "..".
    bool Open(const std::string& sRoot, const std::string& sFolder);

    bool IsOpen() const { return m_fd >= 0; }
    // The handle for *at calls (unlinkat, renameat2, mkdirat, openat with O_NOFOLLOW); -1 when
    // not open. Owned by this object.
    int Fd() const { return m_fd; }
    // The folder's path as it was opened, for messages.
    const std::string& Path() const { return m_sPath; }

    void Close();

private:
    int m_fd = -1;
    std::string m_sPath;
};

// The real path (every link resolved) of the folder that holds sPath, and sPath's last element,
// for CConfinedFolder::Open. The last element itself is never followed. False with errno set when
// the folder does not exist or sPath has no last element.
bool SplitReal(const std::string& sPath, std::string& sRealFolder, std::string& sLeaf);

}  // namespace Branwick::Platform
