// Value scanners of the system's lists of installed things: uninstall entries, fonts, shared DLL
// counts and startup items.
#include <algorithm>
#include <vector>

#include "core/RegError.h"
#include "engine/SystemScanners.h"
#include "engine/WineContent.h"
#include "platform/target/target.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

constexpr const wchar_t* kFileMissing = L"Specified file doesn't exist.";

// Posts one finding about a key walked in a view, with its one fix.
void PostFinding(const COperation& op, std::int32_t nScanType, const std::wstring& strRoot,
                 const std::wstring& strSubkey, const wchar_t* pszDescription, REGSAM dwView,
                 bool bDeleteSelf, std::unique_ptr<IFix> pFix) {
    CRegError record(nScanType, GetRootKeyHandle(strRoot), strSubkey, pszDescription, dwView,
                     bDeleteSelf);
    record.AddFix(std::move(pFix));
    op.Post(std::make_unique<CErrorFoundMessage>(std::move(record), nScanType));
}

std::unique_ptr<IFix> DeleteValue(const std::wstring& strRoot, const std::wstring& strSubkey,
                                  const std::wstring& strName, const std::wstring& strData,
                                  REGSAM dwView) {
    return std::make_unique<CDeleteRegistryValue>(GetRootKeyHandle(strRoot), strSubkey, strName,
                                                  strData, dwView);
}

void ScanUninstallValue(const COperation& op, const std::wstring& strRoot,
                        const std::wstring& strSubkey, const std::wstring& strValueName,
                        const std::wstring& strValueData, REGSAM dwView) {
    if (strValueName.empty()) {
        return;
    }
    if (Platform::EqualNoCase(strValueName, L"DisplayName")) {
        if (strValueData.empty()) {
            PostFinding(op, UNINSTALL, strRoot, strSubkey,
                        L"Uninstall entry has empty DisplayName value.", dwView, true,
                        DeleteValue(strRoot, strSubkey, strValueName, strValueData, dwView));
        }
        return;
    }
    if (!Platform::EqualNoCase(strValueName, L"UninstallString")) {
        return;
    }
    // An uninstaller without a drive path (MsiExec.exe /X{...}) is the system's own: not judged.
    std::wstring strFile = strValueData;
    if (ExtractFilePath(strFile) && !FindFile(op, strFile, true)) {
        PostFinding(op, UNINSTALL, strRoot, strSubkey,
                    L"Uninstall entry refers to non-existing uninstall file.", dwView, true,
                    std::make_unique<CDeleteRegistryKey>(GetRootKeyHandle(strRoot), strSubkey,
                                                         strValueName, strFile, dwView));
    }
}

// A bare file name is looked for in every font folder of the target: in a Wine prefix the fonts
// Wine ships are registered by bare name but live in Wine's own folder, not in the prefix.
bool FindFont(const COperation& op, const std::wstring& strFile) {
    if (strFile.find(L'\\') != std::wstring::npos) {
        return FindFile(op, strFile, false);
    }
    const std::vector<std::wstring> vcFolders = op.Target()->FontFolders();
    return std::any_of(vcFolders.begin(), vcFolders.end(), [&](const std::wstring& strFolder) {
        return FindFile(op, strFolder + L"\\" + strFile, false);
    });
}

void ScanFontValue(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                   const std::wstring& strValueName, const std::wstring& strValueData,
                   REGSAM dwView) {
    if (strValueData.empty()) {
        PostFinding(op, FONTS, strRoot, strSubkey, L"The valuedata is empty", dwView, false,
                    DeleteValue(strRoot, strSubkey, strValueName, L"", dwView));
        return;
    }
    const std::wstring strFile = Trim(strValueData, L"\" ");
    if (!FindFont(op, strFile) &&
        !IsWineOwnContent(op, FONTS, GetRootKeyHandle(strRoot), strSubkey, strValueName, strFile)) {
        PostFinding(op, FONTS, strRoot, strSubkey, kFileMissing, dwView, false,
                    DeleteValue(strRoot, strSubkey, strValueName, strValueData, dwView));
    }
}

void ScanSharedDllValue(const COperation& op, const std::wstring& strRoot,
                        const std::wstring& strSubkey, const std::wstring& strValueName,
                        const std::wstring& strValueData, REGSAM dwView) {
    // The name is the DLL's path as its installer wrote it: taken literally, never expanded.
    const std::wstring strFile = Trim(strValueName, L" \t\r\n\v\f");
    if (strFile.empty() || FileExists(op, strFile)) {
        return;
    }
    // The fix deletes the value by its own name: a name with blanks around the path trimmed away
    // would name no value, and the fix could never succeed.
    PostFinding(op, SHARED_DLLS, strRoot, strSubkey, kFileMissing, dwView, false,
                DeleteValue(strRoot, strSubkey, strValueName, strValueData, dwView));
}

void ScanStartupValue(const COperation& op, const std::wstring& strRoot,
                      const std::wstring& strSubkey, const std::wstring& strValueName,
                      const std::wstring& strValueData, REGSAM dwView) {
    if (strValueData.empty()) {
        return;
    }
    // The fix shows the data as stored, so that the user recognises the value it deletes.
    if (!FindFile(op, Trim(strValueData, L"\" "), true)) {
        PostFinding(op, STARTUP, strRoot, strSubkey, kFileMissing, dwView, false,
                    DeleteValue(strRoot, strSubkey, strValueName, strValueData, dwView));
    }
}

// Runs a value scanner inside the engine's handlers under its routine name.
void Guarded(const COperation& op, const wchar_t* pszRoutine, ValueCallback pfnScan,
             const std::wstring& strRoot, const std::wstring& strSubkey,
             const std::wstring& strValueName, const std::wstring& strValueData, REGSAM dwView) {
    RunGuarded(
        op, pszRoutine,
        [&] { return ValueParameters(strRoot, strSubkey, strValueName, strValueData); },
        [&] { pfnScan(op, strRoot, strSubkey, strValueName, strValueData, dwView); });
}

}  // namespace

void ScanUninstalls(const COperation& op, const std::wstring& strRoot,
                    const std::wstring& strSubkey, const std::wstring& strValueName,
                    const std::wstring& strValueData, REGSAM dwView) {
    Guarded(op, L"ScanUninstalls", &ScanUninstallValue, strRoot, strSubkey, strValueName,
            strValueData, dwView);
}

void ScanFontEntries(const COperation& op, const std::wstring& strRoot,
                     const std::wstring& strSubkey, const std::wstring& strValueName,
                     const std::wstring& strValueData, REGSAM dwView) {
    Guarded(op, L"ScanFontEntries", &ScanFontValue, strRoot, strSubkey, strValueName, strValueData,
            dwView);
}

void ScanSharedDlls(const COperation& op, const std::wstring& strRoot,
                    const std::wstring& strSubkey, const std::wstring& strValueName,
                    const std::wstring& strValueData, REGSAM dwView) {
    Guarded(op, L"ScanSharedDlls", &ScanSharedDllValue, strRoot, strSubkey, strValueName,
            strValueData, dwView);
}

void ScanStartups(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView) {
    Guarded(op, L"ScanStartups", &ScanStartupValue, strRoot, strSubkey, strValueName, strValueData,
            dwView);
}

}  // namespace Branwick
