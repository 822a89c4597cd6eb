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
void PostFinding(const COperation& op, std::int32_t nScanType, const std::wstring& sRoot,
                 const std::wstring& sSubkey, const wchar_t* pszDescription, REGSAM dwView,
                 bool bDeleteSelf, std::unique_ptr<IFix> pFix) {
    CRegError record(nScanType, GetRootKeyHandle(sRoot), sSubkey, pszDescription, dwView,
                     bDeleteSelf);
    record.AddFix(std::move(pFix));
    op.Post(std::make_unique<CErrorFoundMessage>(record, nScanType));
}

std::unique_ptr<IFix> DeleteValue(const std::wstring& sRoot, const std::wstring& sSubkey,
                                  const std::wstring& sName, const std::wstring& sData,
                                  REGSAM dwView) {
    return std::make_unique<CDeleteRegistryValue>(GetRootKeyHandle(sRoot), sSubkey, sName, sData,
                                                  dwView);
}

void ScanUninstallValue(const COperation& op, const std::wstring& sRoot,
                        const std::wstring& sSubkey, const std::wstring& sValueName,
                        const std::wstring& sValueData, REGSAM dwView) {
    if (sValueName.empty()) {
        return;
    }
    if (Platform::EqualNoCase(sValueName, L"DisplayName")) {
        if (sValueData.empty()) {
            PostFinding(op, UNINSTALL, sRoot, sSubkey,
                        L"Uninstall entry has empty DisplayName value.", dwView, true,
                        DeleteValue(sRoot, sSubkey, sValueName, sValueData, dwView));
        }
        return;
    }
    if (!Platform::EqualNoCase(sValueName, L"UninstallString")) {
        return;
    }
    // An uninstaller without a drive path (MsiExec.exe /X{...}) is the system's own: not judged.
    std::wstring sFile = sValueData;
    if (ExtractFilePath(sFile) && !FindFile(op, sFile, true)) {
        PostFinding(op, UNINSTALL, sRoot, sSubkey,
                    L"Uninstall entry refers to non-existing uninstall file.", dwView, true,
                    std::make_unique<CDeleteRegistryKey>(GetRootKeyHandle(sRoot), sSubkey,
                                                         sValueName, sFile, dwView));
    }
}

// A bare file name is looked for in every font folder of the target: in a Wine prefix the fonts
// Wine ships are registered by bare name but live in Wine's own folder, not in the prefix.
bool FindFont(const COperation& op, const std::wstring& sFile) {
    if (sFile.find(L'\\') != std::wstring::npos) {
        return FindFile(op, sFile, false);
    }
    const std::vector<std::wstring> vcFolders = op.Target()->FontFolders();
    return std::any_of(vcFolders.begin(), vcFolders.end(), [&](const std::wstring& sFolder) {
        return FindFile(op, sFolder + L"\\" + sFile, false);
    });
}

void ScanFontValue(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                   const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    if (sValueData.empty()) {
        PostFinding(op, FONTS, sRoot, sSubkey, L"The valuedata is empty", dwView, false,
                    DeleteValue(sRoot, sSubkey, sValueName, L"", dwView));
        return;
    }
    const std::wstring sFile = Trim(sValueData, L"\" ");
    if (!FindFont(op, sFile) &&
        !IsWineOwnContent(op, FONTS, GetRootKeyHandle(sRoot), sSubkey, sValueName, sFile)) {
        PostFinding(op, FONTS, sRoot, sSubkey, kFileMissing, dwView, false,
                    DeleteValue(sRoot, sSubkey, sValueName, sValueData, dwView));
    }
}

void ScanSharedDllValue(const COperation& op, const std::wstring& sRoot,
                        const std::wstring& sSubkey, const std::wstring& sValueName,
                        const std::wstring& sValueData, REGSAM dwView) {
    // The name is the DLL's path as its installer wrote it: taken literally, never expanded.
    const std::wstring sFile = Trim(sValueName, L" \t\r\n\v\f");
    if (sFile.empty() || FileExists(op, sFile)) {
        return;
    }
    // The fix deletes the value by its own name: a name with blanks around the path trimmed away
    // would name no value, and the fix could never succeed.
    PostFinding(op, SHARED_DLLS, sRoot, sSubkey, kFileMissing, dwView, false,
                DeleteValue(sRoot, sSubkey, sValueName, sValueData, dwView));
}

void ScanStartupValue(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                      const std::wstring& sValueName, const std::wstring& sValueData,
                      REGSAM dwView) {
    if (sValueData.empty()) {
        return;
    }
    // The fix shows the data as stored, so that the user recognises the value it deletes.
    if (!FindFile(op, Trim(sValueData, L"\" "), true)) {
        PostFinding(op, STARTUP, sRoot, sSubkey, kFileMissing, dwView, false,
                    DeleteValue(sRoot, sSubkey, sValueName, sValueData, dwView));
    }
}

// Runs a value scanner inside the engine's handlers under its routine name.
void Guarded(const COperation& op, const wchar_t* pszRoutine, ValueCallback pfnScan,
             const std::wstring& sRoot, const std::wstring& sSubkey, const std::wstring& sValueName,
             const std::wstring& sValueData, REGSAM dwView) {
    RunGuarded(
        op, pszRoutine, [&] { return ValueParameters(sRoot, sSubkey, sValueName, sValueData); },
        [&] { pfnScan(op, sRoot, sSubkey, sValueName, sValueData, dwView); });
}

}  // namespace

void ScanUninstalls(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                    const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanUninstalls", &ScanUninstallValue, sRoot, sSubkey, sValueName, sValueData,
            dwView);
}

void ScanFontEntries(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                     const std::wstring& sValueName, const std::wstring& sValueData,
                     REGSAM dwView) {
    Guarded(op, L"ScanFontEntries", &ScanFontValue, sRoot, sSubkey, sValueName, sValueData, dwView);
}

void ScanSharedDlls(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                    const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanSharedDlls", &ScanSharedDllValue, sRoot, sSubkey, sValueName, sValueData,
            dwView);
}

void ScanStartups(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    Guarded(op, L"ScanStartups", &ScanStartupValue, sRoot, sSubkey, sValueName, sValueData, dwView);
}

}  // namespace Branwick
