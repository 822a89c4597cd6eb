// The program's scheduled task "Corvane": the program it starts (with "-shed"), the account, and
// the triggers and idle wait that say when. It lives in the scheduler service of platform/
// (a job file of the program's own, mirrored into a systemd user timer).
//
// Every operation throws CBranwickException on failure; its cause names the failing step
// ("ITask::SetTrigger", "m_pITask reference", ...) and its code is the failing result.
// A save that finds no user manager running is not a failure: it warns the user once and the
// job is kept, to take effect when a user manager starts.
//
// Not thread-safe: the program uses it from its user-interface thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/scheduler/scheduler.h"
#include "platform/win32/mstask.h"

namespace Branwick {

class CTask {
public:
    // `pFolder` (null: the process's own job folder on the systemd user manager) must outlive
    // the task object.
    explicit CTask(std::wstring strName = L"Corvane", Platform::CJobFolder* pFolder = nullptr);
    CTask(const CTask&) = delete;
    CTask& operator=(const CTask&) = delete;

    // Opens the task, or creates it when there is none, and (again) makes it start `strPath`
    // with "-shed" in the program's folder, at normal priority, only while the user is logged on,
    // as the current user; then saves it.
    void CreateTask(const std::wstring& strPath);
    // Opens the existing task of this name (`strPath` is not used).
    void OpenTask(const std::wstring& strPath);
    // Writes the task; S_OK, or SCHED_E_SERVICE_NOT_RUNNING after the warning.
    HRESULT SaveTask();

    void SetParameters(const std::wstring& strParameters);
    // Appends a trigger and saves; returns its index.
    WORD AddTrigger(const TASK_TRIGGER& trigger);
    void ChangeTrigger(WORD wIndex, const TASK_TRIGGER& trigger);
    // Later triggers move down by one.
    void RemoveTrigger(WORD wIndex);
    WORD GetTriggersCount() const;
    // The stored trigger `wIndex`.
    TASK_TRIGGER GetTrigger(WORD wIndex) const;
    // A readable description of the stored trigger `wIndex`, or of a trigger not stored.
    std::wstring GetTriggerInfo(WORD wIndex) const;
    std::wstring GetTempTriggerInfo(const TASK_TRIGGER& trigger) const;
    void GetIdleWait(WORD& wIdleMinutes, WORD& wDeadlineMinutes) const;
    void SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes);

private:
    Platform::CScheduledJob& Job(const wchar_t* pszNullCause) const;
    // Saves `job` as the task; the task takes it only when that did not throw.
    void Commit(const Platform::CScheduledJob& job);

    std::wstring m_strName;
    Platform::CJobFolder* m_pFolder;
    std::unique_ptr<Platform::CScheduledJob> m_pITask;  // null until created or opened
    bool m_bWarned = false;                             // told the user there is no manager
};

// The trigger as error reports describe it: "\nTrigger:\nMinutesDuration: ..." with every field and
// the kind's own fields.
std::wstring TriggerText(const TASK_TRIGGER& trigger);

}  // namespace Branwick
