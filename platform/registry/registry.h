// The registry of a target, with Windows semantics: the one header that callers of the registry
// layer include.
//
// A CRegistry is a key tree made of mounted stores (Wine's text files, binary hives, memory).
// Names compare case-insensitively with Unicode simple case folding and keep their case; subkeys
// enumerate in case-insensitive sorted order, values in the order they were created; the default
// value has the empty name. Value data are raw bytes exactly as Windows keeps them (strings are
// UTF-16LE with their terminators). Lengths and capacities count UTF-16 code units for names and
// bytes for data, as the Win32 API does.
//
// Results are Win32 error codes: ERROR_SUCCESS (0); ERROR_FILE_NOT_FOUND (2) for a missing key or
// value; ERROR_ACCESS_DENIED (5) when a key cannot be changed (it has subkeys and the delete is not
// recursive, it is a root, or it lies outside every store so a change could never be saved);
// ERROR_INVALID_HANDLE (6) for a closed key or an unknown root; ERROR_INVALID_PARAMETER (87) for a
// name that is too long; ERROR_BAD_PATHNAME (161) for a path that starts with a backslash;
// ERROR_MORE_DATA (234) when a caller-given capacity is too small; ERROR_NO_MORE_ITEMS (259) at the
// end of an enumeration; ERROR_KEY_DELETED (1018) for a key that was deleted while open.
//
// Views: on a 64-bit target, KEY_WOW64_32KEY (0x200) in an access mask maps HKLM\Software\X to
// HKLM\Software\Wow6432Node\X, and under the classes keys only CLSID, Interface, DirectShow,
// Media Type and MediaFoundation to Classes\Wow6432Node\...; everything else is shared.
// KEY_WOW64_64KEY (0x100) and 0 give the native view. A 32-bit target has one view. Other access
// bits are accepted and ignored. Link keys (a SymbolicLinkValue of type REG_LINK) are followed.
//
// Threads: every call may be made from any thread; the registry serialises them internally. One
// CRegKey object must not be used by two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

using CRegBytes = std::vector<std::uint8_t>;

// A capacity that never limits (the default of every capacity argument).
inline constexpr DWORD REG_NO_LIMIT = 0xFFFFFFFFu;

// One value as enumerated or queried.
struct CRegValue {
    std::wstring m_strName;  // empty: the default value
    DWORD m_dwType = REG_NONE;
    CRegBytes m_vData;
};

// What RegQueryInfoKeyW reports. Name lengths in UTF-16 units without terminator, data in bytes.
struct CRegKeyInfo {
    DWORD m_dwSubKeys = 0;
    DWORD m_dwMaxSubKeyLen = 0;
    DWORD m_dwMaxClassLen = 0;
    DWORD m_dwValues = 0;
    DWORD m_dwMaxValueNameLen = 0;
    DWORD m_dwMaxValueLen = 0;
    std::uint64_t m_qwLastWriteTime = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
};

// How HKEY_CLASSES_ROOT is made, as the target's own system makes it.
enum class EClassesRoot {
    // HKLM\Software\Classes alone (Wine).
    Machine,
    // The user's HKCU\Software\Classes over HKLM\Software\Classes (Windows): reads find the
    // user's key first; writes go where the key already lives, else to the machine; enumeration
    // is the union, the user's entries shadowing the machine's of the same name.
    Merged,
};

class CRegistryCore;  // private to platform/registry

// An open key. Move-only; closing (or destroying) it never fails. A key whose registry has gone
// away or was reloaded reports ERROR_KEY_DELETED. All methods are const: the handle does not
// change, the registry does.
class CRegKey {
public:
    CRegKey();
    ~CRegKey();
    CRegKey(CRegKey&& other) noexcept;
    CRegKey& operator=(CRegKey&& other) noexcept;
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    bool IsOpen() const;
    void Close();

    // RegOpenKeyExW: opens strSubKey (a path of names separated by backslashes; empty opens this
    // key again) into *pOut, which is closed first. 0, 2, 161, 1018.
    LONG OpenKey(const std::wstring& strSubKey, REGSAM sam, CRegKey* pOut) const;
    // RegCreateKeyExW: opens or creates every missing key on the path. *pbCreated (optional)
    // tells whether the last key was new. 0, 5, 87, 161, 1018.
    LONG CreateKey(const std::wstring& strSubKey, REGSAM sam, CRegKey* pOut,
                   bool* pbCreated = nullptr) const;
    // RegDeleteKeyExW: deletes strSubKey, which must have no subkeys (else 5); an empty strSubKey
    // deletes this key itself. 0, 2, 5, 1018.
    LONG DeleteKey(const std::wstring& strSubKey, REGSAM sam = 0) const;
    // SHDeleteKeyW: deletes strSubKey with all its values and subkeys; an empty strSubKey deletes
    // this key itself. 0, 2, 5, 1018.
    LONG DeleteTree(const std::wstring& strSubKey, REGSAM sam = 0) const;

    // RegEnumKeyExW: the name of subkey dwIndex in sorted order. dwCapacity counts UTF-16 units
    // including the terminator, as lpcchName: a name of dwCapacity units or more gives 234.
    // 0, 234, 259, 1018.
    LONG EnumKey(DWORD dwIndex, std::wstring* psName, DWORD dwCapacity = REG_NO_LIMIT) const;
    // RegEnumValueW: value dwIndex in creation order. dwNameCapacity as for EnumKey; data longer
    // than dwDataCapacity bytes gives 234 (nothing is returned then). 0, 234, 259, 1018.
    LONG EnumValue(DWORD dwIndex, CRegValue* pValue, DWORD dwNameCapacity = REG_NO_LIMIT,
                   DWORD dwDataCapacity = REG_NO_LIMIT) const;
    // RegQueryInfoKeyW. 0, 1018.
    LONG QueryInfo(CRegKeyInfo* pInfo) const;
    // RegQueryValueExW: the empty name is the default value. Data longer than dwCapacity bytes
    // give 234 with *pdwType set and *pvData empty. 0, 2, 234, 1018.
    LONG QueryValue(const std::wstring& strName, DWORD* pdwType, CRegBytes* pvData,
                    DWORD dwCapacity = REG_NO_LIMIT) const;
    // RegSetValueExW: creates or replaces the value (a new value goes last in creation order).
    // 0, 5, 87, 1018.
    LONG SetValue(const std::wstring& strName, DWORD dwType, const CRegBytes& vData) const;
    // RegDeleteValueW. 0, 2, 5, 1018.
    LONG DeleteValue(const std::wstring& strName) const;

    // The key's place for messages, e.g. "HKEY_LOCAL_MACHINE\Software\Wine" (the real key after
    // views and links). Empty when closed.
    std::wstring GetPath() const;

private:
    friend class CRegistryCore;
    struct CState;
    std::unique_ptr<CState> m_pState;
};

// Options of OpenWinePrefix.
struct CWinePrefixOptions {
    // Start missing registry files empty (a new prefix); they are written at the first Flush.
    // Without it a missing system.reg is an error (user.reg and userdef.reg may be missing, as
    // Wine allows).
    bool m_bCreate = false;
    // Architecture of a prefix whose files do not say it (only with m_bCreate).
    bool m_b64Bit = true;
};

// Options of CreateInMemory.
struct CMemoryRegistryOptions {
    bool m_b64Bit = true;
    EClassesRoot m_eClassesRoot = EClassesRoot::Machine;
};

// A target's registry. Copies share one registry; it lives while a copy or an open key does.
class CRegistry {
public:
    // A Wine prefix's registry from strPrefixDir/{system,user,userdef}.reg. Fails with a clear
    // message when a file cannot be read, its first line is not "WINE REGISTRY Version 2", or its
    // #arch is unknown or disagrees with the others. Lines that do not parse are skipped as
    // wineserver skips them and reported by LoadWarnings(). Reading works while a wineserver runs.
    static CStatus OpenWinePrefix(const std::string& strPrefixDir,
                                  const CWinePrefixOptions& options, CRegistry* pOut);
    // An empty registry in memory with the mounts of a Wine prefix (HKLM, HKCU =
    // HKU\S-1-5-21-0-0-0-1000, HKU\.Default). Flush keeps the current state as the one Reload
    // returns to.
    static CRegistry CreateInMemory(const CMemoryRegistryOptions& options = {});

    // The registry of an offline Windows installation at strVolumeDir (the mount point of its
    // system partition, or a folder laid out like one) as Windows loads it for the user strUser
    // (the name of the profile folder). Windows/System32/config/SOFTWARE is HKLM\Software; SYSTEM
    // is HKLM\System, where CurrentControlSet links to the ControlSet00N that Select\Current names;
    // DEFAULT is HKU\.DEFAULT; Users/<strUser>/NTUSER.DAT is HKCU and HKU\<SID>; the user's
    // UsrClass.dat is HKU\<SID>_Classes and HKCU\Software\Classes; HKEY_CLASSES_ROOT is merged
    // (EClassesRoot::Merged). Names on the volume are found in any case. The SID comes from the
    // machine's profile list, else from UsrClass.dat. With an empty strUser there is no current
    // user: HKEY_CURRENT_USER gives ERROR_FILE_NOT_FOUND and the classes root is the machine's
    // alone. The target is 64-bit when the SYSTEM hive's PROCESSOR_ARCHITECTURE says so (without
    // it, when SOFTWARE has Wow6432Node).
    // Fails with a clear message when SOFTWARE or SYSTEM is missing, the user has no NTUSER.DAT,
    // or a hive is damaged (damaged hives are never salvaged). A dirty hive (Windows did not shut
    // down cleanly) is read, with a load warning, and Flush refuses to write it, as it refuses any
    // change that hivex cannot write faithfully; the message says why, and nothing is changed.
    static CStatus OpenOfflineVolume(const std::string& strVolumeDir, const std::wstring& strUser,
                                     CRegistry* pOut);

    CRegistry();  // no registry: every call gives ERROR_INVALID_HANDLE
    bool IsValid() const;

    // Whether the target is 64-bit (what the Windows program calls running under WOW64).
    bool Is64Bit() const;

    // A predefined root: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
    // HKEY_CURRENT_CONFIG. 0, 2 (the target has no such root, e.g. no user), 6 (unknown root).
    LONG OpenRoot(HKEY hRoot, CRegKey* pOut) const;
    // The same operations under a root, as RegOpenKeyExW / RegCreateKeyExW / RegDeleteKeyExW /
    // SHDeleteKeyW with a predefined key. Results as in CRegKey.
    LONG OpenKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam, CRegKey* pOut) const;
    LONG CreateKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam, CRegKey* pOut,
                   bool* pbCreated = nullptr) const;
    LONG DeleteKey(HKEY hRoot, const std::wstring& strPath, REGSAM sam = 0) const;
    LONG DeleteTree(HKEY hRoot, const std::wstring& strPath, REGSAM sam = 0) const;

    // Whether there are changes that Flush has not written.
    bool IsDirty() const;
    // Writes every changed store, each atomically; unchanged files are not touched. Every changed
    // file is first written and synced beside its original, and only then are they renamed into
    // place, so a failure (disk full, permissions) changes nothing on disk; only a failing rename
    // after others succeeded could leave part written. Refused with nothing written when a store
    // cannot be written safely (a wineserver runs for the prefix, a file had lines that could not
    // be read, ...): 32 (ERROR_SHARING_VIOLATION) for a running wineserver, 1015 for unreadable
    // lines, 1013 for a write failure. An offline hive also gives 1013 when Windows did not shut
    // down cleanly or the file changed since it was read, and 50 (ERROR_NOT_SUPPORTED) for a
    // change hivex cannot write faithfully. After a failure the changes stay in memory: Flush
    // again, or Reload to return to what is on disk.
    CStatus Flush() const;
    // The same, for an operation that keeps a backup: a hive that was recovered from its logs
    // at load (and only such a hive) keeps its original file and logs in the host folder
    // strKeepOriginalsIn before it is written back clean. Plain Flush refuses to write such a hive.
    CStatus Flush(const std::string& strKeepOriginalsIn) const;
    // Writes back every hive that was recovered from its logs at load, unchanged otherwise,
    // keeping the originals in strKeepOriginalsIn as Flush does. pApplied gets one line per hive,
    // "NTUSER.DAT: 4 log entries (sequence 2 to 5) from ...". Nothing to do is success.
    CStatus WriteBackRecovered(const std::string& strKeepOriginalsIn,
                               std::vector<std::wstring>* pApplied) const;
    // Whether a Flush could write now, whatever has changed: the same refusals as Flush (a
    // running wineserver, unreadable lines) without writing anything. Lets a caller refuse an
    // operation before it changes files beside the registry.
    CStatus CheckWritable() const;
    // Whether the file holding the key hRoot\strPath (in the view of sam) could be written now: on
    // an offline volume each hive is its own file, and a hive that cannot be written (dirty
    // without usable logs, not read completely) must not block changes to the others. A key
    // that does not exist needs no writing: success.
    CStatus CheckWritable(HKEY hRoot, const std::wstring& strPath, REGSAM sam = 0) const;
    // Whether a restore could write the key hRoot\strPath (in the view of sam) back into its file
    // as it is now: with bWhole the key with everything below it, else only its values. An offline
    // hive takes back only what hivex can write so that Windows finds it; a Wine file takes
    // everything. A key that does not exist: success.
    CStatus CheckRestorable(HKEY hRoot, const std::wstring& strPath, REGSAM sam, bool bWhole) const;
    // Where the key hRoot\strPath (in the view of sam) lives, as the root and path a backup
    // names so that its restore writes into the file the key came from: a key of a merged
    // HKEY_CLASSES_ROOT (a Windows volume with a user) is HKEY_CURRENT_USER\Software\Classes\...
    // when the user's classes hold it (and the value *pstrValue, when one is named and the
    // machine's key holds it too), else HKEY_LOCAL_MACHINE\Software\Classes\..., as a delete
    // through the merged root chooses. Anything else, and a key that does not exist, is returned
    // as given.
    std::pair<HKEY, std::wstring> HomeOf(HKEY hRoot, const std::wstring& strPath, REGSAM sam,
                                         const std::wstring* pstrValue = nullptr) const;
    // Drops every change since the last load or Flush and reads the stores again. Keys open
    // before report ERROR_KEY_DELETED afterwards.
    CStatus Reload() const;
    // Whether a registry file changed on disk since it was last read or written (another program
    // wrote it). Flush refuses to write over such a change (1013); an operation that is about to
    // change the registry reloads first.
    bool ChangedOnDisk() const;
    // What loading skipped, one line each ("user.reg:6: Value without key '...'").
    std::vector<std::wstring> LoadWarnings() const;

    // Test and build helpers in Wine's text notation (the body of a .reg file; the header lines
    // are optional). ImportText adds keys and values under hRoot (HKEY_CLASSES_ROOT writes to the
    // machine's classes); a line that does not parse is an error. ExportText writes the key at
    // hRoot\strPath and everything below it, key names relative to it, without times.
    CStatus ImportText(HKEY hRoot, std::string_view strText) const;
    std::string ExportText(HKEY hRoot, const std::wstring& strPath) const;

private:
    friend class CRegistryCore;
    std::shared_ptr<CRegistryCore> m_pCore;
};

}  // namespace Branwick::Platform
