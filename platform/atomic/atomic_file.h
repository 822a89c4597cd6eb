// The one way the program writes a file: the new content goes to a temporary file beside the
// target, is synced, and replaces the target by rename, and the folder is synced. A crash or kill
// at any instant leaves either the old file or the new one, never a torn one.
#pragma once

#include <string>
#include <string_view>

#include "platform/atomic/confined.h"

namespace Branwick::Platform {

// A file replaced in two steps, for writers that stream their content or must replace several
// files together: Create, write to Fd(), Finish (sync) — then Commit (rename, sync the folder) or
// Abort. Until Commit the target is untouched. Not copyable; the destructor aborts.
// Every step returns false on failure, after aborting, with a one-sentence reason in Error().
class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Opens a temporary file beside strPath, or beside the file a symbolic link at strPath points
    // to (the link stays). It gets the mode, owner and group of the existing file; a new file gets
    // 0644. Refuses a target that is not a regular file or has other hard links (replacing it would
    // split them). Temporary files that a killed writer left for the same target are removed; a
    // live writer's are not (each holds an flock on its own until Commit or Abort).
    // With strConfineTo (an absolute folder), the file is written only when it lies in that folder
    // or below it: a link at strPath that leads elsewhere is refused, and the folder is reached
    // without following links (CConfinedFolder), so a swap cannot redirect the write.
    bool Create(const std::string& strPath, const std::string& strConfineTo = {});
    int Fd() const { return m_fd; }
    // Syncs the temporary file; it stays open until Commit or Abort.
    bool Finish();
    // Renames it over the target, relative to the folder opened by Create, and syncs the folder.
    bool Commit();
    // Removes the temporary file, if any.
    void Abort();

    const std::string& Error() const { return m_strError; }

private:
    bool Fail(const std::string& strWhat, int nErrno);
    bool Refuse(const std::string& strWhy);

    std::string m_strTarget;  // after following a link, for messages
    std::string m_strLeaf;    // its name in m_folder
    std::string m_strTemp;    // the temporary file's name in m_folder
    std::string m_strError;
    CConfinedFolder m_folder;
    int m_fd = -1;
};

// Replaces (or creates) the file at the host path `path` with `bytes`, through CAtomicFile.
// Returns true on success; on failure the target is untouched and `error` says why. `confineTo`
// as for CAtomicFile::Create. Safe to call from several threads for different paths.
bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                        const std::string& confineTo = {});

}  // namespace Branwick::Platform
