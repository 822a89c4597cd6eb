// The reference checks: cutting a file path out of a registry text, expanding it in the target's
// environment and testing that the file exists, where a 32-bit program on the target would look.
#include <cwctype>

#include "core/RegError.h"
#include "core/Text.h"
#include "engine/Fendral.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

// The longest default value CheckCommandKey reads.
constexpr DWORD kCommandBufferBytes = 32766;

std::wstring TrimSpace(const std::wstring& strText) {
    std::size_t nFirst = 0;
    std::size_t nEnd = strText.size();
    while (nFirst < nEnd && std::iswspace(static_cast<wint_t>(strText[nFirst]))) {
        ++nFirst;
    }
    while (nEnd > nFirst && std::iswspace(static_cast<wint_t>(strText[nEnd - 1]))) {
        --nEnd;
    }
    return strText.substr(nFirst, nEnd - nFirst);
}

std::wstring TrimRight(const std::wstring& strText, const wchar_t* pszCharacters) {
    const std::size_t nLast = strText.find_last_not_of(pszCharacters);
    return nLast == std::wstring::npos ? std::wstring() : strText.substr(0, nLast + 1);
}

void ReplaceAll(std::wstring& strText, const std::wstring& strFrom, const std::wstring& strTo) {
    for (std::size_t nPos = strText.find(strFrom); nPos != std::wstring::npos;
         nPos = strText.find(strFrom, nPos + strTo.size())) {
        strText.replace(nPos, strFrom.size(), strTo);
    }
}

// Steps 1 to 6 of FindFile: the file path in a registry text.
std::wstring CutFilePath(const COperation& op, const std::wstring& strText) {
    std::wstring strPath = ExpandPath(op, TrimSpace(strText));
    // A drive letter starts the path: whatever precedes it (a quote, a program) goes.
    if (const std::size_t nDrive = strPath.find(L":\\");
        nDrive != std::wstring::npos && nDrive > 0) {
        strPath.erase(0, nDrive - 1);
    }
    // Arguments: ",1" of an icon, ";" lists, "/switches", unexpanded "%1".
    if (const std::size_t nCut = strPath.find_first_of(L",;/%"); nCut != std::wstring::npos) {
        strPath.erase(nCut);
    }
    strPath = Trim(strPath, L" ,;'\"");
    // Arguments after a file name with an extension.
    if (const std::size_t nDot = strPath.rfind(L'.'); nDot != std::wstring::npos) {
        if (const std::size_t nSpace = strPath.find(L' ', nDot); nSpace != std::wstring::npos) {
            strPath.erase(nSpace);
        }
    }
    // The quote that closed a quoted path followed by arguments: "C:\a b\x.exe" -silent.
    return TrimRight(strPath, L"\" ");
}

// Steps 9 and 10 of FindFile: the Windows folder, its system32, then every folder of PATH.
bool SearchWindowsFoldersAndPath(const COperation& op, const std::wstring& strFile,
                                 bool bFileOnly) {
    const std::wstring strSystemRoot = op.Environment().Get(L"systemroot");
    if (FileExists(op, strSystemRoot + L"\\" + strFile, bFileOnly) ||
        FileExists(op, strSystemRoot + L"\\system32\\" + strFile, bFileOnly)) {
        return true;
    }
    std::wstring strRest = op.Environment().Get(L"path");
    if (strRest.empty()) {
        return false;
    }
    for (std::size_t nSemicolon = strRest.find(L';'); nSemicolon != std::wstring::npos;
         nSemicolon = strRest.find(L';')) {
        const std::wstring strFolder = strRest.substr(0, nSemicolon);
        strRest = Trim(strRest.substr(nSemicolon + 1), L"; \\\"");
        if (FileExists(op, strFolder + L"\\" + strFile, bFileOnly)) {
            return true;
        }
    }
    return FileExists(op, strRest + L"\\" + strFile, bFileOnly);
}

bool FindFileBody(const COperation& op, const std::wstring& strText, bool bSearch, bool bFileOnly) {
    if (strText.empty()) {
        return false;
    }
    const std::wstring strFile = CutFilePath(op, strText);
    if (FileExists(op, strFile, bFileOnly)) {
        return true;
    }
    if (!bSearch) {
        return false;
    }
    // Internet Explorer counts as present wherever its registrations point.
    if (strFile.find(L"iexplore") != std::wstring::npos) {
        return true;
    }
    return SearchWindowsFoldersAndPath(op, strFile, bFileOnly);
}

// Whether FindFirstFile finds the path; with bFileOnly it must be a file, not a folder.
bool Found(const COperation& op, const std::wstring& strPath, bool bFileOnly) {
    if (!op.Files().Exists(strPath)) {
        return false;
    }
    return !bFileOnly || (op.Files().GetFileAttributes(strPath) & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::wstring Trim(const std::wstring& strText, const wchar_t* pszCharacters) {
    const std::size_t nFirst = strText.find_first_not_of(pszCharacters);
    if (nFirst == std::wstring::npos) {
        return {};
    }
    const std::size_t nLast = strText.find_last_not_of(pszCharacters);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

std::wstring ExpandPath(const COperation& op, const std::wstring& strText) {
    if (!op.IsWow64()) {
        return op.Environment().Expand(strText);
    }
    // A 32-bit program expands %ProgramFiles% to the x86 folder; the registry of a 64-bit target
    // means the 64-bit one.
    std::wstring strLower = Platform::LowerCase(strText);
    ReplaceAll(strLower, L"%programfiles%", L"%ProgramW6432%");
    ReplaceAll(strLower, L"%commonprogramfiles%", L"%CommonProgramW6432%");
    return op.Environment().Expand(strLower);
}

bool FileExists(const COperation& op, const std::wstring& strPath, bool bFileOnly) {
    if (Found(op, strPath, bFileOnly)) {
        return true;
    }
    if (!op.IsWow64()) {
        return false;
    }
    // What the 32-bit program saw as system32 was syswow64; the real system32 counts as well.
    Platform::CWow64RedirectionOff redirectionOff;
    return Found(op, strPath, bFileOnly);
}

bool FindFile(const COperation& op, const std::wstring& strText, bool bSearch, bool bFileOnly) {
    bool bFound = false;
    RunGuarded(
        op, L"FindFile", [] { return std::wstring(); },
        [&] { bFound = FindFileBody(op, strText, bSearch, bFileOnly); });
    return bFound;
}

bool CheckCommandKey(const COperation& op, const std::wstring& strRootName,
                     const std::wstring& strKeyPath) {
    Platform::CRegKey key;
    if (op.Registry().OpenKey(GetRootKeyHandle(strRootName), strKeyPath + L"\\command",
                              KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return true;
    }
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vData;
    if (key.QueryValue(std::wstring(), &dwType, &vData, kCommandBufferBytes) != ERROR_SUCCESS) {
        return true;
    }
    std::wstring strCommand =
        Platform::LowerCase(Platform::FromUtf16Le(vData.data(), vData.size()));
    std::size_t nExtension = strCommand.find(L".exe");
    if (nExtension == std::wstring::npos) {
        nExtension = strCommand.find(L".dll");
    }
    if (nExtension == std::wstring::npos) {
        return true;
    }
    strCommand.erase(nExtension + 4);
    return FindFile(op, Trim(strCommand, L" \"'"), true);
}

bool SplitDrivePath(std::wstring& strText) {
    if (strText.empty() || !std::iswalpha(static_cast<wint_t>(strText[0])) ||
        strText.find(L":\\") != 1) {
        return false;
    }
    if (const std::size_t nSlash = strText.find(L'/'); nSlash != std::wstring::npos) {
        strText.erase(nSlash);
    }
    strText = Trim(strText, L" \\*\"';");
    return true;
}

bool ExtractFilePath(std::wstring& strText) {
    const std::size_t nDrive = strText.find(L":\\");
    if (nDrive != 1 && !(nDrive == 2 && strText[0] == L'"')) {
        return false;
    }
    // A second path in the same text: keep the first.
    if (const std::size_t nNext = strText.find(L":\\", nDrive + 2); nNext != std::wstring::npos) {
        strText.erase(nNext - 1);
    }
    const std::size_t nDot = strText.rfind(L'.');
    if (nDot == std::wstring::npos || nDot == 0) {
        return false;
    }
    if (const std::size_t nSpace = strText.find(L' ', nDot); nSpace != std::wstring::npos) {
        strText.erase(nSpace);
    }
    if (const std::size_t nComma = strText.find(L',', nDot); nComma != std::wstring::npos) {
        strText.erase(nComma);
    }
    return true;
}

}  // namespace Branwick
