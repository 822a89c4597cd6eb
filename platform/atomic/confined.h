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

    // Opens strFolder (absolute, no "." or ".." elements) when it is strRoot or lies below it.
    // strRoot is opened as given (links in it are the caller's trust); every element below it is
    // opened with O_NOFOLLOW | O_DIRECTORY. Returns false with errno set and the folder closed:
    // EXDEV when strFolder does not lie below strRoot, ELOOP when an element is a symbolic link,
    // ENOTDIR when it is not a folder, ENOENT when it is missing, EINVAL for "." or "..".
    bool Open(const std::string& strRoot, const std::string& strFolder);

    bool IsOpen() const { return m_fd >= 0; }
    // The handle for *at calls (unlinkat, renameat2, mkdirat, openat with O_NOFOLLOW); -1 when
    // not open. Owned by this object.
    int Fd() const { return m_fd; }
    // The folder's path as it was opened, for messages.
    const std::string& Path() const { return m_strPath; }

    void Close();

private:
    int m_fd = -1;
    std::string m_strPath;
};

// The real path (every link resolved) of the folder that holds strPath, and strPath's last element,
// for CConfinedFolder::Open. The last element itself is never followed. False with errno set when
// the folder does not exist or strPath has no last element.
bool SplitReal(const std::string& strPath, std::string& strRealFolder, std::string& strLeaf);

}  // namespace Branwick::Platform
