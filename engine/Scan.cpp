// The scan driver: the twelve categories in their fixed order, each with its walks, views and
// progress shares.
#include <vector>

#include "core/Text.h"
#include "engine/Drivers.h"
#include "engine/Fendral.h"
#include "engine/Scanners.h"

namespace Branwick {

namespace {

enum class EStep {
    Recursive,  // ProcessKey over the key and its whole subtree
    Values,     // ProcessKey over the key's own values
    Subkeys,    // ProcessSubkeys
    Folder,     // CountFiles and a folder scan of the folder an environment variable names
    Shared,     // a folder scan without progress of a folder of all users ("%VAR%\..."), when
                // it is a plain folder
    Driver,     // the category's own driver
    Line,       // a line in Scan.log
};

struct SStep {
    EStep eKind;
    HKEY hRoot = 0;
    const wchar_t* pszText = L"";  // key path, environment variable or log line
    REGSAM dwView = 0;
    int nStart = 0;
    int nShare = 0;
};

constexpr REGSAM k32 = KEY_WOW64_32KEY;
constexpr REGSAM k64 = KEY_WOW64_64KEY;
constexpr HKEY kHklm = HKEY_LOCAL_MACHINE;

SStep Recursive(HKEY hRoot, const wchar_t* pszPath, REGSAM dwView, int nStart, int nShare) {
    return {EStep::Recursive, hRoot, pszPath, dwView, nStart, nShare};
}
SStep Values(HKEY hRoot, const wchar_t* pszPath, REGSAM dwView, int nStart, int nShare) {
    return {EStep::Values, hRoot, pszPath, dwView, nStart, nShare};
}
SStep Line(const wchar_t* pszLine) { return {EStep::Line, 0, pszLine}; }
SStep Shared(const wchar_t* pszFolder) { return {EStep::Shared, 0, pszFolder}; }

struct SCategory {
    ScanType nBit;
    const wchar_t* pszLogName;
    ValueCallback pfnCallback;  // the registry walks' callback
    FolderScan pfnFolderScan;
    CategoryDriver pfnDriver;
    std::vector<SStep> vcWow64;  // on a 64-bit target
    std::vector<SStep> vcPlain;  // otherwise; empty: the same
};

constexpr const wchar_t* kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kFonts = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr const wchar_t* kSharedDlls = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr const wchar_t* kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kHelp = L"SOFTWARE\\Microsoft\\Windows\\Help";
constexpr const wchar_t* kHtmlHelp = L"SOFTWARE\\Microsoft\\Windows\\Html Help";
constexpr const wchar_t* kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr const wchar_t* kStartupPart2 = L"StartUp items scannig part 2 is started";
constexpr const wchar_t* kStartupPart3 = L"StartUp items scannig part 3 is started";
constexpr const wchar_t* kHelpPart2 = L"Help files entries scannig part 2 is started";

// In scan order. The starts and shares are what the progress of each category has always shown,
// repeated or skipped percents at pass boundaries included.
const std::vector<SCategory>& Categories() {
    const SScanners& s = Scanners();
    static const std::vector<SCategory> categories = {
        {JUNK_FILES, L"Junk Files", nullptr, s.pfnScanJunkFiles, nullptr,
         {{EStep::Folder, 0, L"TEMP", 0, 0, 100}}, {}},
        {COM, L"COM", nullptr, nullptr, s.pfnComDriver, {{EStep::Driver}}, {}},
        {UNINSTALL, L"Uninstall entries", s.pfnScanUninstalls, nullptr, nullptr,
         {Recursive(kHklm, kUninstall, k32, 0, 50), Recursive(kHklm, kUninstall, k64, 51, 50)},
         {Recursive(kHklm, kUninstall, k32, 0, 100)}},
        {FONTS, L"Font entries", s.pfnScanFontEntries, nullptr, nullptr,
         {Values(kHklm, kFonts, k32, 0, 100)}, {}},
        {SHARED_DLLS, L"Shared DLL", s.pfnScanSharedDlls, nullptr, nullptr,
         {Values(kHklm, kSharedDlls, k32, 0, 50), Values(kHklm, kSharedDlls, k64, 51, 50)},
         {Values(kHklm, kSharedDlls, k32, 0, 100)}},
        {STARTUP, L"StartUp items", s.pfnScanStartups, nullptr, nullptr,
         {Values(HKEY_CURRENT_USER, kRun, k32, 0, 33), Line(kStartupPart2),
          Values(kHklm, kRun, k32, 34, 33), Line(kStartupPart3), Values(kHklm, kRun, k64, 67, 33)},
         {Values(HKEY_CURRENT_USER, kRun, k32, 0, 50), Line(kStartupPart2),
          Values(kHklm, kRun, k32, 51, 50)}},
        {FILE_PATH, L"File/Path references", s.pfnScanFilePath, nullptr, nullptr,
         {Recursive(kHklm, L"", k32, 0, 100)}, {}},
        {SHOTCATS, L"Program shortcuts", nullptr, s.pfnScanShortcut, nullptr,
         {{EStep::Folder, 0, L"USERPROFILE", 0, 0, 100},
          // Programs installed for everyone put their shortcuts here; Windows XP's layout, then
          // the later one's (each is a link to the other's place where both are present).
          Shared(L"%ALLUSERSPROFILE%\\Start Menu"), Shared(L"%ALLUSERSPROFILE%\\Desktop"),
          Shared(L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu"),
          Shared(L"%PUBLIC%\\Desktop")},
         {}},
        {EMPTY_KEYS, L"Empty key entries",
         s.pfnEmptyKeyTest != nullptr ? &EmptyKeyCallback : nullptr, nullptr, nullptr,
         {Recursive(HKEY_USERS, L"", k32, 0, 100)}, {}},
        {HELP_FILES, L"Help files entries", s.pfnScanHelpFiles, nullptr, nullptr,
         {Values(kHklm, kHelp, k32, 0, 25), Line(kHelpPart2), Values(kHklm, kHtmlHelp, k32, 26, 25),
          Values(kHklm, kHelp, k64, 51, 25), Line(kHelpPart2),
          Values(kHklm, kHtmlHelp, k64, 75, 25)},
         {Values(kHklm, kHelp, k32, 0, 50), Line(kHelpPart2), Values(kHklm, kHtmlHelp, k32, 50, 50)}},
        {APP_PATH, L"App paths", s.pfnScanAppPaths, nullptr, nullptr,
         {{EStep::Subkeys, kHklm, kAppPaths, k32, 0, 100}}, {}},
        {FILE_ASSOCIATIONS, L"File associations", s.pfnScanFileAssociations, nullptr, nullptr,
         {Recursive(HKEY_CLASSES_ROOT, L"", k32, 0, 100)}, {}},
    };
    return categories;
}

void RunStep(const COperation& op, const SCategory& category, const SStep& step) {
    switch (step.eKind) {
        case EStep::Recursive:
        case EStep::Values:
            ProcessKey(op, step.hRoot, step.pszText, step.eKind == EStep::Recursive ? 1 : 0,
                       category.pfnCallback, step.nStart, step.nShare, category.nBit, step.dwView);
            break;
        case EStep::Subkeys:
            ProcessSubkeys(op, step.hRoot, step.pszText, category.pfnCallback, step.nStart,
                           step.nShare, category.nBit, step.dwView);
            break;
        case EStep::Folder:
            if (category.pfnFolderScan != nullptr && Scanners().pfnCountFiles != nullptr) {
                const std::wstring strFolder = op.Environment().Get(step.pszText);
                const DWORD dwCount = Scanners().pfnCountFiles(op, strFolder);
                category.pfnFolderScan(op, strFolder, step.nStart, step.nShare,
                                       static_cast<int>(dwCount));
            }
            break;
        case EStep::Shared:
            if (category.pfnFolderScan != nullptr) {
                const std::wstring strFolder = op.Environment().Expand(step.pszText);
                // A name left unexpanded names no folder; a link (Vista's "All Users\Desktop"
                // leads to the public one) would scan a folder twice.
                const DWORD dwAttributes = op.Files().GetFileAttributes(strFolder);
                if (strFolder.find(L'%') == std::wstring::npos &&
                    dwAttributes != INVALID_FILE_ATTRIBUTES &&
                    (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                    (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                    category.pfnFolderScan(op, strFolder, -1, -1, -1);
                }
            }
            break;
        case EStep::Driver:
            category.pfnDriver(op);
            break;
        case EStep::Line:
            ScanLog().Write(step.pszText);
            break;
    }
}

void ScanCategory(const COperation& op, const SCategory& category, bool bWow64) {
    // A category that drives itself posts its own start and end messages (COM).
    const bool bPostsItself = category.pfnDriver != nullptr;
    if (!bPostsItself) {
        op.PostStartOrEnd(0, category.nBit);
    }
    ScanLog().Write(std::wstring(category.pszLogName) + L" scannig is started");
    const std::vector<SStep>& steps =
        bWow64 || category.vcPlain.empty() ? category.vcWow64 : category.vcPlain;
    for (const SStep& step : steps) {
        if (step.eKind != EStep::Driver || bPostsItself) {
            RunStep(op, category, step);
        }
    }
    ScanLog().Write(std::wstring(category.pszLogName) + L" scannig is finished");
    if (!bPostsItself) {
        op.PostStartOrEnd(100, category.nBit);
    }
}

}  // namespace

void Scan(const COperation& op, DWORD dwFlags) {
    const bool bWow64 = op.IsWow64();
    if (!ScanLog().IsOpen()) {
        ScanLog().Open(L"Scan.log");
    }
    RunGuarded(
        op, L"Scan", [] { return std::wstring(); },
        [&] {
            // Existence tests are answered from folder listings read once per scan.
            Platform::CScanCache cache(op.Files());
            for (const SCategory& category : Categories()) {
                if ((dwFlags & static_cast<DWORD>(category.nBit)) != 0) {
                    ScanCategory(op, category, bWow64);
                }
            }
        });
}

}  // namespace Branwick
