// Value scanners of references: file associations, application paths, help files, file/path
// references, and the empty-key test.
#include "engine/RegistryScanners.h"

#include <cwctype>
#include <initializer_list>

#include "core/RegError.h"
#include "core/Text.h"
#include "engine/WineContent.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

constexpr const wchar_t* kFileMissing = L"Specified file doesn't exist.";

// App Paths values are read with these limits.
constexpr DWORD kAppPathNameChars = 256;
constexpr DWORD kAppPathDataBytes = 16383;

void PostFinding(const COperation& op, std::int32_t nScanType, HKEY hRoot,
                 const std::wstring& sPath, const std::wstring& sDescription, REGSAM dwView,
                 bool bDeleteSelf, std::unique_ptr<IFix> pFix) {
    CRegError record(nScanType, hRoot, sPath, sDescription, dwView, bDeleteSelf);
    record.AddFix(std::move(pFix));
    op.Post(std::make_unique<CErrorFoundMessage>(record, nScanType));
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

// ---- Empty keys ----

// Deeper than this, a tree of empty keys is taken as not empty: the climb stops below it.
constexpr int kMaxEmptyTreeDepth = 64;

// Whether root\sPath (open as key) and every key below it hold no value and would each be
// reported when empty: the fix that deletes the empty keys below it leaves it empty too.
bool IsEmptyTree(const COperation& op, const Platform::CRegKey& key, HKEY hRoot, const std::wstring& sPath, int nDepth) {
    Platform::CRegKeyInfo info;
    if (nDepth > kMaxEmptyTreeDepth || key.QueryInfo(&info) != ERROR_SUCCESS ||
        info.m_dwValues != 0 || !IsReportableEmptyKey(op, hRoot, sPath)) {
        return false;
    }
    std::wstring sName;
    for (DWORD j = 0; j < info.m_dwSubKeys; ++j) {
        Platform::CRegKey child;
        if (key.EnumKey(j, &sName) != ERROR_SUCCESS ||
            key.OpenKey(sName, KEY_READ, &child) != ERROR_SUCCESS ||
            !IsEmptyTree(op, child, hRoot, sPath + L"\\" + sName, nDepth + 1)) {
            return false;
        }
    }
    return true;
}

// Whether every subkey of root\sParent but sKnown (an empty tree already) is an empty tree.
bool OthersAreEmptyTrees(const COperation& op, const Platform::CRegKey& parent, HKEY hRoot, const std::wstring& sParent,
                         const std::wstring& sKnown, DWORD dwSubKeys) {
    std::wstring sName;
    for (DWORD j = 0; j < dwSubKeys; ++j) {
        if (parent.EnumKey(j, &sName) != ERROR_SUCCESS) {
            return false;
        }
        const std::wstring sChild = sParent + L"\\" + sName;
        Platform::CRegKey child;
        if (!Platform::EqualNoCase(sChild, sKnown) &&
            (parent.OpenKey(sName, KEY_READ, &child) != ERROR_SUCCESS ||
             !IsEmptyTree(op, child, hRoot, sChild, 0))) {
            return false;
        }
    }
    return true;
}

// The first key without subkeys below root\sPath (or the key itself) in the walk's order.
std::wstring FirstLeaf(const COperation& op, HKEY hRoot, const std::wstring& sPath, REGSAM dwView) {
    std::wstring sLeaf = sPath;
    Platform::CRegKey key;
    if (op.Registry().OpenKey(hRoot, sPath, KEY_READ | dwView, &key) != ERROR_SUCCESS) {
        return sLeaf;
    }
    std::wstring sName;
    for (int nDepth = 0; nDepth <= kMaxEmptyTreeDepth && key.EnumKey(0, &sName) == ERROR_SUCCESS;
         ++nDepth) {
        Platform::CRegKey child;
        if (key.OpenKey(sName, KEY_READ, &child) != ERROR_SUCCESS) {
            break;
        }
        sLeaf += L"\\" + sName;
        key = std::move(child);
    }
    return sLeaf;
}

// ---- File associations ----

// An extension's class, or its perceived type's key, must exist below the root. The test goes
// through the walker, which logs a key that does not open.
void CheckAssociatedKey(const COperation& op, const std::wstring& sRoot,
                        const std::wstring& sSubkey, const std::wstring& sValueName,
                        const std::wstring& sValueData, const std::wstring& sClassKey,
                        REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    if (ProcessKey(op, hRoot, sClassKey, 0, nullptr, -1, -1, 0, dwView) == ERROR_SUCCESS) {
        return;
    }
    PostFinding(
        op, FILE_ASSOCIATIONS, hRoot, sSubkey,
        FormatText(L"Associated class \"%ls\\%ls\" doesn't exist", sRoot.c_str(),
                   sClassKey.c_str()),
        dwView, false,
        std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sValueData, dwView));
}

// The perceived types Windows itself defines: sound whether or not a key describes them.
bool IsSystemPerceivedType(const std::wstring& sType) {
    for (const wchar_t* pszType :
         {L"text", L"image", L"audio", L"video", L"compressed", L"document", L"system",
          L"application", L"gamemedia", L"contacts"}) {
        if (Platform::EqualNoCase(sType, pszType)) {
            return true;
        }
    }
    return false;
}

// An extension is a key right below the root whose name starts with '.'; the keys below one
// (.txt\PersistentHandler, .txt\shell\open\command) hold CLSIDs and commands, not class names.
bool IsExtensionKey(const std::wstring& sSubkey) {
    return !sSubkey.empty() && sSubkey.front() == L'.' && sSubkey.find(L'\\') == std::wstring::npos;
}

void ScanFileAssociationsBody(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                              const std::wstring& sValueName, const std::wstring& sValueData,
                              REGSAM dwView) {
    if (IsExtensionKey(sSubkey)) {
        if (sValueName.empty()) {
            CheckAssociatedKey(op, sRoot, sSubkey, sValueName, sValueData, sValueData, dwView);
        } else if (Platform::EqualNoCase(sValueName, L"PerceivedType") &&
                   !IsSystemPerceivedType(sValueData)) {
            CheckAssociatedKey(op, sRoot, sSubkey, sValueName, sValueData,
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
        if (!CheckCommandKey(op, sRoot, sVerbKey)) {
            PostFinding(op, FILE_ASSOCIATIONS, hRoot, sVerbKey,
                        L"Shell command refers to the non-existing file.", dwView, true,
                        std::make_unique<CDeleteRegistryKey>(hRoot, sVerbKey, L"", L"", dwView));
        }
    }
}

// ---- Application paths ----

enum class EAppPath { Valid, Broken, Unknown };

// Whether any value of the opened entry names an existing file or folder. Unknown when a stop
// was requested before every value was examined.
EAppPath JudgeAppPath(const COperation& op, const Platform::CRegKey& key, DWORD dwValues) {
    Platform::CRegValue value;
    for (DWORD i = 0; i < dwValues; ++i) {
        if (!op.IsRunning()) {
            return EAppPath::Unknown;
        }
        value.m_dwType = REG_SZ;
        if (key.EnumValue(i, &value, kAppPathNameChars, kAppPathDataBytes) != ERROR_SUCCESS) {
            continue;
        }
        if (FindFile(op, Trim(ValueText(value.m_dwType, value.m_vData), L" \"'"), true)) {
            return EAppPath::Valid;
        }
    }
    return EAppPath::Broken;
}

void ScanAppPathsBody(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                      REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    Platform::CRegKey key;
    const LONG lOpen = op.Registry().OpenKey(hRoot, sSubkey, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        const std::wstring sLine = FormatText(L"Can not open key: %ls\\%ls \r\nError %d",
                                              sRoot.c_str(), sSubkey.c_str(), lOpen);
        ScanLog().Write(sLine);
        op.PostLogLine(sLine);
        return;
    }
    Platform::CRegKeyInfo info;
    if (key.QueryInfo(&info) != ERROR_SUCCESS) {
        return;
    }
    if (JudgeAppPath(op, key, info.m_dwValues) == EAppPath::Broken) {
        PostFinding(op, APP_PATH, hRoot, sSubkey, L"There is no file associated.", dwView, true,
                    std::make_unique<CDeleteRegistryKey>(hRoot, sSubkey, L"", L"", dwView));
    }
}

// ---- Help files ----

void ScanHelpFilesBody(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                       const std::wstring& sValueName, const std::wstring& sValueData,
                       REGSAM dwView) {
    if (sValueData.empty()) {
        return;
    }
    std::wstring sFolder = sValueData;
    if (sFolder.back() != L'\\') {
        sFolder += L'\\';
    }
    if (FindFile(op, sFolder + sValueName, false)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    PostFinding(
        op, HELP_FILES, hRoot, sSubkey, kFileMissing, dwView, false,
        std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sFolder, dwView));
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
bool HasOnlyMissingFiles(const COperation& op, const std::wstring& sText) {
    bool bMissing = false;
    std::size_t nStart = 0;
    while (nStart < sText.size()) {
        const std::size_t nEnd = std::min(sText.find_first_of(L",;", nStart), sText.size());
        std::wstring sToken = sText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (sToken.empty() || !SplitDrivePath(sToken)) {
            continue;
        }
        if (FindFile(op, sToken, false)) {
            return false;
        }
        if (!ExtractFilePath(sToken)) {
            continue;
        }
        if (FindFile(op, sToken, false)) {
            return false;
        }
        bMissing = true;
    }
    return bMissing;
}

// The program of a command written as "C:\Dir\app.exe" -check: a quoted drive path followed by
// nothing or by arguments. Empty for any other text (a quoted list "a","b" is no command).
std::wstring QuotedProgram(const std::wstring& sText) {
    const std::wstring sCommand = Trim(sText, L" ");
    const std::size_t nClose = sCommand.find(L'"', 1);
    if (sCommand.size() < 4 || sCommand[0] != L'"' || !std::iswalpha(sCommand[1]) ||
        sCommand.compare(2, 2, L":\\") != 0 || nClose == std::wstring::npos ||
        (nClose + 1 < sCommand.size() && sCommand[nClose + 1] != L' ')) {
        return {};
    }
    return sCommand.substr(1, nClose - 1);
}

// A command is broken, as a Run entry is, when its program is a file that cannot be found.
bool IsMissingProgram(const COperation& op, const std::wstring& sProgram) {
    const std::size_t nName = sProgram.rfind(L'\\');
    return sProgram.find(L'.', nName) != std::wstring::npos && !FileExists(op, ExpandPath(op, sProgram)) &&
           !FindFile(op, sProgram, true);
}

void ScanFilePathBody(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                      const std::wstring& sValueName, const std::wstring& sValueData,
                      REGSAM dwView) {
    if (sValueData.empty() || IsFilePathSkipped(sRoot, sSubkey)) {
        return;
    }
    const std::wstring sProgram = QuotedProgram(sValueData);
    if (sProgram.empty() ? !HasOnlyMissingFiles(op, sValueData) : !IsMissingProgram(op, sProgram)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    if (IsWineOwnContent(op, FILE_PATH, hRoot, sSubkey, sValueName, sValueData)) {
        return;
    }
    PostFinding(op, FILE_PATH, hRoot, sSubkey, kFileMissing, dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, sSubkey, sValueName, sValueData,
                                                       dwView));
}

// Guards a value callback with the engine's handlers under its routine name.
template <class TBody>
void Guarded(const COperation& op, const wchar_t* pszRoutine, const std::wstring& sRoot,
             const std::wstring& sSubkey, const std::wstring& sValueName,
             const std::wstring& sValueData, TBody&& body) {
    RunGuarded(
        op, pszRoutine, [&] { return ValueParameters(sRoot, sSubkey, sValueName, sValueData); },
        std::forward<TBody>(body));
}

}  // namespace

void ScanFileAssociations(const COperation& op, const std::wstring& sRoot,
                          const std::wstring& sSubkey, const std::wstring& sValueName,
                          const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanFileAssociations", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanFileAssociationsBody(op, sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanAppPaths(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanAppPaths", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanAppPathsBody(op, sRoot, sSubkey, dwView); });
}

void ScanHelpFiles(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                   const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanHelpFiles", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanHelpFilesBody(op, sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanFilePath(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanFilePath", sRoot, sSubkey, sValueName, sValueData,
            [&] { ScanFilePathBody(op, sRoot, sSubkey, sValueName, sValueData, dwView); });
}

void ScanEmptyKey(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey, DWORD dwSubKeys,
                  DWORD dwValues, REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(sRoot);
    if (dwSubKeys != 0 || dwValues != 0 || !IsReportableEmptyKey(op, hRoot, sSubkey)) {
        return;
    }
    // Empty keys that share their top are one problem with one fix: it is reported once, for the
    // first of them the walk meets.
    const std::wstring sTop = TopEmptyAncestor(op, hRoot, sSubkey, dwView);
    if (!Platform::EqualNoCase(FirstLeaf(op, hRoot, sTop, dwView), sSubkey)) {
        return;
    }
    PostFinding(op, EMPTY_KEYS, hRoot, sTop, L"The key is empty.", dwView, true,
                std::make_unique<CDeleteRegistryKey>(hRoot, sSubkey, L"", L"", dwView));
}

bool IsReportableEmptyKey(const COperation& op, HKEY hRoot, const std::wstring& sPath) {
    // A key right below the root is a hive of HKEY_USERS (or of the machine): never removed.
    return sPath.find(L'\\') != std::wstring::npos &&
           !ContainsAny(sPath, {L"Microsoft", L"Classes", L"\\Printers"}) &&
           !IsBelowDefaultUser(sPath) && !IsWineOwnContent(op, EMPTY_KEYS, hRoot, sPath);
}

std::wstring TopEmptyAncestor(const COperation& op, HKEY hRoot, const std::wstring& sKeyPath,
                              REGSAM dwView) {
    std::wstring sResult = sKeyPath;
    for (std::wstring sParent = ParentPath(sKeyPath); IsReportableEmptyKey(op, hRoot, sParent);
         sParent = ParentPath(sParent)) {
        Platform::CRegKey key;
        Platform::CRegKeyInfo info;
        // An ancestor with values of its own is not empty: deleting it would lose them.
        if (op.Registry().OpenKey(hRoot, sParent, KEY_ALL_ACCESS | dwView, &key) != ERROR_SUCCESS ||
            key.QueryInfo(&info) != ERROR_SUCCESS || info.m_dwValues != 0 ||
            !OthersAreEmptyTrees(op, key, hRoot, sParent, sResult, info.m_dwSubKeys)) {
            break;
        }
        sResult = sParent;
    }
    return sResult;
}

}  // namespace Branwick
