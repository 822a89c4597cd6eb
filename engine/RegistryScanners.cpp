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
                 const std::wstring& strPath, const std::wstring& strDescription, REGSAM dwView,
                 bool bDeleteSelf, std::unique_ptr<IFix> pFix) {
    CRegError record(nScanType, hRoot, strPath, strDescription, dwView, bDeleteSelf);
    record.AddFix(std::move(pFix));
    op.Post(std::make_unique<CErrorFoundMessage>(std::move(record), nScanType));
}

bool ContainsAny(const std::wstring& strText, std::initializer_list<const wchar_t*> words) {
    for (const wchar_t* pszWord : words) {
        if (strText.find(pszWord) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

// The default user's hive: Windows names it ".DEFAULT", Wine ".Default"; key names are the same
// in any case.
bool IsBelowDefaultUser(const std::wstring& strPath) {
    return Platform::FoldCase(strPath).find(Platform::FoldCase(L".DEFAULT")) != std::wstring::npos;
}

// The text before the last backslash; empty (the root) when there is none.
std::wstring ParentPath(const std::wstring& strPath) {
    const std::size_t nSlash = strPath.rfind(L'\\');
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash);
}

// ---- Empty keys ----

// Deeper than this, a tree of empty keys is taken as not empty: the climb stops below it.
constexpr int kMaxEmptyTreeDepth = 64;

// Whether root\strPath (open as key) and every key below it hold no value and would each be
// reported when empty: the fix that deletes the empty keys below it leaves it empty too.
bool IsEmptyTree(const COperation& op, const Platform::CRegKey& key, HKEY hRoot,
                 const std::wstring& strPath, int nDepth) {
    Platform::CRegKeyInfo info;
    if (nDepth > kMaxEmptyTreeDepth || key.QueryInfo(&info) != ERROR_SUCCESS ||
        info.m_dwValues != 0 || !IsReportableEmptyKey(op, hRoot, strPath)) {
        return false;
    }
    std::wstring strName;
    for (DWORD j = 0; j < info.m_dwSubKeys; ++j) {
        Platform::CRegKey child;
        if (key.EnumKey(j, &strName) != ERROR_SUCCESS ||
            key.OpenKey(strName, KEY_READ, &child) != ERROR_SUCCESS ||
            !IsEmptyTree(op, child, hRoot, strPath + L"\\" + strName, nDepth + 1)) {
            return false;
        }
    }
    return true;
}

// Whether every subkey of root\strParent but strKnown (an empty tree already) is an empty tree.
bool OthersAreEmptyTrees(const COperation& op, const Platform::CRegKey& parent, HKEY hRoot,
                         const std::wstring& strParent, const std::wstring& strKnown,
                         DWORD dwSubKeys) {
    std::wstring strName;
    for (DWORD j = 0; j < dwSubKeys; ++j) {
        if (parent.EnumKey(j, &strName) != ERROR_SUCCESS) {
            return false;
        }
        const std::wstring strChild = strParent + L"\\" + strName;
        Platform::CRegKey child;
        if (!Platform::EqualNoCase(strChild, strKnown) &&
            (parent.OpenKey(strName, KEY_READ, &child) != ERROR_SUCCESS ||
             !IsEmptyTree(op, child, hRoot, strChild, 0))) {
            return false;
        }
    }
    return true;
}

// The first key without subkeys below root\strPath (or the key itself) in the walk's order.
std::wstring FirstLeaf(const COperation& op, HKEY hRoot, const std::wstring& strPath,
                       REGSAM dwView) {
    std::wstring strLeaf = strPath;
    Platform::CRegKey key;
    if (op.Registry().OpenKey(hRoot, strPath, KEY_READ | dwView, &key) != ERROR_SUCCESS) {
        return strLeaf;
    }
    std::wstring strName;
    for (int nDepth = 0; nDepth <= kMaxEmptyTreeDepth && key.EnumKey(0, &strName) == ERROR_SUCCESS;
         ++nDepth) {
        Platform::CRegKey child;
        if (key.OpenKey(strName, KEY_READ, &child) != ERROR_SUCCESS) {
            break;
        }
        strLeaf += L"\\" + strName;
        key = std::move(child);
    }
    return strLeaf;
}

// ---- File associations ----

// An extension's class, or its perceived type's key, must exist below the root. The test goes
// through the walker, which logs a key that does not open.
void CheckAssociatedKey(const COperation& op, const std::wstring& strRoot,
                        const std::wstring& strSubkey, const std::wstring& strValueName,
                        const std::wstring& strValueData, const std::wstring& strClassKey,
                        REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    if (ProcessKey(op, hRoot, strClassKey, 0, nullptr, -1, -1, 0, dwView) == ERROR_SUCCESS) {
        return;
    }
    PostFinding(op, FILE_ASSOCIATIONS, hRoot, strSubkey,
                FormatText(L"Associated class \"%ls\\%ls\" doesn't exist", strRoot.c_str(),
                           strClassKey.c_str()),
                dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, strSubkey, strValueName, strValueData,
                                                       dwView));
}

// The perceived types Windows itself defines: sound whether or not a key describes them.
bool IsSystemPerceivedType(const std::wstring& strType) {
    for (const wchar_t* pszType :
         {L"text", L"image", L"audio", L"video", L"compressed", L"document", L"system",
          L"application", L"gamemedia", L"contacts"}) {
        if (Platform::EqualNoCase(strType, pszType)) {
            return true;
        }
    }
    return false;
}

// An extension is a key right below the root whose name starts with '.'; the keys below one
// (.txt\PersistentHandler, .txt\shell\open\command) hold CLSIDs and commands, not class names.
bool IsExtensionKey(const std::wstring& strSubkey) {
    return !strSubkey.empty() && strSubkey.front() == L'.' &&
           strSubkey.find(L'\\') == std::wstring::npos;
}

void ScanFileAssociationsBody(const COperation& op, const std::wstring& strRoot,
                              const std::wstring& strSubkey, const std::wstring& strValueName,
                              const std::wstring& strValueData, REGSAM dwView) {
    if (IsExtensionKey(strSubkey)) {
        if (strValueName.empty()) {
            CheckAssociatedKey(op, strRoot, strSubkey, strValueName, strValueData, strValueData,
                               dwView);
        } else if (Platform::EqualNoCase(strValueName, L"PerceivedType") &&
                   !IsSystemPerceivedType(strValueData)) {
            CheckAssociatedKey(op, strRoot, strSubkey, strValueName, strValueData,
                               L"SystemFileAssociations\\" + strValueData, dwView);
        }
        return;
    }
    if (!strValueName.empty()) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    for (const wchar_t* pszVerb : {L"edit", L"open", L"print"}) {
        const std::wstring strVerbKey = strSubkey + L"\\shell\\" + pszVerb;
        if (!CheckCommandKey(op, strRoot, strVerbKey)) {
            PostFinding(op, FILE_ASSOCIATIONS, hRoot, strVerbKey,
                        L"Shell command refers to the non-existing file.", dwView, true,
                        std::make_unique<CDeleteRegistryKey>(hRoot, strVerbKey, L"", L"", dwView));
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

void ScanAppPathsBody(const COperation& op, const std::wstring& strRoot,
                      const std::wstring& strSubkey, REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    Platform::CRegKey key;
    const LONG lOpen = op.Registry().OpenKey(hRoot, strSubkey, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        const std::wstring strLine = FormatText(L"Can not open key: %ls\\%ls \r\nError %d",
                                                strRoot.c_str(), strSubkey.c_str(), lOpen);
        ScanLog().Write(strLine);
        op.PostLogLine(strLine);
        return;
    }
    Platform::CRegKeyInfo info;
    if (key.QueryInfo(&info) != ERROR_SUCCESS) {
        return;
    }
    if (JudgeAppPath(op, key, info.m_dwValues) == EAppPath::Broken) {
        PostFinding(op, APP_PATH, hRoot, strSubkey, L"There is no file associated.", dwView, true,
                    std::make_unique<CDeleteRegistryKey>(hRoot, strSubkey, L"", L"", dwView));
    }
}

// ---- Help files ----

void ScanHelpFilesBody(const COperation& op, const std::wstring& strRoot,
                       const std::wstring& strSubkey, const std::wstring& strValueName,
                       const std::wstring& strValueData, REGSAM dwView) {
    if (strValueData.empty()) {
        return;
    }
    std::wstring strFolder = strValueData;
    if (strFolder.back() != L'\\') {
        strFolder += L'\\';
    }
    if (FindFile(op, strFolder + strValueName, false)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    PostFinding(
        op, HELP_FILES, hRoot, strSubkey, kFileMissing, dwView, false,
        std::make_unique<CDeleteRegistryValue>(hRoot, strSubkey, strValueName, strFolder, dwView));
}

// ---- File/path references ----

// Keys whose values are caches, other control sets or another user's defaults: not judged.
bool IsFilePathSkipped(const std::wstring& strRoot, const std::wstring& strSubkey) {
    if (ContainsAny(
            strSubkey,
            {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths",
             L"CurrentControlSet", L"\\ControlSet"}) ||
        IsBelowDefaultUser(strSubkey)) {
        return true;
    }
    return !Platform::EqualNoCase(strRoot, L"HKEY_CLASSES_ROOT") &&
           strSubkey.find(L"VirtualStore") != std::wstring::npos;
}

// One existing file or folder among the text's drive paths makes the value sound; it is broken
// when none exists and at least one names a file.
bool HasOnlyMissingFiles(const COperation& op, const std::wstring& strText) {
    bool bMissing = false;
    std::size_t nStart = 0;
    while (nStart < strText.size()) {
        const std::size_t nEnd = std::min(strText.find_first_of(L",;", nStart), strText.size());
        std::wstring strToken = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strToken.empty() || !SplitDrivePath(strToken)) {
            continue;
        }
        if (FindFile(op, strToken, false)) {
            return false;
        }
        if (!ExtractFilePath(strToken)) {
            continue;
        }
        if (FindFile(op, strToken, false)) {
            return false;
        }
        bMissing = true;
    }
    return bMissing;
}

// The program of a command written as "C:\Dir\app.exe" -check: a quoted drive path followed by
// nothing or by arguments. Empty for any other text (a quoted list "a","b" is no command).
std::wstring QuotedProgram(const std::wstring& strText) {
    const std::wstring strCommand = Trim(strText, L" ");
    const std::size_t nClose = strCommand.find(L'"', 1);
    if (strCommand.size() < 4 || strCommand[0] != L'"' || !std::iswalpha(strCommand[1]) ||
        strCommand.compare(2, 2, L":\\") != 0 || nClose == std::wstring::npos ||
        (nClose + 1 < strCommand.size() && strCommand[nClose + 1] != L' ')) {
        return {};
    }
    return strCommand.substr(1, nClose - 1);
}

// A command is broken, as a Run entry is, when its program is a file that cannot be found.
bool IsMissingProgram(const COperation& op, const std::wstring& strProgram) {
    const std::size_t nName = strProgram.rfind(L'\\');
    return strProgram.find(L'.', nName) != std::wstring::npos &&
           !FileExists(op, ExpandPath(op, strProgram)) && !FindFile(op, strProgram, true);
}

void ScanFilePathBody(const COperation& op, const std::wstring& strRoot,
                      const std::wstring& strSubkey, const std::wstring& strValueName,
                      const std::wstring& strValueData, REGSAM dwView) {
    if (strValueData.empty() || IsFilePathSkipped(strRoot, strSubkey)) {
        return;
    }
    const std::wstring strProgram = QuotedProgram(strValueData);
    if (strProgram.empty() ? !HasOnlyMissingFiles(op, strValueData)
                           : !IsMissingProgram(op, strProgram)) {
        return;
    }
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    if (IsWineOwnContent(op, FILE_PATH, hRoot, strSubkey, strValueName, strValueData)) {
        return;
    }
    PostFinding(op, FILE_PATH, hRoot, strSubkey, kFileMissing, dwView, false,
                std::make_unique<CDeleteRegistryValue>(hRoot, strSubkey, strValueName, strValueData,
                                                       dwView));
}

// Guards a value callback with the engine's handlers under its routine name.
template <class TBody>
void Guarded(const COperation& op, const wchar_t* pszRoutine, const std::wstring& strRoot,
             const std::wstring& strSubkey, const std::wstring& strValueName,
             const std::wstring& strValueData, TBody&& body) {
    RunGuarded(
        op, pszRoutine,
        [&] { return ValueParameters(strRoot, strSubkey, strValueName, strValueData); },
        std::forward<TBody>(body));
}

}  // namespace

void ScanFileAssociations(const COperation& op, const std::wstring& strRoot,
                          const std::wstring& strSubkey, const std::wstring& strValueName,
                          const std::wstring& strValueData, REGSAM dwView) {
    Guarded(op, L"ScanFileAssociations", strRoot, strSubkey, strValueName, strValueData, [&] {
        ScanFileAssociationsBody(op, strRoot, strSubkey, strValueName, strValueData, dwView);
    });
}

void ScanAppPaths(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView) {
    Guarded(op, L"ScanAppPaths", strRoot, strSubkey, strValueName, strValueData,
            [&] { ScanAppPathsBody(op, strRoot, strSubkey, dwView); });
}

void ScanHelpFiles(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                   const std::wstring& strValueName, const std::wstring& strValueData,
                   REGSAM dwView) {
    Guarded(op, L"ScanHelpFiles", strRoot, strSubkey, strValueName, strValueData,
            [&] { ScanHelpFilesBody(op, strRoot, strSubkey, strValueName, strValueData, dwView); });
}

void ScanFilePath(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView) {
    Guarded(op, L"ScanFilePath", strRoot, strSubkey, strValueName, strValueData,
            [&] { ScanFilePathBody(op, strRoot, strSubkey, strValueName, strValueData, dwView); });
}

void ScanEmptyKey(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  DWORD dwSubKeys, DWORD dwValues, REGSAM dwView) {
    const HKEY hRoot = GetRootKeyHandle(strRoot);
    if (dwSubKeys != 0 || dwValues != 0 || !IsReportableEmptyKey(op, hRoot, strSubkey)) {
        return;
    }
    // Empty keys that share their top are one problem with one fix: it is reported once, for the
    // first of them the walk meets.
    const std::wstring strTop = TopEmptyAncestor(op, hRoot, strSubkey, dwView);
    if (!Platform::EqualNoCase(FirstLeaf(op, hRoot, strTop, dwView), strSubkey)) {
        return;
    }
    PostFinding(op, EMPTY_KEYS, hRoot, strTop, L"The key is empty.", dwView, true,
                std::make_unique<CDeleteRegistryKey>(hRoot, strSubkey, L"", L"", dwView));
}

bool IsReportableEmptyKey(const COperation& op, HKEY hRoot, const std::wstring& strPath) {
    // A key right below the root is a hive of HKEY_USERS (or of the machine): never removed.
    return strPath.find(L'\\') != std::wstring::npos &&
           !ContainsAny(strPath, {L"Microsoft", L"Classes", L"\\Printers"}) &&
           !IsBelowDefaultUser(strPath) && !IsWineOwnContent(op, EMPTY_KEYS, hRoot, strPath);
}

std::wstring TopEmptyAncestor(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath,
                              REGSAM dwView) {
    std::wstring strResult = strKeyPath;
    for (std::wstring strParent = ParentPath(strKeyPath);
         IsReportableEmptyKey(op, hRoot, strParent); strParent = ParentPath(strParent)) {
        Platform::CRegKey key;
        Platform::CRegKeyInfo info;
        // An ancestor with values of its own is not empty: deleting it would lose them.
        if (op.Registry().OpenKey(hRoot, strParent, KEY_ALL_ACCESS | dwView, &key) !=
                ERROR_SUCCESS ||
            key.QueryInfo(&info) != ERROR_SUCCESS || info.m_dwValues != 0 ||
            !OthersAreEmptyTrees(op, key, hRoot, strParent, strResult, info.m_dwSubKeys)) {
            break;
        }
        strResult = strParent;
    }
    return strResult;
}

}  // namespace Branwick
