// Private to platform/files: the parts of a Windows path and the FindFirstFileW name pattern.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

struct CWinPath {
    LONG m_lCode = ERROR_SUCCESS;
    wchar_t m_chDrive = 0;                 // upper-case letter
    std::vector<std::wstring> m_vcParts;   // "." and ".." already applied
    bool m_bTrailingSeparator = false;
};

// Splits a full Windows path. "\x" takes the drive of strDefaultDrive's path. Wildcards are allowed
// in the last element only when bWildcardLeaf is set. Trailing dots and spaces of the last element
// are dropped as Win32 drops them. UNC, "\\?\", "\??\" and relative paths give ERROR_PATH_NOT_FOUND,
// characters no Windows name may hold give ERROR_INVALID_NAME.
CWinPath ParseWinPath(const std::wstring& strPath, wchar_t chDefaultDrive, bool bWildcardLeaf);

// Text form of parsed parts ("C:\a\b"), for messages.
std::wstring JoinWinPath(const CWinPath& path);

bool HasWildcard(const std::wstring& strName);

// FindFirstFileW's match of a case-folded name against a case-folded pattern.
bool MatchPattern(const std::wstring& strFoldedPattern, const std::wstring& strFoldedName);

// Applies the WOW64 file-system redirection of a 32-bit program to the parts of a path below the
// Windows folder (given parsed): system32 -> syswow64 (but for the folders Windows exempts),
// sysnative -> system32.
void RedirectWow64(CWinPath& path, const CWinPath& systemRoot);

}  // namespace Branwick::Platform
