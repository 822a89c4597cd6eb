// The program's settings: user options, what the last scan found, the schedule (kept equal to the
// triggers of the scheduled task) and the autostart option, all in "settings.xml" in the program's
// data folder inside the target. Every change is written at once.
//
// Public operations catch every failure themselves: it is logged (a CLogMessage to the site's
// sink) and shown in a message box captioned "Corvane", and the operation ends there; what it had
// changed before stays changed. DelTriggerAt and SetIdleWait let the task's exceptions through.
//
// Not thread-safe: the program uses the store from its user-interface thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Commons_Non_MFC/TaskScheduler/Task.h"
#include "platform/target/target.h"
#include "platform/win32/mstask.h"

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace Branwick {

class CMessageSink;
class IMessageBox;

// The program's data folder inside the target, ending in '\': the target's "AllUsersProfile", or
// else "PROGRAMDATA", followed by "\Application Data\Corvane\". When neither variable is set,
// the box "Can't get USERPROFILE path" is shown and the path starts from nothing (the system
// drive's root). The folder is made by the first write into it, not here: a command that only
// reads must leave the target as it found it.
std::wstring GetDataFolder(const Platform::CTarget& target);

// What the settings store works with; the objects must outlive the store.
struct CSettingsSite {
    const Platform::CTarget* m_pTarget = nullptr;  // where the data folder is
    std::wstring m_strDataFolder;                  // GetDataFolder
    CTask* m_pTask = nullptr;                      // the program's scheduled task
    CMessageSink* m_pSink = nullptr;               // log messages go here; none when null
    std::wstring m_strProgramPath;                 // the running program, as the task starts it
    IMessageBox* m_pMessageBox = nullptr;          // failures are shown here; null: ShowMessageBox
};

struct CLastScanCounters {
    std::int32_t found = 0;
    std::int32_t fixed = 0;
    std::int32_t ignored = 0;
};

class CSettings {
public:
    // Bits of GetGeneral().
    static constexpr DWORD GENERAL_HIDE_AFTER_FIX = 1;
    static constexpr DWORD GENERAL_FIX_AFTER_SCAN = 2;
    static constexpr DWORD GENERAL_BACKUP_BEFORE_FIX = 4;

    // The process's store, made at the first call with the site given to SetSite before.
    static CSettings& Instance();
    static void SetSite(const CSettingsSite& site);

    // Opens or creates the task for the site's program, loads the file (also when the task could
    // not be had, so that no later save writes defaults over the user's file), then makes the
    // task's triggers those of the file.
    explicit CSettings(const CSettingsSite& site);
    CSettings(const CSettings&) = delete;
    CSettings& operator=(const CSettings&) = delete;

    // Loads (false) or saves (true) the whole file. A save reads the file first and rewrites only
    // the sections it knows, so that everything else in it survives; it holds the target's
    // one-writer lock meanwhile. Returns whether it worked; LastError says why not.
    bool Serialize(bool bSave);
    // Why the last load or save failed, one sentence; empty when it worked. The log has the
    // details.
    const std::wstring& LastError() const { return m_strLastError; }
    // Removes every trigger of the task, adds those of the settings, and sets the idle wait.
    void Synchronize();

    // The task's operations, kept equal in the settings and saved. AddTrigger returns the new
    // index, or 0xFFFF when it failed.
    WORD AddTrigger(const TASK_TRIGGER& trigger);
    // Removes the first stored trigger of the same kind, type fields and start time.
    void DelTrigger(const TASK_TRIGGER& trigger);
    void DelTriggerAt(WORD wIndex);
    void ChangeTrigger(WORD wIndex, const TASK_TRIGGER& trigger);
    std::wstring GetTriggerInfo(WORD wIndex);
    // The task's description of a trigger that is not stored; empty when the task gives none (a
    // record it refuses, no task). Nothing is shown or logged: a preview asks many times a second.
    std::wstring GetTempTriggerInfo(const TASK_TRIGGER& trigger) const;
    void GetIdleWait(WORD& wIdleMinutes, WORD& wDeadlineMinutes);
    void SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes);
    const std::vector<TASK_TRIGGER>& GetTriggers() const { return m_Triggers; }

    DWORD GetGeneral() const { return m_dwGeneral; }
    void SetGeneralFlag(DWORD dwBit, bool bOn);
    DWORD GetScanFlags() const { return m_dwScanFlags; }
    void AddScanFlags(DWORD dwBits);
    void RemoveScanFlags(DWORD dwBits);
    DWORD GetHistoryFlags() const { return m_dwHistoryFlags; }
    bool IsHistoryFlag(DWORD dwBits) const { return (m_dwHistoryFlags & dwBits) != 0; }
    void AddHistoryFlags(DWORD dwBits);
    void RemoveHistoryFlags(DWORD dwBits);

    // The setters of flags and items above and below read what another process may have saved
    // first, under the target's one-writer lock, and save at once, so that neither process's change
    // is lost. Whether that worked: LastError() is empty.

    // The counters of one category and the time of the last scan; not saved until Serialize(true).
    void SetLastScan(std::int32_t nScanType, std::int32_t nFound, std::int32_t nFixed,
                     std::int32_t nIgnored);
    CLastScanCounters GetLastScan(std::int32_t nScanType) const;
    void SetLastScanTime(std::int64_t nTime) { m_LastScanTime = nTime; }
    std::int64_t GetLastScanTime() const { return m_LastScanTime; }
    // Records a fix's counters by category bit and its time on top of the file as it is now (read
    // again under the one-writer lock), so that a change another process saved meanwhile stays.
    // Returns whether it was saved.
    bool SaveFixResult(const std::map<std::int32_t, CLastScanCounters>& counters,
                       std::int64_t nTime);

    // Startup entries the startup manager has disabled (its record texts). Add and Remove return
    // whether the file now holds the change (also when there was nothing to change); when the
    // save fails the list stays as it was, so that the caller can undo what the record stands for.
    const std::set<std::wstring>& GetDisabledItems() const { return m_DisabledItems; }
    bool AddDisabledItem(const std::wstring& strRecord);
    bool RemoveDisabledItem(const std::wstring& strRecord);

    // The desktop session's autostart entry for the program.
    void SetAutoRun(bool bOn);
    bool IsAutoRun() const;

    // The address of a shared file format service ("http://HOST[:PORT]"); empty for the
    // service the program runs itself. Saved at once.
    const std::wstring& GetFormatService() const { return m_strFormatService; }
    void SetFormatService(const std::wstring& strUrl);

    const std::wstring& GetPath() const { return m_strPath; }

private:
    void SerializeOrThrow(bool bSave);
    void LoadDocument(pugi::xml_document& doc);
    void RecoverSections(pugi::xml_node root, const std::string& strText);
    void CreateXML(pugi::xml_document& doc);
    static pugi::xml_node AppendChild(pugi::xml_node parent, const std::wstring& strName);
    void SerializeLastScan(pugi::xml_document& doc, pugi::xml_node node, bool bSave);
    void SerializeScheduling(pugi::xml_node node, bool bSave);
    void SerializeDisabledItems(pugi::xml_node node, bool bSave);
    void SerializeFormatService(pugi::xml_node root, bool bSave);
    void SaveDocument(pugi::xml_document& doc);
    void Save() { Serialize(true); }
    // Reads the file again under the one-writer lock, makes the change and saves. Returns whether
    // it was saved.
    bool Change(const std::function<void()>& fnChange);
    bool Guard(const wchar_t* pszOperation, const std::wstring& strParameters,
               const std::function<void()>& operation);
    void Log(const std::wstring& strText);

    CSettingsSite m_site;
    std::wstring m_strPath;
    std::wstring m_strLastError;
    DWORD m_dwGeneral = 12;
    std::set<std::wstring> m_DisabledItems;
    std::wstring m_strFormatService;
    std::vector<TASK_TRIGGER> m_Triggers;
    DWORD m_dwScanFlags = 4095;
    std::map<std::int32_t, CLastScanCounters> m_LastScan;
    std::int64_t m_LastScanTime = 0;
    std::vector<std::wstring> m_Sections;
    WORD m_wIdleWait = 10;
    DWORD m_dwHistoryFlags = 16383;
    bool m_bTask = false;  // the task was created or opened
};

}  // namespace Branwick
