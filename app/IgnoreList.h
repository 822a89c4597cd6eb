// The ignore list: problems the user told the program to leave alone, so that later scans do not
// report them again. Kept in memory per scan category, in insertion order, and stored in
// "ignorelist.xml" in the program's data folder.
//
// Not thread-safe. IsIgnored runs on the message-runner thread during a scan; Add, Remove and the
// ignore-list page run on the user-interface thread while no scan runs.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "core/RegError.h"
#include "platform/files/files.h"
#include "platform/target/target.h"

namespace Branwick {

// One ignored problem record.
struct CIgnoreEntry {
    std::vector<std::wstring> m_vcValues;  // the description of each of the record's fixes
    HKEY m_hRoot = 0;                      // 0 for a file record
    std::wstring m_strPath;                // the record's full path
    REGSAM m_dwRegSam = 0;                 // the record's view bits

    bool operator==(const CIgnoreEntry&) const = default;
};

class CIgnoreList {
public:
    // Loads "ignorelist.xml" of strDataFolder (a Windows path ending in '\') in the target's files,
    // which must outlive the list. With pTarget, every change is made under the target's one-writer
    // lock on the list as another process may have saved it meanwhile, so that neither change is
    // lost.
    CIgnoreList(Platform::CFileSystem& files, const std::wstring& strDataFolder,
                const Platform::CTarget* pTarget = nullptr);
    // Saves what Add or Remove changed and no save has written; a list nobody changed is not
    // written.
    ~CIgnoreList();
    CIgnoreList(const CIgnoreList&) = delete;
    CIgnoreList& operator=(const CIgnoreList&) = delete;

    // Fills the list from the file. A missing file gives an empty list. A damaged file gives what
    // can be read of it (an entry without "hRoot" or "Path" is left out) and is kept as
    // "ignorelist.xml.bad" before the next save replaces it. "RegSam" other than 256 or 512
    // reads as 512. Elements that name no category are kept and written back as they were.
    void Load();
    // Writes the whole list, replacing the file (and making the data folder when it is missing);
    // on failure the previous file stays. Returns whether the file was written (LastError says
    // why not). Nothing is shown to the user either way.
    bool Save();
    // Why the last save failed, one sentence; empty when it worked.
    const std::wstring& LastError() const { return m_strLastError; }

    // Appends an entry made from the record to the category's list (no check for duplicates),
    // then saves. Returns whether it was saved; the entry is in the list either way.
    bool Add(std::int32_t nScanType, const CRegError& record);
    // Removes an entry equal to that one (the entry object itself when the list was not read
    // again), then saves; nothing when there is none. False (LastError says why) when the
    // one-writer lock could not be had (nothing was removed) or the save failed (the entry is out
    // of the list either way).
    bool Remove(std::int32_t nScanType, const CIgnoreEntry* pEntry);
    // Whether an entry of the category matches the record: the same full path (case-sensitive),
    // root, number of fixes and view bits, and the same fix descriptions compared pairwise from
    // the first up to the first position where either is empty, where both must be.
    bool IsIgnored(std::int32_t nScanType, const CRegError& record) const;
    size_t GetCount(std::int32_t nScanType) const;
    // The entries of a category in list order; the addresses stay valid until they are removed.
    const std::list<CIgnoreEntry>& GetEntries(std::int32_t nScanType) const;

private:
    // Takes the one-writer lock and reads the file again; false (LastError set) when the lock is
    // held elsewhere.
    bool LockAndReload(Platform::CWriterLock& lock);

    Platform::CFileSystem& m_files;
    const Platform::CTarget* m_pTarget;
    std::wstring m_strFolder;
    std::wstring m_strPath;
    std::wstring m_strLastError;
    std::string m_strDamaged;  // a damaged file's text, until the next save keeps it aside
    bool m_bChanged = false;   // by Add or Remove, since the last successful save
    std::map<std::int32_t, std::list<CIgnoreEntry>> m_map;
    std::vector<std::string> m_vcForeign;  // elements naming no category, as XML text
};

}  // namespace Branwick
