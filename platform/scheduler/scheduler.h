// The scheduler service: the program's scheduled job, kept as a job file of its own under
// $XDG_CONFIG_HOME/corvane/tasks/<name>.job and mirrored into a systemd user timer and service
// ($XDG_CONFIG_HOME/systemd/user/<name>-scan.timer / .service) that start the job's program.
// Triggers are Task Scheduler 1.0 records. A trigger that systemd cannot express (when idle; every
// N days or N weeks with N > 1, which systemd's calendar cannot count across months) stays in the
// job, is left out of the timer, and is honoured by the running program itself (IsDueInProcess).
//
// Nothing here is thread-safe: the program schedules from its user-interface thread only.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/mstask.h"
#include "platform/win32/win32.h"

namespace Branwick::Platform {

// A work item of the scheduler: what runs, as whom, with which settings, and when.
class CScheduledJob {
public:
    std::wstring m_strApplication;       // host path of the program to start
    std::wstring m_strWorkingDirectory;  // host path
    std::wstring m_strParameters;        // command-line parameters, separated by blanks
    std::wstring m_strAccount;  // "DOMAIN\user"; informational, the user's own manager runs it
    DWORD m_dwPriority = NORMAL_PRIORITY_CLASS;
    DWORD m_dwFlags = 0;
    WORD m_wIdleMinutes = 10;      // idle time before an idle trigger fires
    WORD m_wDeadlineMinutes = 60;  // how long to wait for that idle time
    std::vector<TASK_TRIGGER> m_vcTriggers;
};

// The systemd user manager that runs the mirrored timer.
class IUserManager {
public:
    virtual ~IUserManager() = default;

    // True when a user manager answers for the calling user.
    virtual bool IsRunning() = 0;

    // Makes the manager take the unit files as they now are on disk and enables and starts the
    // timer `timerUnit` (a running timer keeps running with its new triggers) when `enable` is
    // true, or disables and stops it when false.
    // Returns ERROR_SUCCESS or a Win32 error code (ERROR_NOT_READY when the manager refused).
    virtual LONG Apply(const std::string& timerUnit, bool enable) = 0;
};

// The user manager reached with `systemctl --user`. Process-wide; never destroyed.
IUserManager& SystemdUserManager();

// Job files and their systemd mirror.
class CJobFolder {
public:
    // `manager` must outlive the folder object.
    explicit CJobFolder(IUserManager& manager = SystemdUserManager());
    CJobFolder(const CJobFolder&) = delete;
    CJobFolder& operator=(const CJobFolder&) = delete;

    // Whether a job file of that name exists.
    bool Exists(const std::wstring& name) const;

    // Reads the job `name` into `job`. A damaged file yields what could be read of it: fields
    // that are missing keep their defaults and triggers that are not valid are left out.
    // Returns S_OK, or HresultFromWin32(ERROR_FILE_NOT_FOUND) when there is no such job.
    HRESULT Load(const std::wstring& name, CScheduledJob& job) const;

    // Writes the job file atomically (creating its folder), then the timer and service (or
    // removes them when no trigger of the job is for systemd) and the link that enables the
    // timer, then tells a running user manager. The files are written in every case.
    // Returns S_OK; SCHED_E_SERVICE_NOT_RUNNING when no user manager runs (the files take effect
    // at its next start); HresultFromWin32(error) when a file could not be written (the job file
    // is then as before when that one failed) or the manager refused.
    HRESULT Save(const std::wstring& name, const CScheduledJob& job);

    // Host paths, for diagnostics and tests.
    std::string JobPath(const std::wstring& name) const;
    std::string TimerPath(const std::wstring& name) const;
    std::string ServicePath(const std::wstring& name) const;

private:
    IUserManager& m_manager;
};

// S_OK when `trigger` is a record the scheduler accepts, else E_INVALIDARG: size 48, a known
// kind, a real begin date for the time kinds, a real end date not before it when flag 1 is set,
// a time of day, the fields its kind needs (intervals of at least 1, non-empty masks, a week from
// 1 to 5), and a repetition interval shorter than its duration.
HRESULT ValidateTrigger(const TASK_TRIGGER& trigger);

// True for the triggers that systemd cannot express and the running program must honour.
bool TriggerNeedsCorvane(const TASK_TRIGGER& trigger);

// A readable English text of the trigger, e.g. "At 09:00 every day, starting 06/12/2026" or
// "At logon"; `idleMinutes` is the job's idle wait. Empty for a record that is not valid.
std::wstring DescribeTrigger(const TASK_TRIGGER& trigger, WORD idleMinutes);

// True when a trigger of `job` that needs the running program (TriggerNeedsCorvane) fires in the
// local-time interval (from, to]. An idle trigger fires once per idle period, when the computer has
// been idle for the job's idle minutes: pass when that period began (SessionIdleSince), or nullopt
// while the computer is in use. Looks back at most 400 days for repetitions that began earlier.
bool IsDueInProcess(const CScheduledJob& job, std::time_t from, std::time_t to,
                    std::optional<std::time_t> idleSince);

// Since when logind considers the whole computer idle (its idle hint), or nullopt when it is in
// use or logind does not answer.
std::optional<std::time_t> SessionIdleSince();

// The calling user's name in the "DOMAIN\user" form (the upper-cased host name as the domain).
// Returns ERROR_SUCCESS, or ERROR_NONE_MAPPED when the user has no name.
LONG GetAccountName(std::wstring& account);

}  // namespace Branwick::Platform
