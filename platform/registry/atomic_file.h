// A file replaced atomically in two steps, for stores that must write several files together:
// the new content is streamed into a temporary file beside the target and synced (Create, write
// to Fd(), Finish); Commit renames it over the target and syncs the folder. Until Commit the
// target is untouched; a kill at any instant leaves the old file or the new one. Private to
// platform/registry.
#pragma once

#include <string>

#include "platform/registry/registry.h"

namespace Branwick::Platform::Reg {

class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Opens a temporary file beside sPath, or beside the file a symbolic link at sPath points to
    // (the link stays). It gets the mode, owner and group of the existing file; a new file gets
    // 0644. Refuses a target that is not a regular file or has other hard links (replacing it
    // would split them).
    CRegStatus Create(const std::string& sPath);
    int Fd() const { return m_fd; }
    // Syncs and closes the temporary file.
    CRegStatus Finish();
    // Renames it over the target and syncs the folder.
    CRegStatus Commit();
    // Removes the temporary file, if any.
    void Abort();

private:
    CRegStatus Error(const std::string& sWhat, int nErrno);

    std::string m_sTarget;
    std::string m_sTemp;
    int m_fd = -1;
};

}  // namespace Branwick::Platform::Reg
