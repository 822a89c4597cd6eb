// The file scanners: program shortcuts and junk files, with the folder walk they share.
#include "engine/FileScanners.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "core/RegError.h"
#include "core/Text.h"
#include "platform/shelllink/shelllink.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

std::wstring FolderParameters(const std::wstring& strFolder, int nPercentsStart,
                              int nPercentsInterval, int nCount) {
    return FormatText(L"strPath: %ls\nnPercentsStart: %d\nnPercentsInterval: %d\nnCount: %d\n",
                      strFolder.c_str(), nPercentsStart, nPercentsInterval, nCount);
}

// The entries of the folder as FindFirstFileW lists them; empty when it cannot be listed.
std::vector<Platform::CFindData> ListFolder(const COperation& op, const std::wstring& strFolder) {
    std::vector<Platform::CFindData> entries;
    if (!op.Files().FindFiles(strFolder + L"\\*.*", entries).Ok()) {
        entries.clear();
    }
    return entries;
}

bool IsDotEntry(const std::wstring& strName) {
    return strName == L"." || strName == L"..";
}

// The text after the last '.' of a file name; empty when there is none.
std::wstring Extension(const std::wstring& strName) {
    const std::size_t nDot = strName.rfind(L'.');
    return nDot == std::wstring::npos ? std::wstring() : strName.substr(nDot + 1);
}

// A shortcut's name has more than its extension: ".lnk" alone is no shortcut.
bool IsShortcutName(const std::wstring& strName) {
    return strName.rfind(L'.') != 0 && Platform::EqualNoCase(Extension(strName), L"lnk");
}

// A file record, posted only for a file that lies in the target: fixing it deletes the file, and
// a file reached through a folder that lies elsewhere is not ours to delete.
void PostFileRecord(const COperation& op, std::int32_t nScanType, const std::wstring& strPath,
                    const std::wstring& strDescription) {
    if (!op.Files().CheckDelete(strPath, nullptr).Ok()) {
        return;
    }
    CRegError record(nScanType, 0, strPath, strDescription, KEY_WOW64_32KEY, true);
    op.Post(std::make_unique<CErrorFoundMessage>(std::move(record), nScanType));
}

// ---- Program shortcuts ----

// "http://...", "mailto:...": a scheme of two characters or more before the first ':' (one
// character is a drive letter).
bool IsUrl(const std::wstring& strTarget) {
    const std::size_t nColon = strTarget.find(L':');
    return nColon != std::wstring::npos && nColon >= 2 &&
           std::all_of(strTarget.begin(), strTarget.begin() + static_cast<std::ptrdiff_t>(nColon),
                       [](wchar_t ch) {
                           return std::iswalnum(static_cast<wint_t>(ch)) || ch == L'+' ||
                                  ch == L'-' || ch == L'.';
                       });
}

void TestShortcut(const COperation& op, const std::wstring& strLink) {
    std::wstring strTarget;
    if (Platform::GetLinkPath(op.Files(), strLink, strTarget) != S_OK || strTarget.empty()) {
        return;
    }
    // A share on the network cannot be reached from here, so its absence proves nothing; a URL
    // names no file at all.
    if (strTarget.rfind(L"\\\\", 0) == 0 || IsUrl(strTarget)) {
        return;
    }
    // The target is a plain path, not a registry text: a ',' or ';' in a folder name is part of
    // it, so the exact path is tried before FindFile cuts arguments off.
    if (FileExists(op, strTarget) || FindFile(op, strTarget, false)) {
        return;
    }
    PostFileRecord(op, SHOTCATS, strLink,
                   FormatText(L"Shortcut refers to non-existing file: %ls", strTarget.c_str()));
}

void ScanShortcutBody(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                      int nPercentsInterval, int nCount) {
    if (strFolder.empty()) {
        return;
    }
    const std::vector<Platform::CFindData> entries = ListFolder(op, strFolder);
    const double dShare = nCount > 0 ? static_cast<double>(nPercentsInterval) / nCount : 0.0;
    double dPosition = nPercentsStart;
    for (const Platform::CFindData& entry : entries) {
        if (!op.IsRunning()) {
            break;
        }
        const std::wstring strPath = strFolder + L"\\" + entry.m_strName;
        if (nPercentsStart != -1) {
            dPosition += dShare;
            op.PostScanProgress(static_cast<int>(dPosition), strPath, SHOTCATS);
        }
        if (IsDotEntry(entry.m_strName)) {
            continue;
        }
        // Only plain folders: a hidden, system or read-only folder keeps what it holds to itself,
        // and a symbolic link leads out of the profile (Wine's Desktop is the Linux home).
        if (entry.m_dwAttributes == FILE_ATTRIBUTE_DIRECTORY) {
            ScanShortcut(op, strPath, -1, -1, -1);
        } else if ((entry.m_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                   IsShortcutName(entry.m_strName)) {
            TestShortcut(op, strPath);
        }
    }
}

}  // namespace

void FindFiles(const COperation& op, const std::wstring& strFolder, bool bRecursive,
               IFileFilter& filter) {
    for (const Platform::CFindData& entry : ListFolder(op, strFolder)) {
        if (!op.IsRunning()) {
            break;
        }
        // A symbolic link or junction is neither entered nor handed on: a loop would never end,
        // and what it leads to is not the folder's own.
        if (IsDotEntry(entry.m_strName) ||
            (entry.m_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        if ((entry.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (bRecursive) {
                FindFiles(op, strFolder + L"\\" + entry.m_strName, bRecursive, filter);
            }
        } else if (!filter(strFolder, entry.m_strName)) {
            break;
        }
    }
}

DWORD CountFiles(const COperation& op, const std::wstring& strFolder) {
    return strFolder.empty() ? 0 : static_cast<DWORD>(ListFolder(op, strFolder).size());
}

void ScanShortcut(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                  int nPercentsInterval, int nCount) {
    RunGuarded(
        op, L"ScanShortcut",
        [&] { return FolderParameters(strFolder, nPercentsStart, nPercentsInterval, nCount); },
        [&] { ScanShortcutBody(op, strFolder, nPercentsStart, nPercentsInterval, nCount); });
}

void ScanJunkFiles(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                   int nPercentsInterval, int nCount) {
    RunGuarded(
        op, L"ScanJunkFiles",
        [&] { return FolderParameters(strFolder, nPercentsStart, nPercentsInterval, nCount); },
        [&] {
            if (strFolder.empty() || !op.IsRunning()) {
                return;
            }
            CJunkFileFilter filter(op);
            FindFiles(op, strFolder, true, filter);
        });
}

CJunkFileFilter::CJunkFileFilter(const COperation& op) : m_op(op) {}

bool CJunkFileFilter::operator()(const std::wstring& strFolder, const std::wstring& strName) {
    const std::wstring strExtension = Platform::LowerCase(Extension(strName));
    if (std::find(m_vcExtensions.begin(), m_vcExtensions.end(), strExtension) ==
        m_vcExtensions.end()) {
        return true;
    }
    const std::wstring strPath = FormatText(L"%ls\\%ls", strFolder.c_str(), strName.c_str());
    PostFileRecord(m_op, JUNK_FILES, strPath, FormatText(L"Junk file found: %ls", strPath.c_str()));
    m_vcFound.push_back(strPath);
    return true;
}

}  // namespace Branwick
