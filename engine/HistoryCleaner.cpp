#include "engine/HistoryCleaner.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Messages.h"
#include "core/Text.h"
#include "engine/Drivers.h"
#include "engine/Fendral.h"
#include "platform/recyclebin/recyclebin.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

using Platform::CFindData;
using Platform::CRegKey;
using Platform::EqualNoCase;

constexpr int kSteps = 14;
constexpr REGSAM kKeyAccess = KEY_READ | KEY_WRITE;
const wchar_t kCurrentUser[] = L"HKEY_CURRENT_USER\\";
const wchar_t kInternetExplorerKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
const wchar_t kIntelliFormsKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\IntelliForms";
const wchar_t kProtectedStorageKey[] = L"Software\\Microsoft\\Protected Storage System Provider";
const wchar_t kIntelliFormsData[] = L"e161255a-37c3-11d2-bcaa-00c04fd929db";

// The folders of a user profile, below USERPROFILE, in the layout of Windows XP and of Vista on.
struct SProfileLayout {
    const wchar_t* pszIeTemporaryFiles;
    const wchar_t* pszIeHistory;
    const wchar_t* pszIeCookies;
    const wchar_t* pszFirefoxProfiles;
    const wchar_t* pszFirefoxLocalProfiles;
    const wchar_t* pszRecent;
    const wchar_t* pszTemp;
};

const SProfileLayout kOlderLayout = {
    L"\\Local Settings\\Temporary Internet Files\\Content.IE5",
    L"\\Local Settings\\History\\History.IE5",
    L"\\Cookies",
    L"\\Application Data\\Mozilla\\Firefox\\Profiles\\",
    L"\\Local Settings\\Application Data\\Mozilla\\Firefox\\Profiles\\",
    L"\\Recent",
    L"\\Local Settings\\Temp",
};

const SProfileLayout kNewerLayout = {
    L"\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files",
    L"\\AppData\\Local\\Microsoft\\Windows\\History",
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies",
    L"\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\",
    L"\\AppData\\Local\\Mozilla\\Firefox\\Profiles\\",
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Recent",
    L"\\AppData\\Local\\Temp",
};

// Profiles below "<drive>:\Users\" have the newer layout. Wine spells the folder "users", so the
// test ignores case as Windows does with the path itself.
const SProfileLayout& LayoutOf(const std::wstring& strProfile) {
    const std::size_t pos = Platform::FoldCase(strProfile).find(Platform::FoldCase(L":\\Users\\"));
    return pos != std::wstring::npos && pos > 0 ? kNewerLayout : kOlderLayout;
}

// A file name or mask cut at its last '.', without wildcards: "*.log" is ("", "log"),
// "index.dat" ("index", "dat"), "readme" ("readme", "").
struct SNameParts {
    std::wstring strName;
    std::wstring strExtension;
};

SNameParts SplitName(std::wstring_view strText) {
    const std::size_t dot = strText.rfind(L'.');
    SNameParts parts{std::wstring(strText.substr(0, dot)),
                     dot == std::wstring_view::npos ? std::wstring() : std::wstring(strText.substr(dot + 1))};
    std::erase(parts.strName, L'*');
    std::erase(parts.strExtension, L'*');
    return parts;
}

// An empty part of the mask matches anything.
bool Matches(const SNameParts& mask, const SNameParts& file) {
    return (mask.strName.empty() || EqualNoCase(mask.strName, file.strName)) &&
           (mask.strExtension.empty() || EqualNoCase(mask.strExtension, file.strExtension));
}

// "C:\..." and nothing less: a folder built from a variable that is not set would otherwise name
// the root of the system drive.
bool IsFullPath(const std::wstring& strPath) {
    return strPath.size() >= 3 && strPath[1] == L':' && strPath[2] == L'\\';
}

class CHistoryCleaner {
public:
    CHistoryCleaner(CThreadComm& record, CMessageSink& sink, const Platform::CTarget& target)
        : m_record(record), m_sink(sink), m_target(target), m_files(target.Files()) {}

    void Run(DWORD dwItems) {
        CleanInternetExplorer(dwItems);
        CleanFirefox(dwItems);
        CleanWindows(dwItems);
        SaveRegistry();
        m_sink.Post(std::make_unique<CFinishProgressMessage>());
    }

private:
    void CleanInternetExplorer(DWORD dwItems);
    void CleanFirefox(DWORD dwItems);
    void CleanWindows(DWORD dwItems);
    void CleanTypedUrls();
    void CleanAutocompleteForms();
    std::wstring FirefoxProfile(const std::wstring& strProfiles);
    void SaveRegistry();

    void CleanFolder(DWORD dwKind, const std::wstring& strFolder, const wchar_t* pszMask = L"");
    bool MayClean(const std::wstring& strFolder);
    void CleanEntries(DWORD dwKind, const std::wstring& strFolder, const SNameParts& mask, bool bRemoveEmptied);
    void DeleteHistoryFile(DWORD dwKind, const std::wstring& strFolder, const std::wstring& strName);
    void DeleteHistoryKey(const CRegKey& parent, const std::wstring& strParentPath, const std::wstring& strName);

    std::wstring Profile() const { return m_target.Environment().Get(L"USERPROFILE"); }
    void Progress(int nStep) { m_sink.Post(std::make_unique<CGenProgressMessage>(nStep, kSteps)); }
    void PostItem(DWORD dwKind, const std::wstring& strEntity, std::int32_t nResult,
                  const std::wstring& strReason = {}) {
        m_sink.Post(std::make_unique<CHistoryCleanerMessage>(static_cast<std::int32_t>(dwKind), strEntity,
                                                             nResult, strReason));
    }
    // An item whose erasure is a change of the registry in memory: it is reported once the
    // registry is saved, as erased when the save worked and as not erased when it did not.
    struct SAwaitingSave {
        DWORD dwKind;
        std::wstring strEntity;
        std::int32_t nResult;
    };
    void PostAfterSave(DWORD dwKind, const std::wstring& strEntity, std::int32_t nResult) {
        m_vcAwaitingSave.push_back({dwKind, strEntity, nResult});
    }
    void PostLog(const std::wstring& strText) { m_sink.Post(std::make_unique<CLogMessage>(strText)); }

    CThreadComm& m_record;
    CMessageSink& m_sink;
    const Platform::CTarget& m_target;
    Platform::CFileSystem& m_files;
    std::vector<SAwaitingSave> m_vcAwaitingSave;
};

void CHistoryCleaner::CleanInternetExplorer(DWORD dwItems) {
    const std::wstring strProfile = Profile();
    const SProfileLayout& layout = LayoutOf(strProfile);
    if (dwItems & HC_IE_TEMPORARY_FILES) {
        CleanFolder(HC_IE_TEMPORARY_FILES, strProfile + layout.pszIeTemporaryFiles);
    }
    Progress(1);
    if (dwItems & HC_IE_HISTORY) {
        // Windows would first empty the URL history store (IUrlHistoryStg2::ClearHistory of
        // CLSID_CUrlHistory). Neither a Wine prefix nor an offline volume has a running store to
        // ask; its files are the index.dat files of the history folder cleaned below.
        CleanTypedUrls();
        CleanFolder(HC_IE_HISTORY, strProfile + layout.pszIeHistory);
    }
    Progress(2);
    if (dwItems & HC_IE_COOKIES) {
        CleanFolder(HC_IE_COOKIES, strProfile + layout.pszIeCookies);
    }
    Progress(3);
    if (dwItems & HC_IE_AUTOCOMPLETE_FORMS) {
        CleanAutocompleteForms();
    }
    Progress(4);
    if (dwItems & HC_IE_INDEX_DAT) {
        CleanFolder(HC_IE_INDEX_DAT, strProfile, L"index.dat");
    }
    Progress(5);
}

// The addresses typed into the address bar go without a message of their own.
void CHistoryCleaner::CleanTypedUrls() {
    CRegKey key;
    if (m_target.Registry().OpenKey(HKEY_CURRENT_USER, kInternetExplorerKey, kKeyAccess, &key) == ERROR_SUCCESS) {
        key.DeleteTree(L"TypedURLs");
    }
}

void CHistoryCleaner::CleanAutocompleteForms() {
    CRegKey key;
    if (m_target.Registry().OpenKey(HKEY_CURRENT_USER, kIntelliFormsKey, kKeyAccess, &key) == ERROR_SUCCESS) {
        const std::wstring strPath = kCurrentUser + std::wstring(kIntelliFormsKey);
        for (const wchar_t* pszName : {L"Storage1", L"Storage2", L"SPW"}) {
            DeleteHistoryKey(key, strPath, pszName);
        }
        return;
    }
    // Older Internet Explorers keep the form data in the protected storage of the user.
    const std::wstring strSid = m_target.UserSid();
    const std::wstring strData = std::wstring(kProtectedStorageKey) + L'\\' + strSid + L"\\Data";
    if (!strSid.empty() &&
        m_target.Registry().OpenKey(HKEY_CURRENT_USER, strData, kKeyAccess, &key) == ERROR_SUCCESS) {
        DeleteHistoryKey(key, kCurrentUser + strData, kIntelliFormsData);
    }
}

void CHistoryCleaner::CleanFirefox(DWORD dwItems) {
    const std::wstring strProfile = Profile();
    const SProfileLayout& layout = LayoutOf(strProfile);
    const std::wstring strName = FirefoxProfile(strProfile + layout.pszFirefoxProfiles);
    // Without a profile there is no Firefox data to erase: the folders above a profile are not its.
    if (!strName.empty() && (dwItems & HC_FIREFOX_CACHE)) {
        CleanFolder(HC_FIREFOX_CACHE, strProfile + layout.pszFirefoxLocalProfiles + strName + L"\\Cache");
    }
    Progress(6);
    const std::wstring strFolder = strProfile + layout.pszFirefoxProfiles + strName;
    const std::pair<HistoryItem, const wchar_t*> files[] = {
        {HC_FIREFOX_HISTORY, L"places.sqlite"},
        {HC_FIREFOX_DOWNLOADS, L"downloads.sqlite"},
        {HC_FIREFOX_COOKIES, L"cookies.sqlite"},
        {HC_FIREFOX_FORMS, L"formhistory.sqlite"},
    };
    int nStep = 7;
    for (const auto& [item, pszFile] : files) {
        if (!strName.empty() && (dwItems & item)) {
            DeleteHistoryFile(item, strFolder, pszFile);
        }
        Progress(nStep++);
    }
}

// The first profile folder whose name says it is a default profile ("x4d2e8qa.default",
// "...default-release"), in listing order; empty when there is none. The lookup reads one short
// folder and does not stop for a cancellation: cancelling stops the folder cleanings, while
// the single files of the Firefox steps are still erased.
std::wstring CHistoryCleaner::FirefoxProfile(const std::wstring& strProfiles) {
    std::vector<CFindData> entries;
    if (!IsFullPath(strProfiles) || !m_files.FindFiles(strProfiles + L"*.*", entries).Ok()) {
        return {};
    }
    for (const CFindData& e : entries) {
        const bool bFolder = (e.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             !(e.m_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (bFolder && Platform::FoldCase(e.m_strName).find(Platform::FoldCase(L".default")) != std::wstring::npos) {
            return e.m_strName;
        }
    }
    return {};
}

void CHistoryCleaner::CleanWindows(DWORD dwItems) {
    const std::wstring strProfile = Profile();
    const SProfileLayout& layout = LayoutOf(strProfile);
    const std::wstring strWindows = m_target.Environment().Get(L"WINDIR");
    if (dwItems & HC_WINDOWS_RECYCLE_BIN) {
        const HRESULT hr = Platform::EmptyRecycleBin(m_target);
        if (hr == S_OK) {
            PostItem(HC_WINDOWS_RECYCLE_BIN, L"Recycle Bin", HC_ERASED);
        } else {
            PostLog(FormatText(L"Unable to empty Recycle Bin with error: %d", hr));
        }
    }
    Progress(11);
    if (dwItems & HC_WINDOWS_RECENT_DOCUMENTS) {
        CleanFolder(HC_WINDOWS_RECENT_DOCUMENTS, strProfile + layout.pszRecent, L"*.lnk");
    }
    Progress(12);
    if (dwItems & HC_WINDOWS_LOG_FILES) {
        CleanFolder(HC_WINDOWS_LOG_FILES, strWindows, L"*.log");
    }
    Progress(13);
    if (dwItems & HC_WINDOWS_TEMPORARY_FILES) {
        CleanFolder(HC_WINDOWS_TEMPORARY_FILES, strProfile + layout.pszTemp);
        CleanFolder(HC_WINDOWS_TEMPORARY_FILES, strWindows + L"\\Temp");
    }
    Progress(14);
}

// Deleted keys and files handed to the next start live in the registry until it is saved.
void CHistoryCleaner::SaveRegistry() {
    const Platform::CRegistry& reg = m_target.Registry();
    CStatus saved;
    if (reg.IsDirty()) {
        saved = reg.Flush();
        if (!saved.Ok()) {
            PostLog(FormatText(L"Unable to save the registry with error: %d\n%ls", saved.m_lCode,
                               saved.m_strText.c_str()));
        }
    }
    for (const SAwaitingSave& item : m_vcAwaitingSave) {
        if (saved.Ok()) {
            PostItem(item.dwKind, item.strEntity, item.nResult);
        } else {
            PostItem(item.dwKind, item.strEntity, HC_NOT_ERASED,
                     L"the registry could not be saved: " + saved.m_strText);
        }
    }
    m_vcAwaitingSave.clear();
}

void CHistoryCleaner::CleanFolder(DWORD dwKind, const std::wstring& strFolder, const wchar_t* pszMask) {
    if (!MayClean(strFolder)) {
        return;
    }
    const SNameParts mask = SplitName(pszMask);
    // A masked cleaning walks folders that are not its own (the whole profile, the Windows folder):
    // the folders it finds empty stay.
    const bool bRemoveEmptied = mask.strName.empty() && mask.strExtension.empty();
    CleanEntries(dwKind, strFolder, mask, bRemoveEmptied);
}

// Missing folders are passed over in silence. A folder that is a link, or that lies outside the
// target, is not cleaned: in a Wine prefix the user's Desktop, Documents and Downloads are links
// into the Linux home.
bool CHistoryCleaner::MayClean(const std::wstring& strFolder) {
    if (!IsFullPath(strFolder)) {
        return false;
    }
    const DWORD dwAttributes = m_files.GetFileAttributes(strFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    std::wstring strWhy;
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        strWhy = L"it is a symbolic link";
    } else if (const CStatus s = m_files.CheckDelete(strFolder, nullptr); !s.Ok()) {
        strWhy = s.m_strText;
    }
    if (!strWhy.empty()) {
        PostLog(L"Unable to clean folder ( " + strFolder + L" ): " + strWhy);
        return false;
    }
    return true;
}

void CHistoryCleaner::CleanEntries(DWORD dwKind, const std::wstring& strFolder, const SNameParts& mask,
                                   bool bRemoveEmptied) {
    std::vector<CFindData> entries;
    if (!m_files.FindFiles(strFolder + L"\\*.*", entries).Ok()) {
        return;
    }
    for (const CFindData& e : entries) {
        if (!m_record.IsRunning(0)) {
            return;
        }
        // A link stays as it is, and what it leads to is never visited.
        if (e.m_strName == L"." || e.m_strName == L".." || (e.m_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            continue;
        }
        if (e.m_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::wstring strSubfolder = strFolder + L'\\' + e.m_strName;
            CleanEntries(dwKind, strSubfolder, mask, bRemoveEmptied);
            if (bRemoveEmptied) {
                m_files.RemoveDirectory(strSubfolder);  // fails, as it should, unless it is empty now
            }
        } else if (Matches(mask, SplitName(e.m_strName))) {
            DeleteHistoryFile(dwKind, strFolder, e.m_strName);
        }
    }
}

void CHistoryCleaner::DeleteHistoryFile(DWORD dwKind, const std::wstring& strFolder, const std::wstring& strName) {
    if (EqualNoCase(strName, L"desktop.ini")) {
        return;
    }
    const std::wstring strPath = strFolder + L'\\' + strName;
    const CStatus s = m_files.DeleteFile(strPath);
    if (s.Ok()) {
        PostItem(dwKind, strPath, HC_ERASED);
        return;
    }
    if (s.m_lCode == ERROR_FILE_NOT_FOUND || s.m_lCode == ERROR_PATH_NOT_FOUND ||
        dwKind == HC_WINDOWS_LOG_FILES) {
        return;
    }
    const CStatus later = m_target.DeleteFileAtRestart(strPath);
    if (!later.Ok()) {
        PostLog(FormatText(L"Unable to delete file after reboot with error: %d", later.m_lCode));
        PostItem(dwKind, strPath, HC_NOT_ERASED, s.m_strText);
        return;
    }
    PostAfterSave(dwKind, strPath, HC_ERASED_AT_RESTART);
}

void CHistoryCleaner::DeleteHistoryKey(const CRegKey& parent, const std::wstring& strParentPath,
                                       const std::wstring& strName) {
    const std::wstring strEntity = strParentPath + L'\\' + strName;
    const LONG rc = parent.DeleteTree(strName);
    if (rc == ERROR_SUCCESS) {
        PostAfterSave(HC_IE_AUTOCOMPLETE_FORMS, strEntity, HC_ERASED);
    } else if (rc != ERROR_FILE_NOT_FOUND) {  // a key that is not there has nothing to erase
        PostLog(FormatText(L"Unable to DeleteKey ( %ls ) with error: %d", strEntity.c_str(), rc));
    }
}

}  // namespace

void CleanHistoryItems(CThreadComm& record, CMessageSink& sink, const Platform::CTarget& target, DWORD dwItems) {
    CHistoryCleaner(record, sink, target).Run(dwItems);
}

void CleanHistory(const COperation& op, DWORD dwFlags) {
    if (op.Target() == nullptr) {
        throw std::logic_error("The engine was given no target");
    }
    CleanHistoryItems(op.Record(), *op.Record().m_pSink, *op.Target(), dwFlags);
}

}  // namespace Branwick
