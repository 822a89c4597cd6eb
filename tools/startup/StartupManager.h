// The programs a target starts when its user logs on, as the user sees and changes them: the Run
// values of the machine (both views on a 64-bit target) and of the user, the files of the user's
// Startup folder and of the all-users one, and the entries disabled earlier, which the settings
// remember as records. Wine runs the same entries when a prefix starts, so this holds for
// prefixes as for offline volumes.
//
// A disabled Run value is deleted from the registry and kept as a record; a disabled file is moved
// into the holding folder "Tmp\" in the program's data folder inside the target. Deleting removes a
// Run value for good but only moves a file into the holding folder; deleting a disabled entry
// forgets its record. A file is never replaced: one already where a file must go is first renamed
// aside with the suffix ".bak" (".bak2", ...).
//
// Every change is all or nothing: registry, files and the settings' list are changed together or
// not at all, and a failure comes back as one sentence.
//
// Not thread-safe: used from one thread (the user interface's, or the command line's).
#pragma once

#include <string>
#include <vector>

#include "app/Settings/Settings.h"
#include "platform/target/target.h"

namespace Branwick {

inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct CStartupItem {
    DWORD m_dwRoot = 0;         // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER; 0 for a file
    std::wstring m_strSubKey;   // kRunKey for a Run value; empty for a file
    std::wstring m_strName;     // the value's name, or the file's name
    std::wstring m_strData;     // the command line, or the file's full Windows path
    DWORD m_dwAccess = 0;       // KEY_WOW64_32KEY or KEY_WOW64_64KEY for a Run value; 0 for a file
    bool m_bEnabled = true;     // false for an entry of the disabled-items list
    bool m_bAllUsers = false;   // a file of the all-users Startup folder
    std::wstring m_strRecord;   // a disabled entry's record as stored

    bool IsFile() const { return m_dwRoot == 0; }
};

// The record the settings keep for a disabled entry: root, name, data, subkey and access separated
// by tabs, root and access as "0x" and lower-case hexadecimal.
std::wstring StartupRecord(const CStartupItem& item);
// A disabled entry from its record. Missing fields are empty (or 0); a missing or empty access is
// KEY_WOW64_32KEY, as records of old carry none.
CStartupItem ParseStartupRecord(const std::wstring& strRecord);

// Where the entry lives, for people: "HKEY_LOCAL_MACHINE\...\Run" (with "(32-bit view)" or
// "(64-bit view)" for the machine's values of a 64-bit target), "Startup folder", or "All users'
// Startup folder".
std::wstring StartupLocation(const CStartupItem& item, bool b64Bit);

class CStartupManager {
public:
    // strDataFolder: the program's data folder in the target (GetDataFolder), with its trailing
    // backslash. The objects must outlive the manager.
    CStartupManager(const Platform::CTarget& target, CSettings& settings, std::wstring strDataFolder);
    CStartupManager(const CStartupManager&) = delete;
    CStartupManager& operator=(const CStartupManager&) = delete;

    // Every entry, in this order: the machine's Run values (32-bit view), the user's, the machine's
    // in the 64-bit view (64-bit targets only), the user's Startup folder, the all-users Startup
    // folder, then the disabled entries. The program's own value "Corvane", the default value,
    // values that are empty or no text, and "desktop.ini" are left out. A key or folder that
    // cannot be read contributes nothing.
    std::vector<CStartupItem> List() const;

    // Disables (bEnable false), enables (bEnable true) or deletes (bEnable false, bRemove true)
    // the entry, under the target's one-writer lock (a second writer refuses with one sentence
    // after a few seconds). Asking for the state the entry is in already changes nothing and
    // succeeds.
    CStatus SetStartupState(const CStartupItem& item, bool bEnable, bool bRemove);

    // The folders, as Windows paths ending in '\'; empty when the target has none. The user's is
    // what its "User Shell Folders" call "Startup" (else the old profile layout below HOMEPATH),
    // the all-users one their "Common Startup" (else the old one below ALLUSERSPROFILE).
    std::wstring UserStartupFolder() const;
    std::wstring CommonStartupFolder() const;
    std::wstring HoldingFolder() const { return m_strDataFolder + L"Tmp\\"; }

private:
    void AddRunValues(HKEY hRoot, DWORD dwAccess, std::vector<CStartupItem>& items) const;
    void AddFolder(const std::wstring& strFolder, bool bAllUsers, std::vector<CStartupItem>& items) const;
    std::wstring ShellFolder(HKEY hRoot, const wchar_t* pszValue, const std::wstring& strFallback) const;
    bool IsHeld(const std::wstring& strName) const;
    CStatus Lock(Platform::CWriterLock& lock) const;
    CStatus ChangeState(const CStartupItem& item, bool bEnable, bool bRemove);

    CStatus DisableValue(const CStartupItem& item, bool bRemove);
    CStatus EnableValue(const CStartupItem& item);
    CStatus DisableFile(const CStartupItem& item, bool bRemove);
    CStatus EnableFile(const CStartupItem& item);
    CStatus Forget(const CStartupItem& item);
    CStatus MoveKeeping(const std::wstring& strFrom, const std::wstring& strTo);

    const Platform::CTarget& m_target;
    CSettings& m_settings;
    std::wstring m_strDataFolder;
};

}  // namespace Branwick
