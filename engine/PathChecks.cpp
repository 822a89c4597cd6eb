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

std::wstring TrimSpace(const std::wstring& sText) {
    std::size_t nFirst = 0;
    std::size_t nEnd = sText.size();
    while (nFirst < nEnd && std::iswspace(static_cast<wint_t>(sText[nFirst]))) {
        ++nFirst;
    }
    while (nEnd > nFirst && std::iswspace(static_cast<wint_t>(sText[nEnd - 1]))) {
        --nEnd;
    }
    return sText.substr(nFirst, nEnd - nFirst);
}

std::wstring TrimRight(const std::wstring& sText, const wchar_t* pszCharacters) {
    const std::size_t nLast = sText.find_last_not_of(pszCharacters);
    return nLast == std::wstring::npos ? std::wstring() : sText.substr(0, nLast + 1);
}

void ReplaceAll(std::wstring& sText, const std::wstring& sFrom, const std::wstring& sTo) {
    for (std::size_t nPos = sText.find(sFrom); nPos != std::wstring::npos;
         nPos = sText.find(sFrom, nPos + sTo.size())) {
        sText.replace(nPos, sFrom.size(), sTo);
    }
}

// Steps 1 to 6 of FindFile: the file path in a registry text.
std::wstring CutFilePath(const COperation& op, const std::wstring& sText) {
    std::wstring sPath = ExpandPath(op, TrimSpace(sText));
    // A drive letter starts the path: whatever precedes it (a quote, a program) goes.
    if (const std::size_t nDrive = sPath.find(L":\\"); nDrive != std::wstring::npos && nDrive > 0) {
        sPath.erase(0, nDrive - 1);
    }
    // Arguments: ",1" of an icon, ";" lists, "/switches", unexpanded "%1".
    if (const std::size_t nCut = sPath.find_first_of(L",;/%"); nCut != std::wstring::npos) {
        sPath.erase(nCut);
    }
    sPath = Trim(sPath, L" ,;'\"");
    // Arguments after a file name with an extension.
    if (const std::size_t nDot = sPath.rfind(L'.'); nDot != std::wstring::npos) {
        if (const std::size_t nSpace = sPath.find(L' ', nDot); nSpace != std::wstring::npos) {
            sPath.erase(nSpace);
        }
    }
    // The quote that closed a quoted path followed by arguments: "C:\a b\x.exe" -silent.
    return TrimRight(sPath, L"\" ");
}

// Steps 9 and 10 of FindFile: the Windows folder, its system32, then every folder of PATH.
bool SearchWindowsFoldersAndPath(const COperation& op, const std::wstring& sFile, bool bFileOnly) {
    const std::wstring sSystemRoot = op.Environment().Get(L"systemroot");
    if (FileExists(op, sSystemRoot + L"\\" + sFile, bFileOnly) ||
        FileExists(op, sSystemRoot + L"\\system32\\" + sFile, bFileOnly)) {
        return true;
    }
    std::wstring sRest = op.Environment().Get(L"path");
    if (sRest.empty()) {
        return false;
    }
    for (std::size_t nSemicolon = sRest.find(L';'); nSemicolon != std::wstring::npos;
         nSemicolon = sRest.find(L';')) {
        const std::wstring sFolder = sRest.substr(0, nSemicolon);
        sRest = Trim(sRest.substr(nSemicolon + 1), L"; \\\"");
        if (FileExists(op, sFolder + L"\\" + sFile, bFileOnly)) {
            return true;
        }
    }
    return FileExists(op, sRest + L"\\" + sFile, bFileOnly);
}

bool FindFileBody(const COperation& op, const std::wstring& sText, bool bSearch, bool bFileOnly) {
    if (sText.empty()) {
        return false;
    }
    const std::wstring sFile = CutFilePath(op, sText);
    if (FileExists(op, sFile, bFileOnly)) {
        return true;
    }
    if (!bSearch) {
        return false;
    }
    // Internet Explorer counts as present wherever its registrations point.
    if (sFile.find(L"iexplore") != std::wstring::npos) {
        return true;
    }
    return SearchWindowsFoldersAndPath(op, sFile, bFileOnly);
}

// Whether FindFirstFile finds the path; with bFileOnly it must be a file, not a folder.
bool Found(const COperation& op, const std::wstring& sPath, bool bFileOnly) {
    if (!op.Files().Exists(sPath)) {
        return false;
    }
    return !bFileOnly || (op.Files().GetFileAttributes(sPath) & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::wstring Trim(const std::wstring& sText, const wchar_t* pszCharacters) {
    const std::size_t nFirst = sText.find_first_not_of(pszCharacters);
    if (nFirst == std::wstring::npos) {
        return {};
    }
    const std::size_t nLast = sText.find_last_not_of(pszCharacters);
    return sText.substr(nFirst, nLast - nFirst + 1);
}

std::wstring ExpandPath(const COperation& op, const std::wstring& sText) {
    if (!op.IsWow64()) {
        return op.Environment().Expand(sText);
    }
    // A 32-bit program expands %ProgramFiles% to the x86 folder; the registry of a 64-bit target
    // means the 64-bit one.
    std::wstring sLower = Platform::LowerCase(sText);
    ReplaceAll(sLower, L"%programfiles%", L"%ProgramW6432%");
    ReplaceAll(sLower, L"%commonprogramfiles%", L"%CommonProgramW6432%");
    return op.Environment().Expand(sLower);
}

bool FileExists(const COperation& op, const std::wstring& sPath, bool bFileOnly) {
    if (Found(op, sPath, bFileOnly)) {
        return true;
    }
    if (!op.IsWow64()) {
        return false;
    }
    // What the 32-bit program saw as system32 was syswow64; the real system32 counts as well.
    Platform::CWow64RedirectionOff redirectionOff;
    return Found(op, sPath, bFileOnly);
}

bool FindFile(const COperation& op, const std::wstring& sText, bool bSearch, bool bFileOnly) {
    bool bFound = false;
    RunGuarded(
        op, L"FindFile", [] { return std::wstring(); },
        [&] { bFound = FindFileBody(op, sText, bSearch, bFileOnly); });
    return bFound;
}

bool CheckCommandKey(const COperation& op, const std::wstring& sRootName,
                     const std::wstring& sKeyPath) {
    Platform::CRegKey key;
    if (op.Registry().OpenKey(GetRootKeyHandle(sRootName), sKeyPath + L"\\command", KEY_ALL_ACCESS,
                              &key) != ERROR_SUCCESS) {
        return true;
    }
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vData;
    if (key.QueryValue(std::wstring(), &dwType, &vData, kCommandBufferBytes) != ERROR_SUCCESS) {
        return true;
    }
    std::wstring sCommand = Platform::LowerCase(Platform::FromUtf16Le(vData.data(), vData.size()));
    std::size_t nExtension = sCommand.find(L".exe");
    if (nExtension == std::wstring::npos) {
        nExtension = sCommand.find(L".dll");
    }
    if (nExtension == std::wstring::npos) {
        return true;
    }
    sCommand.erase(nExtension + 4);
    return FindFile(op, Trim(sCommand, L" \"'"), true);
}

bool SplitDrivePath(std::wstring& sText) {
    if (sText.empty() || !std::iswalpha(static_cast<wint_t>(sText[0])) ||
        sText.find(L":\\") != 1) {
        return false;
    }
    if (const std::size_t nSlash = sText.find(L'/'); nSlash != std::wstring::npos) {
        sText.erase(nSlash);
    }
    sText = Trim(sText, L" \\*\"';");
    return true;
}

bool ExtractFilePath(std::wstring& sText) {
    const std::size_t nDrive = sText.find(L":\\");
    if (nDrive != 1 && !(nDrive == 2 && sText[0] == L'"')) {
        return false;
    }
    // A second path in the same text: keep the first.
    if (const std::size_t nNext = sText.find(L":\\", nDrive + 2); nNext != std::wstring::npos) {
        sText.erase(nNext - 1);
    }
    const std::size_t nDot = sText.rfind(L'.');
    if (nDot == std::wstring::npos || nDot == 0) {
        return false;
    }
    if (const std::size_t nSpace = sText.find(L' ', nDot); nSpace != std::wstring::npos) {
        sText.erase(nSpace);
    }
    if (const std::size_t nComma = sText.find(L',', nDot); nComma != std::wstring::npos) {
        sText.erase(nComma);
    }
    return true;
}

}  // namespace Branwick
