#include "tools/startup/StartupManager.h"

#include <cstdlib>
#include <utility>

#include "core/Text.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
// The program's own autostart value; the program manages it itself.
constexpr wchar_t kOwnValue[] = L"Corvane";

CStatus Failure(LONG nError, std::wstring strText) {
    return {nError == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : nError, std::move(strText)};
}

std::wstring Text(const Platform::CRegBytes& data) {
    return Platform::FromUtf16Le(data.data(), data.size());
}

bool IsText(DWORD dwType) {
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ;
}

std::wstring WithBackslash(std::wstring strFolder) {
    if (!strFolder.empty() && strFolder.back() != L'\\') {
        strFolder += L'\\';
    }
    return strFolder;
}

std::wstring FolderOf(const std::wstring& strPath) {
    const std::size_t nSlash = strPath.find_last_of(L'\\');
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash + 1);
}

DWORD Number(const std::wstring& strField) {
    return static_cast<DWORD>(std::wcstoul(strField.c_str(), nullptr, 0));
}

// A record is one line of tab-separated fields: a tab or line break inside a field would make it
// come back as another entry, and the entry would be lost.
bool FitsRecord(const CStartupItem& item) {
    for (const std::wstring* pField : {&item.m_strName, &item.m_strData, &item.m_strSubKey}) {
        for (wchar_t ch : *pField) {
            if (ch < 0x20) {
                return false;
            }
        }
    }
    return true;
}

std::wstring RecordOf(const CStartupItem& item) {
    return item.m_strRecord.empty() ? StartupRecord(item) : item.m_strRecord;
}

const CStatus kSaveFailed = {ERROR_CANTWRITE, L"The list of disabled entries could not be saved."};

}  // namespace

std::wstring StartupRecord(const CStartupItem& item) {
    return FormatText(L"0x%x\t%ls\t%ls\t%ls\t0x%x", static_cast<unsigned>(item.m_dwRoot), item.m_strName.c_str(),
                      item.m_strData.c_str(), item.m_strSubKey.c_str(), static_cast<unsigned>(item.m_dwAccess));
}

std::wstring StartupLocation(const CStartupItem& item, bool b64Bit) {
    if (item.IsFile()) {
        return item.m_bAllUsers ? L"All users' Startup folder" : L"Startup folder";
    }
    const bool bMachine = item.m_dwRoot == HKEY_LOCAL_MACHINE;
    std::wstring strText = (bMachine ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\") + item.m_strSubKey;
    if (bMachine && b64Bit) {
        strText += item.m_dwAccess == KEY_WOW64_64KEY ? L" (64-bit view)" : L" (32-bit view)";
    }
    return strText;
}

CStartupItem ParseStartupRecord(const std::wstring& strRecord) {
    std::vector<std::wstring> vcFields;
    std::size_t nStart = 0;
    for (std::size_t nTab; (nTab = strRecord.find(L'\t', nStart)) != std::wstring::npos; nStart = nTab + 1) {
        vcFields.push_back(strRecord.substr(nStart, nTab - nStart));
    }
    vcFields.push_back(strRecord.substr(nStart));
    vcFields.resize(5);
    CStartupItem item;
    item.m_dwRoot = Number(vcFields[0]);
    item.m_strName = vcFields[1];
    item.m_strData = vcFields[2];
    item.m_strSubKey = vcFields[3];
    item.m_dwAccess = vcFields[4].empty() ? KEY_WOW64_32KEY : Number(vcFields[4]);
    item.m_bEnabled = false;
    item.m_strRecord = strRecord;
    return item;
}

CStartupManager::CStartupManager(const Platform::CTarget& target, CSettings& settings, std::wstring strDataFolder)
    : m_target(target), m_settings(settings), m_strDataFolder(WithBackslash(std::move(strDataFolder))) {}

// ---------------------------------------------------------------------------------------------
// Listing

std::vector<CStartupItem> CStartupManager::List() const {
    std::vector<CStartupItem> items;
    AddRunValues(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, items);
    AddRunValues(HKEY_CURRENT_USER, KEY_WOW64_32KEY, items);
    if (m_target.Is64Bit()) {
        AddRunValues(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, items);
    }
    const std::wstring strUser = UserStartupFolder(), strCommon = CommonStartupFolder();
    AddFolder(strUser, false, items);
    if (!Platform::EqualNoCase(strCommon, strUser)) {
        AddFolder(strCommon, true, items);
    }
    for (const std::wstring& strRecord : m_settings.GetDisabledItems()) {
        CStartupItem item = ParseStartupRecord(strRecord);
        item.m_bAllUsers = item.IsFile() && !strCommon.empty() &&
                           Platform::EqualNoCase(FolderOf(item.m_strData), strCommon);
        items.push_back(std::move(item));
    }
    return items;
}

void CStartupManager::AddRunValues(HKEY hRoot, DWORD dwAccess, std::vector<CStartupItem>& items) const {
    Platform::CRegKey key;
    if (m_target.Registry().OpenKey(hRoot, kRunKey, KEY_QUERY_VALUE | dwAccess, &key) != ERROR_SUCCESS) {
        return;
    }
    Platform::CRegValue value;
    for (DWORD dwIndex = 0; key.EnumValue(dwIndex, &value) == ERROR_SUCCESS; ++dwIndex) {
        // Windows starts only text values; anything else would not come back as it was.
        if (value.m_strName.empty() || !IsText(value.m_dwType) ||
            Platform::EqualNoCase(value.m_strName, kOwnValue)) {
            continue;
        }
        CStartupItem item;
        item.m_dwRoot = hRoot;
        item.m_strSubKey = kRunKey;
        item.m_strName = value.m_strName;
        item.m_strData = Text(value.m_vData);
        item.m_dwAccess = dwAccess;
        if (!item.m_strData.empty()) {
            items.push_back(std::move(item));
        }
    }
}

void CStartupManager::AddFolder(const std::wstring& strFolder, bool bAllUsers, std::vector<CStartupItem>& items) const {
    std::vector<Platform::CFindData> vcFound;
    if (strFolder.empty() || !m_target.Files().FindFiles(strFolder + L"*.*", vcFound).Ok()) {
        return;
    }
    for (const Platform::CFindData& found : vcFound) {
        if (found.m_strName == L"." || found.m_strName == L".." || Platform::EqualNoCase(found.m_strName, L"desktop.ini")) {
            continue;
        }
        CStartupItem item;
        item.m_strName = found.m_strName;
        item.m_strData = strFolder + found.m_strName;
        item.m_bAllUsers = bAllUsers;
        items.push_back(std::move(item));
    }
}

std::wstring CStartupManager::ShellFolder(HKEY hRoot, const wchar_t* pszValue, const std::wstring& strFallback) const {
    Platform::CRegKey key;
    DWORD dwType = REG_NONE;
    Platform::CRegBytes data;
    std::wstring strFolder;
    if (m_target.Registry().OpenKey(hRoot, kShellFolders, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS &&
        key.QueryValue(pszValue, &dwType, &data) == ERROR_SUCCESS && IsText(dwType)) {
        strFolder = m_target.Environment().Expand(Text(data));
    }
    return WithBackslash(strFolder.empty() ? strFallback : strFolder);
}

std::wstring CStartupManager::UserStartupFolder() const {
    const std::wstring strHome = m_target.Environment().Get(L"HOMEPATH");
    return ShellFolder(HKEY_CURRENT_USER, L"Startup",
                       strHome.empty() ? L"" : L"c:" + strHome + L"\\Start Menu\\Programs\\Startup");
}

std::wstring CStartupManager::CommonStartupFolder() const {
    const std::wstring strAllUsers = m_target.Environment().Get(L"ALLUSERSPROFILE");
    return ShellFolder(HKEY_LOCAL_MACHINE, L"Common Startup",
                       strAllUsers.empty() ? L"" : strAllUsers + L"\\Start Menu\\Programs\\Startup");
}

// ---------------------------------------------------------------------------------------------
// Changes

// A change must not interleave with another writer of the target (a fix, a restore), and what
// such a writer saved meanwhile is read first, so that the change lands on top of it.
CStatus CStartupManager::Lock(Platform::CWriterLock& lock) const {
    std::wstring strBusy;
    if (!lock.Acquire(m_target, Platform::kWriterWaitMs, strBusy)) {
        return Failure(ERROR_SHARING_VIOLATION, strBusy);
    }
    if (m_target.Registry().ChangedOnDisk()) {
        if (const CStatus status = m_target.Registry().Reload(); !status.Ok()) {
            return Failure(status.m_lCode, status.m_strText);
        }
    }
    return {};
}

CStatus CStartupManager::SetStartupState(const CStartupItem& item, bool bEnable, bool bRemove) {
    Platform::CWriterLock lock;
    if (CStatus locked = Lock(lock); !locked.Ok()) {
        return locked;
    }
    return ChangeState(item, bEnable, bRemove);
}

CStatus CStartupManager::ChangeState(const CStartupItem& item, bool bEnable, bool bRemove) {
    if (bEnable) {
        if (item.m_bEnabled) {
            return {};
        }
        return item.IsFile() ? EnableFile(item) : EnableValue(item);
    }
    if (!item.m_bEnabled) {
        // A disabled entry is no longer in place: what is there now under its name is another's.
        return bRemove ? Forget(item) : CStatus{};
    }
    if (!bRemove && !FitsRecord(item)) {
        return Failure(ERROR_INVALID_DATA, FormatText(L"\"%ls\" holds a tab or line break, which the list of "
                                                      L"disabled entries cannot keep.",
                                                      item.m_strName.c_str()));
    }
    return item.IsFile() ? DisableFile(item, bRemove) : DisableValue(item, bRemove);
}

CStatus CStartupManager::DisableValue(const CStartupItem& item, bool bRemove) {
    const Platform::CRegistry& reg = m_target.Registry();
    if (const CStatus status = reg.CheckWritable(); !status.Ok()) {
        return Failure(status.m_lCode, status.m_strText);
    }
    Platform::CRegKey key;
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vOld;
    LONG lResult = reg.OpenKey(item.m_dwRoot, item.m_strSubKey, KEY_READ | KEY_WRITE | item.m_dwAccess, &key);
    if (lResult == ERROR_SUCCESS) {
        lResult = key.QueryValue(item.m_strName, &dwType, &vOld);
    }
    if (lResult != ERROR_SUCCESS) {
        return Failure(lResult, FormatText(L"The value \"%ls\" is no longer there.", item.m_strName.c_str()));
    }
    // The record keeps what the value holds now, should it have changed since it was listed.
    CStartupItem current = item;
    current.m_strData = Text(vOld);
    const std::wstring strRecord = StartupRecord(current);
    if (!bRemove && !m_settings.AddDisabledItem(strRecord)) {
        return kSaveFailed;
    }
    lResult = key.DeleteValue(item.m_strName);
    const CStatus flushed = lResult == ERROR_SUCCESS ? reg.Flush() : CStatus{lResult, L""};
    if (flushed.Ok()) {
        return {};
    }
    key.SetValue(item.m_strName, dwType, vOld);
    if (!bRemove) {
        m_settings.RemoveDisabledItem(strRecord);
    }
    return Failure(flushed.m_lCode, flushed.m_strText.empty()
                                        ? FormatText(L"The value \"%ls\" could not be deleted.",
                                                     item.m_strName.c_str())
                                        : flushed.m_strText);
}

CStatus CStartupManager::EnableValue(const CStartupItem& item) {
    const Platform::CRegistry& reg = m_target.Registry();
    if (const CStatus status = reg.CheckWritable(); !status.Ok()) {
        return Failure(status.m_lCode, status.m_strText);
    }
    Platform::CRegKey key;
    bool bCreated = false;
    LONG lResult = reg.CreateKey(item.m_dwRoot, item.m_strSubKey, KEY_READ | KEY_WRITE | item.m_dwAccess, &key, &bCreated);
    if (lResult != ERROR_SUCCESS) {
        return Failure(lResult, FormatText(L"The key \"%ls\" cannot be opened.", item.m_strSubKey.c_str()));
    }
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vNow;
    const bool bThere = key.QueryValue(item.m_strName, &dwType, &vNow) == ERROR_SUCCESS;
    if (bThere && !(IsText(dwType) && Text(vNow) == item.m_strData)) {
        // The program put a new value there since: writing the old one over it would lose it.
        return Failure(ERROR_ALREADY_EXISTS, FormatText(L"A value \"%ls\" exists again; delete the disabled entry "
                                                        L"or that value first.",
                                                        item.m_strName.c_str()));
    }
    const auto undo = [&] {
        if (!bThere) {
            key.DeleteValue(item.m_strName);
        }
        if (bCreated) {
            key.Close();
            reg.DeleteKey(item.m_dwRoot, item.m_strSubKey, item.m_dwAccess);
        }
    };
    if (!bThere) {
        lResult = key.SetValue(item.m_strName, REG_SZ, Platform::ToUtf16Le(item.m_strData));
        if (lResult != ERROR_SUCCESS) {
            undo();
            return Failure(lResult, FormatText(L"The value \"%ls\" could not be written.", item.m_strName.c_str()));
        }
    }
    if (!m_settings.RemoveDisabledItem(RecordOf(item))) {
        undo();
        return kSaveFailed;
    }
    const CStatus flushed = reg.Flush();
    if (flushed.Ok()) {
        return {};
    }
    undo();
    m_settings.AddDisabledItem(RecordOf(item));
    return Failure(flushed.m_lCode, flushed.m_strText);
}

bool CStartupManager::IsHeld(const std::wstring& strName) const {
    for (const std::wstring& strRecord : m_settings.GetDisabledItems()) {
        const CStartupItem held = ParseStartupRecord(strRecord);
        if (held.IsFile() && Platform::EqualNoCase(held.m_strName, strName)) {
            return true;
        }
    }
    return false;
}

CStatus CStartupManager::DisableFile(const CStartupItem& item, bool bRemove) {
    if (IsHeld(item.m_strName)) {
        return Failure(ERROR_ALREADY_EXISTS, FormatText(L"A disabled entry \"%ls\" is held already; enable or "
                                                        L"delete it first.",
                                                        item.m_strName.c_str()));
    }
    const std::wstring strHeld = HoldingFolder() + item.m_strName;
    Platform::CFileSystem& files = m_target.Files();
    // The data folder itself is made by the first write into it.
    const CStatus made = files.CreateFolders(HoldingFolder());
    if (!made.Ok()) {
        return Failure(made.m_lCode, made.m_strText);
    }
    if (CStatus moved = MoveKeeping(item.m_strData, strHeld); !moved.Ok()) {
        return moved;
    }
    if (bRemove || m_settings.AddDisabledItem(StartupRecord(item))) {
        return {};
    }
    files.MoveFile(strHeld, item.m_strData, false);
    return kSaveFailed;
}

CStatus CStartupManager::EnableFile(const CStartupItem& item) {
    const std::wstring strHeld = HoldingFolder() + item.m_strName;
    if (!m_target.Files().Exists(strHeld)) {
        return Failure(ERROR_FILE_NOT_FOUND,
                       FormatText(L"\"%ls\" is no longer in the folder %ls.", item.m_strName.c_str(), HoldingFolder().c_str()));
    }
    if (CStatus moved = MoveKeeping(strHeld, item.m_strData); !moved.Ok()) {
        return moved;
    }
    if (m_settings.RemoveDisabledItem(RecordOf(item))) {
        return {};
    }
    m_target.Files().MoveFile(item.m_strData, strHeld, false);
    return kSaveFailed;
}

CStatus CStartupManager::Forget(const CStartupItem& item) {
    return m_settings.RemoveDisabledItem(RecordOf(item)) ? CStatus{} : kSaveFailed;
}

// The one place where startup files move. A file already at strTo is renamed aside first and put
// back when the move fails, so that nothing the user had is replaced.
CStatus CStartupManager::MoveKeeping(const std::wstring& strFrom, const std::wstring& strTo) {
    Platform::CFileSystem& files = m_target.Files();
    std::wstring strKept;
    if (files.Exists(strTo)) {
        for (int n = 1; n < 1000 && strKept.empty(); ++n) {
            const std::wstring strAside = strTo + (n == 1 ? L".bak" : L".bak" + std::to_wstring(n));
            if (!files.Exists(strAside)) {
                strKept = strAside;
            }
        }
        const CStatus aside = strKept.empty() ? CStatus{ERROR_ALREADY_EXISTS, strTo}
                                              : files.MoveFile(strTo, strKept, false);
        if (!aside.Ok()) {
            return Failure(aside.m_lCode, FormatText(L"%ls exists and could not be kept aside: %ls",
                                                     strTo.c_str(), aside.m_strText.c_str()));
        }
    }
    const CStatus moved = files.MoveFile(strFrom, strTo, false);
    if (moved.Ok()) {
        return {};
    }
    if (!strKept.empty()) {
        files.MoveFile(strKept, strTo, false);
    }
    return Failure(moved.m_lCode, moved.m_strText.empty()
                                      ? FormatText(L"%ls could not be moved to %ls.",
                                                   strFrom.c_str(), strTo.c_str())
                                      : moved.m_strText);
}

}  // namespace Branwick
