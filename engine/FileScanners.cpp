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

std::wstring FolderParameters(const std::wstring& sFolder, int nPercentsStart,
                              int nPercentsInterval, int nCount) {
    return FormatText(L"strPath: %ls\nnPercentsStart: %d\nnPercentsInterval: %d\nnCount: %d\n",
                      sFolder.c_str(), nPercentsStart, nPercentsInterval, nCount);
}

// The entries of the folder as FindFirstFileW lists them; empty when it cannot be listed.
std::vector<Platform::CFindData> ListFolder(const COperation& op, const std::wstring& sFolder) {
    std::vector<Platform::CFindData> entries;
    if (!op.Files().FindFiles(sFolder + L"\\*.*", entries).Ok()) {
        entries.clear();
    }
    return entries;
}

bool IsDotEntry(const std::wstring& sName) { return sName == L"." || sName == L".."; }

// The text after the last '.' of a file name; empty when there is none.
std::wstring Extension(const std::wstring& sName) {
    const std::size_t nDot = sName.rfind(L'.');
    return nDot == std::wstring::npos ? std::wstring() : sName.substr(nDot + 1);
}

// A shortcut's name has more than its extension: ".lnk" alone is no shortcut.
bool IsShortcutName(const std::wstring& sName) {
    return sName.rfind(L'.') != 0 && Platform::EqualNoCase(Extension(sName), L"lnk");
}

// A file record, posted only for a file that lies in the target: fixing it deletes the file, and
// a file reached through a folder that lies elsewhere is not ours to delete.
void PostFileRecord(const COperation& op, std::int32_t nScanType, const std::wstring& sPath,
                    const std::wstring& sDescription) {
    if (!op.Files().CheckDelete(sPath, nullptr).Ok()) {
        return;
    }
    const CRegError record(nScanType, 0, sPath, sDescription, KEY_WOW64_32KEY, true);
    op.Post(std::make_unique<CErrorFoundMessage>(record, nScanType));
}

// ---- Program shortcuts ----

// "http://...", "mailto:...": a scheme of two characters or more before the first ':' (one
// character is a drive letter).
bool IsUrl(const std::wstring& sTarget) {
    const std::size_t nColon = sTarget.find(L':');
    return nColon != std::wstring::npos && nColon >= 2 &&
           std::all_of(sTarget.begin(), sTarget.begin() + static_cast<std::ptrdiff_t>(nColon),
                       [](wchar_t ch) {
                           return std::iswalnum(static_cast<wint_t>(ch)) || ch == L'+' ||
                                  ch == L'-' || ch == L'.';
                       });
}

void TestShortcut(const COperation& op, const std::wstring& sLink) {
    std::wstring sTarget;
    if (Platform::GetLinkPath(op.Files(), sLink, sTarget) != S_OK || sTarget.empty()) {
        return;
    }
    // A share on the network cannot be reached from here, so its absence proves nothing; a URL
    // names no file at all.
    if (sTarget.rfind(L"\\\\", 0) == 0 || IsUrl(sTarget)) {
        return;
    }
    // The target is a plain path, not a registry text: a ',' or ';' in a folder name is part of
    // it, so the exact path is tried before FindFile cuts arguments off.
    if (FileExists(op, sTarget) || FindFile(op, sTarget, false)) {
        return;
    }
    PostFileRecord(op, SHOTCATS, sLink,
                   FormatText(L"Shortcut refers to non-existing file: %ls", sTarget.c_str()));
}

void ScanShortcutBody(const COperation& op, const std::wstring& sFolder, int nPercentsStart,
                      int nPercentsInterval, int nCount) {
    if (sFolder.empty()) {
        return;
    }
    const std::vector<Platform::CFindData> entries = ListFolder(op, sFolder);
    const double dShare = nCount > 0 ? static_cast<double>(nPercentsInterval) / nCount : 0.0;
    double dPosition = nPercentsStart;
    for (const Platform::CFindData& entry : entries) {
        if (!op.IsRunning()) {
            break;
        }
        const std::wstring sPath = sFolder + L"\\" + entry.m_strName;
        if (nPercentsStart != -1) {
            dPosition += dShare;
            op.PostScanProgress(static_cast<int>(dPosition), sPath, SHOTCATS);
        }
        if (IsDotEntry(entry.m_strName)) {
            continue;
        }
        // Only plain folders: a hidden, system or read-only folder keeps what it holds to itself,
        // and a symbolic link leads out of the profile (Wine's Desktop is the Linux home).
        if (entry.m_dwAttributes == FILE_ATTRIBUTE_DIRECTORY) {
            ScanShortcut(op, sPath, -1, -1, -1);
        } else if ((entry.m_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                   IsShortcutName(entry.m_strName)) {
            TestShortcut(op, sPath);
        }
    }
}

}  // namespace

void FindFiles(const COperation& op, const std::wstring& sFolder, bool bRecursive,
               IFileFilter& filter) {
    for (const Platform::CFindData& entry : ListFolder(op, sFolder)) {
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
                FindFiles(op, sFolder + L"\\" + entry.m_strName, bRecursive, filter);
            }
        } else if (!filter(sFolder, entry.m_strName)) {
            break;
        }
    }
}

DWORD CountFiles(const COperation& op, const std::wstring& sFolder) {
    return sFolder.empty() ? 0 : static_cast<DWORD>(ListFolder(op, sFolder).size());
}

void ScanShortcut(const COperation& op, const std::wstring& sFolder, int nPercentsStart,
                  int nPercentsInterval, int nCount) {
    RunGuarded(
        op, L"ScanShortcut",
        [&] { return FolderParameters(sFolder, nPercentsStart, nPercentsInterval, nCount); },
        [&] { ScanShortcutBody(op, sFolder, nPercentsStart, nPercentsInterval, nCount); });
}

void ScanJunkFiles(const COperation& op, const std::wstring& sFolder, int nPercentsStart,
                   int nPercentsInterval, int nCount) {
    RunGuarded(
        op, L"ScanJunkFiles",
        [&] { return FolderParameters(sFolder, nPercentsStart, nPercentsInterval, nCount); },
        [&] {
            if (sFolder.empty() || !op.IsRunning()) {
                return;
            }
            CJunkFileFilter filter(op);
            FindFiles(op, sFolder, true, filter);
        });
}

CJunkFileFilter::CJunkFileFilter(const COperation& op) : m_op(op) {}

bool CJunkFileFilter::operator()(const std::wstring& sFolder, const std::wstring& sName) {
    const std::wstring sExtension = Platform::LowerCase(Extension(sName));
    if (std::find(m_vcExtensions.begin(), m_vcExtensions.end(), sExtension) ==
        m_vcExtensions.end()) {
        return true;
    }
    const std::wstring sPath = FormatText(L"%ls\\%ls", sFolder.c_str(), sName.c_str());
    PostFileRecord(m_op, JUNK_FILES, sPath, FormatText(L"Junk file found: %ls", sPath.c_str()));
    m_vcFound.push_back(sPath);
    return true;
}

}  // namespace Branwick
