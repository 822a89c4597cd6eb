// Backups taken before a fix: the registry data that the selected problem records will delete,
// saved as a ".bak" file (the backup document of core/RegData.h) in the "Backups" folder of the
// program's data folder inside the target, listed, restored and deleted. The files the fix
// removes are moved into a folder beside it ("<name>.files"), and its document says where each
// came from, in elements of its own that a restorer of registry data passes over:
//
//     <File Path="C:\users\me\Temp\x.tmp" Name="1-x.tmp"/>
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "app/ScanManager.h"

namespace Branwick {

// "Corvanes_%B_%d_%Y_%H_%M_%S" of the local time nTime (English month names).
std::wstring BackupName(std::int64_t nTime);

// The folder that holds the files of the backup file strBakPath: its path without ".bak",
// followed by ".files" (no trailing backslash).
std::wstring BackupFilesFolder(const std::wstring& strBakPath);

// One backup document. Used by one thread at a time.
class CBackUp {
public:
    // An empty document with its "Backup" element.
    CBackUp();
    CBackUp(const CBackUp&) = delete;
    CBackUp& operator=(const CBackUp&) = delete;

    // Adds what fixing the record would delete, read from the registry of the fix's target; for
    // a file record, where the file comes from. Once Save has written the backup, a file record
    // names its place in the backup (m_strBackupPath), so that the fix moves the file there: the
    // record must outlive this object. A failure is shown to the user and the record is not
    // counted.
    void AddRegError(CRegError& record, const Platform::CRegistry& registry);
    std::size_t GetCount() const { return m_nAdded; }
    // Saves the document in strFolder (a Windows path ending in '\') of the files under the name
    // of the current local time; a second backup within the same second gets "_2", "_3", ...
    // rather than replacing the first. The folder for the files comes first, so that a file
    // record never names a place that is not there. Returns the creation time, or 0 when no
    // record was added (nothing is written) or the backup could not be written (strError says
    // why; no file record then names a place); strName receives the name it was saved under
    // (without ".bak").
    std::int64_t Save(Platform::CFileSystem& files, const std::wstring& strFolder,
                      std::wstring& strName, std::wstring& strError);
    // Loads a backup file; nCount receives the number of items to restore. False with one
    // sentence in strError when the file cannot be read or is no backup document (nothing is
    // loaded then).
    bool Load(const Platform::CFileSystem& files, const std::wstring& strPath, std::size_t& nCount,
              std::wstring& strError);
    // Writes the next item into the registry (in memory; the caller flushes once at the end).
    // False when every item has been restored.
    bool RestoreNext(const Platform::CRegistry& registry);
    // Puts every file of the loaded backup, whose folder is strFolder, back where it came from.
    // A file the fix never moved is passed over; one whose place holds another file by now is
    // left in the backup, and a sentence about it is added to vcRefused.
    void RestoreFiles(Platform::CFileSystem& files, const std::wstring& strFolder,
                      std::vector<std::wstring>& vcRefused) const;
    // What the registry items restored so far could not write, one line each.
    const std::vector<std::wstring>& RestoreFailures() const { return m_vcFailures; }

private:
    void AddFile(CRegError& record);

    struct SFile {
        CRegError* pRecord;
        std::wstring strName;  // in the backup's folder
    };

    pugi::xml_document m_document;
    pugi::xml_node m_root;
    pugi::xml_node m_next;
    std::size_t m_nAdded = 0;
    std::vector<SFile> m_vcFiles;
    std::vector<std::wstring> m_vcFailures;
};

// The list of backups and the create and restore threads. Threads: construction, Reload,
// CreateBackup, RestoreBackup, DeleteBackup, StopBackup and GetBackups on the user-interface
// thread; Processmessage on the message-runner thread. The list has its own lock.
class CBackUpManager : public IObserver {
public:
    // Subscribes to CCreateBkupFinishMsg and CRestoreBkupFinishMsg and reads the list. The
    // objects given must outlive the manager.
    CBackUpManager(CMessageManager& messages, CThreadManager& threads, CScanManager& scanManager,
                   const Platform::CTarget& target, const std::wstring& strDataFolder);
    ~CBackUpManager() override;
    CBackUpManager(const CBackUpManager&) = delete;
    CBackUpManager& operator=(const CBackUpManager&) = delete;

    // Reads the list from the folder (see GetBackups).
    void Reload();
    // Starts a thread that backs up the records in state 1 of the scan manager's last scan; it
    // ends with CCreateBkupFinishMsg (time 0 when nothing was saved) and CFinishThreadMessage.
    // Returns the thread id (0: not started).
    DWORD CreateBackup();
    // Starts a thread that restores the backup named strName (with or without ".bak"), resets
    // the scan manager's quiet times and flushes the registry once; it ends with
    // CRestoreBkupFinishMsg and CFinishThreadMessage. A file that cannot be loaded, or a
    // registry that refuses the write, changes nothing; why is logged and kept for
    // LastRestoreFailures, for the caller to show. The target's one-writer lock is held until the thread is done; when
    // another process holds it past the wait, that is shown and nothing starts. Returns the
    // thread id (0: not started, e.g. a name with a path).
    DWORD RestoreBackup(const std::wstring& strName);
    // Deletes the backup file and the files it holds, under the target's one-writer lock; the list
    // is the caller's to update. False with strError.
    bool DeleteBackup(const std::wstring& strName, std::wstring& strError);
    // The number of files the backup holds (that a fix moved into it).
    std::size_t CountFiles(const std::wstring& strName) const;
    // Stops the running create or restore thread and waits for it.
    void StopBackup();

    // Time of last change (seconds since 1970) to name, oldest first; backups of the same second
    // are all listed, in the order they were made.
    std::multimap<std::int64_t, std::wstring> GetBackups() const;
    bool LastRestoreSucceeded() const { return m_bRestoreOk; }
    // What the last restore could not do, one line each; read after its finish message.
    std::vector<std::wstring> LastRestoreFailures() const;
    const std::wstring& GetFolder() const { return m_strFolder; }

    void Processmessage(CMessage* pMessage) override;

private:
    // The file of a backup name; empty for a name that is not a plain file name.
    std::wstring BackupPath(const std::wstring& strName) const;

    CMessageManager& m_messages;
    CThreadManager& m_threads;
    CScanManager& m_scanManager;
    const Platform::CTarget& m_target;
    std::wstring m_strFolder;  // ends in '\'
    mutable std::mutex m_mutex;
    std::multimap<std::int64_t, std::wstring> m_backups;
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<bool> m_bRestoreOk{true};
    // Written by the restore thread before its finish message, read after it.
    std::vector<std::wstring> m_vcRestoreFailures;
};

}  // namespace Branwick
