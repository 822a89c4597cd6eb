// The scanners that look at files: program shortcuts below the user's profile whose targets are
// gone, and junk files (*.tmp, *.log, *.bak) below TEMP. Private to engine/: the drivers reach
// them through the hook table (Scanners.h).
//
// A finding is a file record: root 0, the file's full Windows path, delete-self, no fixes, so
// fixing it deletes the file. Only files that lie in the target are reported: the walks never
// enter a symbolic link or junction (Wine links the profile's Desktop, Documents... into the
// Linux home, and a link loop would never end), and a file whose folder lies elsewhere is passed
// over. Everything runs on the scan thread and polls IsRunning before every entry.
#pragma once

#include <string>
#include <vector>

#include "engine/Fendral.h"

namespace Branwick {

// The entries of the folder, "." and ".." included, not recursive; 0 for an empty text or a
// folder that cannot be listed.
DWORD CountFiles(const COperation& op, const std::wstring& strFolder);

// Reports the shortcuts (*.lnk) below the folder whose file-system target does not exist.
// Descends only into plain folders (attribute word exactly FILE_ATTRIBUTE_DIRECTORY). Progress is
// posted for each entry of the top folder: nPercentsStart plus a share of nPercentsInterval per
// entry of nCount; -1 in the three numbers posts none (the recursion).
void ScanShortcut(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                  int nPercentsInterval, int nCount);

// Reports the junk files below the folder. The numbers only appear in the exception text.
void ScanJunkFiles(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                   int nPercentsInterval, int nCount);

// The test FindFiles applies to each file: (folder, file name) -> whether to go on with the
// folder.
class IFileFilter {
public:
    virtual bool operator()(const std::wstring& strFolder, const std::wstring& strName) = 0;

protected:
    ~IFileFilter() = default;
};

// Calls the filter for every file of the folder and, with bRecursive, of its subfolders; never
// enters a symbolic link or junction. A false from the filter ends the walk of that folder.
void FindFiles(const COperation& op, const std::wstring& strFolder, bool bRecursive,
               IFileFilter& filter);

// The junk test of one ScanJunkFiles: a file whose extension is tmp, log or bak (in any case)
// is posted as a junk-file finding. Always goes on.
class CJunkFileFilter : public IFileFilter {
public:
    explicit CJunkFileFilter(const COperation& op);
    bool operator()(const std::wstring& strFolder, const std::wstring& strName) override;

private:
    std::vector<std::wstring> m_vcFound;  // full paths reported so far
    const COperation& m_op;
    std::vector<std::wstring> m_vcExtensions{L"tmp", L"log", L"bak"};
};

}  // namespace Branwick
