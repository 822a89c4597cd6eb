// Value scanners of references: file associations, application paths, help files, file/path
// references, and the empty-key test.
#include "engine/RegistryScanners.h"

#include <initializer_list>

#include "core/RegError.h"
#include "core/Text.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

constexpr const wchar_t* kFileMissing = L"Specified file doesn't exist.";

// App Paths values are read with these limits.
constexpr DWORD kAppPathNameChars = 256;
constexpr DWORD kAppPathDataBytes = 16383;

void PostFinding(std::int32_t nScanType, HKEY hRoot, const std::wstring& sPath,
                 const std::wstring& sDescription, REGSAM dwView, bool bDeleteSelf,
                 std::unique_ptr<IFix> pFix) {
    CRegError record(nScanType, hRoot, sPath, sDescription, dwView, bDeleteSelf);
    record.AddFix(std::move(pFix));
    Post(std::make_unique<CErrorFoundMessage>(record, nScanType));
}

bool ContainsAny(const std::wstring& sText, std::initializer_list<const wchar_t*> words) {
    for (const wchar_t* pszWord : words) {
        if (sText.find(pszWord) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

// The default user's hive: Windows names it ".DEFAULT", Wine ".Default"; key names are the same
// in any case.
bool IsBelowDefaultUser(const std::wstring& sPath) {
    return Platform::FoldCase(sPath).find(Platform::FoldCase(L".DEFAULT")) != std::wstring::npos;
}

// The text before the last backslash; empty (the root) when there is none.
std::wstring ParentPath(const std::wstring& sPath) {
    const std::size_t nSlash = sPath.rfind(L'\\');
    return nSlash == std::wstring::npos ? std::wstring() : sPath.substr(0, nSlash);
}

// ---- File associations ----

// An extension's class, or its perceived type's key, must exist below the root. The test goes
// through the walker, which logs a key that does not open.
void CheckAssociatedKey(const std::wstring& sRoot, const std::wstring& sSubkey,
                        const std::wstring& sValueName, const std::wstring& sValueData,
                        const std::wstring& sClassKey, REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    if (ProcessKey(hRoot, sClassKey, 0, nullptr, -1, -1, 0, dwView) == ERROR_SUCCESS) {
        return;
    }
    PostFinding(FILE_ASSOCIATIONS, hRoot, sSubkey,
                FormatText(L"Associated class \"%ls\\%ls\" doesn't exist", sRoot.c_str(),
                           sClassKey.c_str()),
                dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sValueData,
                                                       dwView));
}

void ScanFileAssociationsBody(const std::wstring& sRoot, const std::wstring& sSubkey,
                              const std::wstring& sValueName, const std::wstring& sValueData,
                              REGSAM dwView) {
    if (!sSubkey.empty() && sSubkey.front() == L'.') {
        if (sValueName.empty()) {
            CheckAssociatedKey(sRoot, sSubkey, sValueName, sValueData, sValueData, dwView);
        } else if (Platform::EqualNoCase(sValueName, L"PerceivedType")) {
            CheckAssociatedKey(sRoot, sSubkey, sValueName, sValueData,
                               L"SystemFileAssociations\\" + sValueData, dwView);
        }
        return;
    }
    if (!sValueName.empty()) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    for (const wchar_t* pszVerb : {L"edit", L"open", L"print"}) {
        const std::wstring sVerbKey = sSubkey + L"\\shell\\" + pszVerb;
        if (!CheckCommandKey(sRoot, sVerbKey)) {
            PostFinding(FILE_ASSOCIATIONS, hRoot, sVerbKey,
                        L"Shell command refers to the non-existing file.", dwView, true,
                        std::make_unique<CDeleteRegistryKey>(hRoot, sVerbKey, L"", L"", dwView));
        }
    }
}

// ---- Application paths ----

enum class EAppPath { Valid, Broken, Unknown };

// Whether any value of the opened entry names an existing file or folder. Unknown when a stop
// was requested before every value was examined.
EAppPath JudgeAppPath(const Platform::CRegKey& key, DWORD dwValues) {
    Platform::CRegValue value;
    for (DWORD i = 0; i < dwValues; ++i) {
        if (!IsRunning()) {
            return EAppPath::Unknown;
        }
        value.m_dwType = REG_SZ;
        if (key.EnumValue(i, &value, kAppPathNameChars, kAppPathDataBytes) != ERROR_SUCCESS) {
            continue;
        }
        if (FindFile(Trim(ValueText(value.m_dwType, value.m_vData), L" \"'"), true)) {
            return EAppPath::Valid;
        }
    }
    return EAppPath::Broken;
}

void ScanAppPathsBody(const std::wstring& sRoot, const std::wstring& sSubkey, REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    Platform::CRegKey key;
    const LONG lOpen = Registry().OpenKey(hRoot, sSubkey, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        const std::wstring sLine = FormatText(L"Can not open key: %ls\\%ls \r\nError %d",
                                              sRoot.c_str(), sSubkey.c_str(), lOpen);
        ScanLog().Write(sLine);
        PostLogLine(sLine);
        return;
    }
    Platform::CRegKeyInfo info;
    if (key.QueryInfo(&info) != ERROR_SUCCESS) {
        return;
    }
    if (JudgeAppPath(key, info.m_dwValues) == EAppPath::Broken) {
        PostFinding(APP_PATH, hRoot, sSubkey, L"There is no file associated.", dwView, true,
                    std::make_unique<CDeleteRegistryKey>(hRoot, sSubkey, L"", L"", dwView));
    }
}

// ---- Help files ----

void ScanHelpFilesBody(const std::wstring& sRoot, const std::wstring& sSubkey,
                       const std::wstring& sValueName, const std::wstring& sValueData,
                       REGSAM dwView) {
    if (sValueData.empty()) {
        return;
    }
    std::wstring sFolder = sValueData;
    if (sFolder.back() != L'\\') {
        sFolder += L'\\';
    }
    if (FindFile(sFolder + sValueName, false)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    PostFinding(HELP_FILES, hRoot, sSubkey, kFileMissing, dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sFolder,
                                                       dwView));
}

// ---- File/path references ----

// Keys whose values are caches, other control sets or another user's defaults: not judged.
bool IsFilePathSkipped(const std::wstring& sRoot, const std::wstring& sSubkey) {
    if (ContainsAny(sSubkey,
                    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths",
                     L"CurrentControlSet", L"\\ControlSet"}) ||
        IsBelowDefaultUser(sSubkey)) {
        return true;
    }
    return !Platform::EqualNoCase(sRoot, L"HKEY_CLASSES_ROOT") &&
           sSubkey.find(L"VirtualStore") != std::wstring::npos;
}

// One existing file or folder among the text's drive paths makes the value sound; it is broken
// when none exists and at least one names a file.
bool HasOnlyMissingFiles(const std::wstring& sText) {
    bool bMissing = false;
    std::size_t nStart = 0;
    while (nStart < sText.size()) {
        const std::size_t nEnd = std::min(sText.find_first_of(L",;", nStart), sText.size());
        std::wstring sToken = sText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (sToken.empty() || !SplitDrivePath(sToken)) {
            continue;
        }
        if (FindFile(sToken, false)) {
            return false;
        }
        if (!ExtractFilePath(sToken)) {
            continue;
        }
        if (FindFile(sToken, false)) {
            return false;
        }
        bMissing = true;
    }
    return bMissing;
}

void ScanFilePathBody(const std::wstring& sRoot, const std::wstring& sSubkey,
                      const std::wstring& sValueName, const std::wstring& sValueData,
                      REGSAM dwView) {
    if (sValueData.empty() || IsFilePathSkipped(sRoot, sSubkey) ||
        !HasOnlyMissingFiles(sValueData)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    PostFinding(FILE_PATH, hRoot, sSubkey, kFileMissing, dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sValueData,
                                                       dwView));
}

// Guards a value callback with the engine's handlers under its routine name.
template <class TBody>
void Guarded(const wchar_t* pszRoutine, const std::wstring& sRoot, const std::wstring& sSubkey,
             const std::wstring& sValueName, const std::wstring& sValueData, TBody&& body) {
    RunGuarded(
        pszRoutine, [&] { return ValueParameters(sRoot, sSubkey, sValueName, sValueData); },
        std::forward<TBody>(body));
}

}  // namespace

void ScanFileAssociations(const std::wstring& sRoot, const std::wstring& sSubkey,
                          const std::wstring& sValueName, const std::wstring& sValueData,
                          REGSAM dwView) {
    Guarded(L"ScanFileAssociations", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanFileAssociationsBody(sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanAppPaths(const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(L"ScanAppPaths", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanAppPathsBody(sRoot, sSubkey, dwView); });
}

void ScanHelpFiles(const std::wstring& sRoot, const std::wstring& sSubkey,
                   const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(L"ScanHelpFiles", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanHelpFilesBody(sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanFilePath(const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(L"ScanFilePath", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanFilePathBody(sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanEmptyKey(const std::wstring& sRoot, const std::wstring& sSubkey, DWORD dwSubKeys,
                  DWORD dwValues, REGSAM dwView) {
    // A key right below the root is a hive of HKEY_USERS (or of the machine): never removed.
    if (dwSubKeys != 0 || dwValues != 0 || sSubkey.find(L'\\') == std::wstring::npos ||
        ContainsAny(sSubkey, {L"Microsoft", L"Classes", L"\\Printers"}) ||
        IsBelowDefaultUser(sSubkey)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    PostFinding(EMPTY_KEYS, hRoot, TopEmptyAncestor(hRoot, sSubkey, dwView), L"The key is empty.",
                dwView, true, std::make_unique<CDeleteRegistryKey>(hRoot, sSubkey, L"", L"", dwView));
}

std::wstring TopEmptyAncestor(HKEY hRoot, const std::wstring& sKeyPath, REGSAM dwView) {
    std::wstring sResult = sKeyPath;
    for (std::wstring sParent = ParentPath(sKeyPath); sParent.find(L'\\') != std::wstring::npos;
         sParent = ParentPath(sParent)) {
        Platform::CRegKey key;
        Platform::CRegKeyInfo info;
        // An ancestor with values of its own is not empty: deleting it would lose them.
        if (Registry().OpenKey(hRoot, sParent, KEY_ALL_ACCESS | dwView, &key) != ERROR_SUCCESS ||
            key.QueryInfo(&info) != ERROR_SUCCESS || info.m_dwSubKeys != 1 ||
            info.m_dwValues != 0) {
            break;
        }
        sResult = sParent;
    }
    return sResult;
}

}  // namespace Branwick
