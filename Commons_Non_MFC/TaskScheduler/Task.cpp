#include "Commons_Non_MFC/TaskScheduler/Task.h"

#include "core/Exceptions.h"
#include "core/MessageBox.h"
#include "core/Text.h"

namespace Branwick {
namespace {

const wchar_t kNotRunning[] =
    L"Task Scheduler service is not running. Corvane scheduling will be unavailable.";

Platform::CJobFolder& DefaultFolder() {
    static Platform::CJobFolder* folder = new Platform::CJobFolder;
    return *folder;
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash == 0 ? 1 : slash);
}

std::wstring TriggerParameter(WORD wIndex) {
    return FormatText(L"\nInput parameters:\nwNumTrigger: %d\n", static_cast<int>(wIndex));
}

}  // namespace

CTask::CTask(std::wstring strName, Platform::CJobFolder* pFolder)
    : m_strName(std::move(strName)), m_pFolder(pFolder ? pFolder : &DefaultFolder()) {}

Platform::CScheduledJob& CTask::Job(const wchar_t* pszNullCause) const {
    if (!m_pITask) {
        throw BRANWICK_EXCEPTION(pszNullCause, static_cast<DWORD>(E_FAIL));
    }
    return *m_pITask;
}

void CTask::CreateTask(const std::wstring& strPath) {
    if (m_pFolder->Exists(m_strName)) {
        OpenTask(strPath);
    } else if (m_strName.empty() || m_strName.find(L'/') != std::wstring::npos) {
        throw BRANWICK_EXCEPTION(L"ITask creation", static_cast<DWORD>(E_INVALIDARG));
    } else {
        m_pITask = std::make_unique<Platform::CScheduledJob>();
    }
    if (strPath.empty()) {
        throw BRANWICK_EXCEPTION(L"ITask::SetApplicationName", static_cast<DWORD>(E_INVALIDARG));
    }
    m_pITask->m_strApplication = strPath;
    m_pITask->m_strWorkingDirectory = FolderOf(strPath);
    m_pITask->m_dwPriority = NORMAL_PRIORITY_CLASS;
    m_pITask->m_dwFlags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
    std::wstring strAccount;
    const LONG lResult = Platform::GetAccountName(strAccount);
    if (lResult != ERROR_SUCCESS) {
        throw BRANWICK_EXCEPTION(L"::GetUserNameEx", static_cast<DWORD>(HresultFromWin32(lResult)));
    }
    SetParameters(L"-shed");
    m_pITask->m_strAccount = strAccount;
    SaveTask();
}

void CTask::OpenTask(const std::wstring& /*strPath*/) {
    auto pJob = std::make_unique<Platform::CScheduledJob>();
    const HRESULT hr = m_pFolder->Load(m_strName, *pJob);
    if (hr != S_OK) {
        throw BRANWICK_EXCEPTION(L"ITaskScheduler::Activate", static_cast<DWORD>(hr));
    }
    m_pITask = std::move(pJob);
}

HRESULT CTask::SaveTask() {
    const HRESULT hr = m_pFolder->Save(m_strName, Job(L"m_pITask reference"));
    if (hr == SCHED_E_SERVICE_NOT_RUNNING) {
        // Every change of the schedule saves; one warning says it all until a save succeeds.
        if (!m_bWarned) {
            m_bWarned = true;
            ShowMessageBox(kNotRunning, L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        }
        return hr;
    }
    if (hr != S_OK) {
        throw BRANWICK_EXCEPTION(L"IPersistFile::Save", static_cast<DWORD>(hr));
    }
    m_bWarned = false;
    return hr;
}

void CTask::Commit(const Platform::CScheduledJob& job) {
    Platform::CScheduledJob previous = *m_pITask;
    *m_pITask = job;
    try {
        SaveTask();
    } catch (...) {
        *m_pITask = std::move(previous);
        throw;
    }
}

void CTask::SetParameters(const std::wstring& strParameters) {
    if (!m_pITask) {
        throw BRANWICK_EXCEPTION(
            L"m_pITask is NULL" +
                FormatText(L"\nInput parameters:\nsParameters: %ls\n", strParameters.c_str()),
            static_cast<DWORD>(E_FAIL));
    }
    Platform::CScheduledJob job = *m_pITask;
    job.m_strParameters = strParameters;
    Commit(job);
}

WORD CTask::AddTrigger(const TASK_TRIGGER& trigger) {
    Platform::CScheduledJob job = Job(L"m_pITask reference");
    // Index 0xFFFF is the settings store's answer for a failed add, so it is never a trigger's.
    if (job.m_vcTriggers.size() >= 0xFFFF) {
        throw BRANWICK_EXCEPTION(L"ITask::CreateTrigger", static_cast<DWORD>(E_OUTOFMEMORY));
    }
    const HRESULT hr = Platform::ValidateTrigger(trigger);
    if (hr != S_OK) {
        throw BRANWICK_EXCEPTION(L"ITask::SetTrigger", static_cast<DWORD>(hr));
    }
    job.m_vcTriggers.push_back(trigger);
    Commit(job);
    return static_cast<WORD>(job.m_vcTriggers.size() - 1);
}

void CTask::ChangeTrigger(WORD wIndex, const TASK_TRIGGER& trigger) {
    Platform::CScheduledJob job = Job(L"m_pITask reference");
    if (wIndex >= job.m_vcTriggers.size()) {
        throw BRANWICK_EXCEPTION(L"ITask::GetTrigger" + TriggerParameter(wIndex),
                                 static_cast<DWORD>(SCHED_E_TRIGGER_NOT_FOUND));
    }
    const HRESULT hr = Platform::ValidateTrigger(trigger);
    if (hr != S_OK) {
        throw BRANWICK_EXCEPTION(L"ITask::SetTrigger" + TriggerParameter(wIndex),
                                 static_cast<DWORD>(hr));
    }
    job.m_vcTriggers[wIndex] = trigger;
    Commit(job);
}

void CTask::RemoveTrigger(WORD wIndex) {
    Platform::CScheduledJob job = Job(L"m_pITask reference");
    if (wIndex >= job.m_vcTriggers.size()) {
        throw BRANWICK_EXCEPTION(
            L"ITask::DeleteTrigger " + FormatText(L"\nwNumTrigger: %d", static_cast<int>(wIndex)),
            static_cast<DWORD>(SCHED_E_TRIGGER_NOT_FOUND));
    }
    job.m_vcTriggers.erase(job.m_vcTriggers.begin() + wIndex);
    Commit(job);
}

WORD CTask::GetTriggersCount() const {
    return static_cast<WORD>(Job(L"m_pITask reference").m_vcTriggers.size());
}

TASK_TRIGGER CTask::GetTrigger(WORD wIndex) const {
    const Platform::CScheduledJob& job = Job(L"m_pITask reference");
    if (wIndex >= job.m_vcTriggers.size()) {
        throw BRANWICK_EXCEPTION(L"ITask::GetTrigger" + TriggerParameter(wIndex),
                                 static_cast<DWORD>(SCHED_E_TRIGGER_NOT_FOUND));
    }
    return job.m_vcTriggers[wIndex];
}

std::wstring CTask::GetTriggerInfo(WORD wIndex) const {
    if (!m_pITask) {
        throw BRANWICK_EXCEPTION(L"m_pITask is NULL" + TriggerParameter(wIndex),
                                 static_cast<DWORD>(E_FAIL));
    }
    if (wIndex >= m_pITask->m_vcTriggers.size()) {
        throw BRANWICK_EXCEPTION(L"ITask::GetTriggerString" + TriggerParameter(wIndex),
                                 static_cast<DWORD>(SCHED_E_TRIGGER_NOT_FOUND));
    }
    return Platform::DescribeTrigger(m_pITask->m_vcTriggers[wIndex], m_pITask->m_wIdleMinutes);
}

std::wstring CTask::GetTempTriggerInfo(const TASK_TRIGGER& trigger) const {
    const Platform::CScheduledJob& job = Job(L"m_pITask reference");
    const HRESULT hr = Platform::ValidateTrigger(trigger);
    if (hr != S_OK) {
        throw BRANWICK_EXCEPTION(L"ITask::SetTrigger", static_cast<DWORD>(hr));
    }
    return Platform::DescribeTrigger(trigger, job.m_wIdleMinutes);
}

void CTask::GetIdleWait(WORD& wIdleMinutes, WORD& wDeadlineMinutes) const {
    const Platform::CScheduledJob& job = Job(L"m_pITask reference");
    wIdleMinutes = job.m_wIdleMinutes;
    wDeadlineMinutes = job.m_wDeadlineMinutes;
}

void CTask::SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes) {
    Platform::CScheduledJob job = Job(L"m_pITask reference");
    job.m_wIdleMinutes = wIdleMinutes;
    job.m_wDeadlineMinutes = wDeadlineMinutes;
    Commit(job);
}

std::wstring TriggerText(const TASK_TRIGGER& t) {
    auto u = [](DWORD value) { return static_cast<unsigned>(value); };
    std::wstring strType;
    switch (t.TriggerType) {
        case TASK_TIME_TRIGGER_ONCE:
            strType = L"TASK_TIME_TRIGGER_ONCE";
            break;
        case TASK_TIME_TRIGGER_DAILY:
            strType = FormatText(L"TASK_TIME_TRIGGER_DAILY:\nDaysInterval: %u\n",
                                 u(t.Type.Daily.DaysInterval));
            break;
        case TASK_TIME_TRIGGER_WEEKLY:
            strType =
                FormatText(L"TASK_TIME_TRIGGER_WEEKLY\nWeeksInterval: %u \nrgfDaysOfTheWeek: %u",
                           u(t.Type.Weekly.WeeksInterval), u(t.Type.Weekly.rgfDaysOfTheWeek));
            break;
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            strType = FormatText(L"TASK_TIME_TRIGGER_MONTHLYDATE\nrgfDays: %u \nrgfMonths: %u",
                                 u(t.Type.MonthlyDate.rgfDays), u(t.Type.MonthlyDate.rgfMonths));
            break;
        case TASK_TIME_TRIGGER_MONTHLYDOW:
            strType = FormatText(
                L"TASK_TIME_TRIGGER_MONTHLYDOW\rgfDaysOfTheWeek: %u \nrgfMonths: %u \nwWhichWeek: "
                L"%u",
                u(t.Type.MonthlyDOW.rgfDaysOfTheWeek), u(t.Type.MonthlyDOW.rgfMonths),
                u(t.Type.MonthlyDOW.wWhichWeek));
            break;
        case TASK_EVENT_TRIGGER_ON_IDLE:
            strType = L"TASK_EVENT_TRIGGER_ON_IDLE";
            break;
        case TASK_EVENT_TRIGGER_AT_SYSTEMSTART:
            strType = L"TASK_EVENT_TRIGGER_AT_SYSTEMSTART";
            break;
        case TASK_EVENT_TRIGGER_AT_LOGON:
            strType = L"TASK_EVENT_TRIGGER_AT_LOGON";
            break;
    }
    return FormatText(
        L"\nTrigger:\nMinutesDuration: %u \nMinutesInterval: %u\nrgFlags: %u\nTriggerType: %ls\n"
        L"wBeginDay: %u \nwBeginMonth: %u \nwBeginYear: %u \nwEndDay: %u \nwEndMonth: %u \n"
        L"wEndYear: %u \nwStartHour: %u \nwStartMinute: %u",
        u(t.MinutesDuration), u(t.MinutesInterval), u(t.rgFlags), strType.c_str(), u(t.wBeginDay),
        u(t.wBeginMonth), u(t.wBeginYear), u(t.wEndDay), u(t.wEndMonth), u(t.wEndYear),
        u(t.wStartHour), u(t.wStartMinute));
}

}  // namespace Branwick
