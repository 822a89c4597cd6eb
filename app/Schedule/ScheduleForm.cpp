#include "app/Schedule/ScheduleForm.h"

#include <algorithm>
#include <array>

namespace Branwick {

namespace {

struct SKind {
    const wchar_t* pszName;
    const wchar_t* pszTitle;
    bool bStartTime;
};

constexpr std::array<SKind, kScheduleKinds> kKinds = {{
    {L"Daily", L"Schedule Task Daily", true},
    {L"Weekly", L"Schedule Task Weekly", true},
    {L"Monthly", L"Schedule Task Monthly", true},
    {L"Once", L"Schedule Task Once", true},
    {L"At System Startup", L"Schedule Task At System Startup", false},
    {L"At Logon", L"Schedule Task At Logon", false},
    {L"When Idle", L"Schedule Task When Idle", false},
}};

const SKind& Kind(EScheduleKind eKind) {
    return kKinds.at(static_cast<std::size_t>(eKind));
}

constexpr DWORD kMinutesPerDay = 24 * 60;

}  // namespace

const wchar_t* ScheduleKindName(EScheduleKind eKind) { return Kind(eKind).pszName; }
const wchar_t* ScheduleKindTitle(EScheduleKind eKind) { return Kind(eKind).pszTitle; }
bool ScheduleKindHasStartTime(EScheduleKind eKind) { return Kind(eKind).bStartTime; }

EScheduleKind ScheduleKindOf(const TASK_TRIGGER& trigger) {
    switch (trigger.TriggerType) {
    case TASK_TIME_TRIGGER_ONCE: return EScheduleKind::Once;
    case TASK_TIME_TRIGGER_WEEKLY: return EScheduleKind::Weekly;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
    case TASK_TIME_TRIGGER_MONTHLYDOW: return EScheduleKind::Monthly;
    case TASK_EVENT_TRIGGER_ON_IDLE: return EScheduleKind::WhenIdle;
    case TASK_EVENT_TRIGGER_AT_SYSTEMSTART: return EScheduleKind::AtStartup;
    case TASK_EVENT_TRIGGER_AT_LOGON: return EScheduleKind::AtLogon;
    default: return EScheduleKind::Daily;
    }
}

WORD LongestMonthDay(WORD wMonths) {
    constexpr WORD k31DayMonths = 0xAD5;  // Jan, Mar, May, Jul, Aug, Oct, Dec
    constexpr WORD k30DayMonths = 0x528;  // Apr, Jun, Sep, Nov
    return (wMonths & k31DayMonths) != 0 ? 31 : (wMonths & k30DayMonths) != 0 ? 30 : 29;
}

WORD DayOfWeekMask(int nIndex) {
    return nIndex >= 0 && nIndex < 6 ? static_cast<WORD>(2u << nIndex) : WORD(1);
}

int DayOfWeekIndex(WORD wMask) {
    for (int i = 0; i < 7; ++i) {
        if ((wMask & DayOfWeekMask(i)) != 0) {
            return i;
        }
    }
    return 0;
}

// ---- SAdvancedSchedule ----

SAdvancedSchedule SAdvancedSchedule::Reset(const SScheduleDate& today) {
    SAdvancedSchedule advanced;
    advanced.begin = today;
    advanced.until = today;
    return advanced;
}

SAdvancedSchedule SAdvancedSchedule::FromTrigger(const TASK_TRIGGER& trigger) {
    SAdvancedSchedule advanced;
    advanced.begin = {trigger.wBeginYear, trigger.wBeginMonth, trigger.wBeginDay};
    advanced.bUntil = (trigger.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) != 0;
    advanced.until = advanced.bUntil ? SScheduleDate{trigger.wEndYear, trigger.wEndMonth, trigger.wEndDay}
                                     : advanced.begin;
    advanced.bRepeat = trigger.MinutesInterval != 0;
    advanced.dwEvery = trigger.MinutesInterval;
    advanced.dwDurationHours = trigger.MinutesDuration / 60;
    advanced.dwDurationMinutes = trigger.MinutesDuration % 60;
    advanced.bStop = (trigger.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END) != 0;
    return advanced;
}

DWORD SAdvancedSchedule::IntervalMinutes() const {
    return bHours ? dwEvery * 60 : dwEvery;
}

DWORD SAdvancedSchedule::DurationMinutes(WORD wStartHour, WORD wStartMinute) const {
    if (!bUntilTime) {
        return dwDurationHours * 60 + dwDurationMinutes;
    }
    // Up to that time of day; a time before the start is on the next day.
    const int nDifference = (wUntilHour * 60 + wUntilMinute) - (wStartHour * 60 + wStartMinute);
    return static_cast<DWORD>(nDifference < 0 ? nDifference + static_cast<int>(kMinutesPerDay) : nDifference);
}

std::wstring SAdvancedSchedule::Validate(WORD wStartHour, WORD wStartMinute) const {
    if (bUntil && until < begin) {
        return L"The end date must be later then the start date.";
    }
    if (bRepeat && dwEvery == 0) {
        return L"The repetition interval cannot be less than 1.";
    }
    if (bRepeat && DurationMinutes(wStartHour, wStartMinute) <= IntervalMinutes()) {
        return L"The duration must be greater than repetition interval.";
    }
    return {};
}

void SAdvancedSchedule::Apply(TASK_TRIGGER& trigger) const {
    trigger.wBeginYear = begin.wYear;
    trigger.wBeginMonth = begin.wMonth;
    trigger.wBeginDay = begin.wDay;
    if (bUntil) {
        trigger.wEndYear = until.wYear;
        trigger.wEndMonth = until.wMonth;
        trigger.wEndDay = until.wDay;
        trigger.rgFlags |= TASK_TRIGGER_FLAG_HAS_END_DATE;
    }
    if (bRepeat) {
        trigger.MinutesInterval = IntervalMinutes();
        trigger.MinutesDuration = DurationMinutes(trigger.wStartHour, trigger.wStartMinute);
        if (bStop) {
            trigger.rgFlags |= TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
        }
    }
}

// ---- SScheduleInputs ----

SScheduleInputs SScheduleInputs::FromTrigger(const TASK_TRIGGER& trigger, WORD wIdleMinutes) {
    SScheduleInputs inputs;
    inputs.eKind = ScheduleKindOf(trigger);
    inputs.wStartHour = trigger.wStartHour;
    inputs.wStartMinute = trigger.wStartMinute;
    inputs.wIdleMinutes = wIdleMinutes;
    inputs.advanced = SAdvancedSchedule::FromTrigger(trigger);
    inputs.runOn = inputs.advanced.begin;
    switch (trigger.TriggerType) {
    case TASK_TIME_TRIGGER_DAILY:
        inputs.wDaysInterval = trigger.Type.Daily.DaysInterval;
        break;
    case TASK_TIME_TRIGGER_WEEKLY:
        inputs.wWeeksInterval = trigger.Type.Weekly.WeeksInterval;
        inputs.wWeekDays = trigger.Type.Weekly.rgfDaysOfTheWeek;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
        inputs.bMonthDay = true;
        inputs.wMonthDay = 1;
        for (DWORD dwDays = trigger.Type.MonthlyDate.rgfDays; dwDays > 1 && inputs.wMonthDay < 31; dwDays >>= 1) {
            ++inputs.wMonthDay;
        }
        inputs.wMonths = trigger.Type.MonthlyDate.rgfMonths;
        break;
    case TASK_TIME_TRIGGER_MONTHLYDOW:
        inputs.bMonthDay = false;
        inputs.nWhichWeek = std::clamp<int>(trigger.Type.MonthlyDOW.wWhichWeek, TASK_FIRST_WEEK, TASK_LAST_WEEK) - 1;
        inputs.nDayOfWeek = DayOfWeekIndex(trigger.Type.MonthlyDOW.rgfDaysOfTheWeek);
        inputs.wMonths = trigger.Type.MonthlyDOW.rgfMonths;
        break;
    default:
        break;
    }
    return inputs;
}

std::wstring SScheduleInputs::Validate() const {
    if (eKind == EScheduleKind::Weekly && (wWeekDays & 0x7F) == 0) {
        return L"You must select at least one day.";
    }
    if (eKind == EScheduleKind::Monthly && (wMonths & 0xFFF) == 0) {
        return L"You must select at least one month";
    }
    const bool bStartTime = ScheduleKindHasStartTime(eKind);
    return advanced.Validate(bStartTime ? wStartHour : 0, bStartTime ? wStartMinute : 0);
}

TASK_TRIGGER SScheduleInputs::Build() const {
    TASK_TRIGGER trigger{};
    trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
    if (ScheduleKindHasStartTime(eKind)) {
        trigger.wStartHour = std::min<WORD>(wStartHour, 23);
        trigger.wStartMinute = std::min<WORD>(wStartMinute, 59);
    }
    advanced.Apply(trigger);
    switch (eKind) {
    case EScheduleKind::Daily:
        trigger.TriggerType = TASK_TIME_TRIGGER_DAILY;
        trigger.Type.Daily.DaysInterval = std::clamp<WORD>(wDaysInterval, 1, kMaxDaysInterval);
        break;
    case EScheduleKind::Weekly:
        trigger.TriggerType = TASK_TIME_TRIGGER_WEEKLY;
        trigger.Type.Weekly.WeeksInterval = std::clamp<WORD>(wWeeksInterval, 1, kMaxWeeksInterval);
        trigger.Type.Weekly.rgfDaysOfTheWeek = wWeekDays & 0x7F;
        break;
    case EScheduleKind::Monthly:
        if (bMonthDay) {
            trigger.TriggerType = TASK_TIME_TRIGGER_MONTHLYDATE;
            const WORD wDay = std::clamp<WORD>(wMonthDay, 1, LongestMonthDay(wMonths));
            trigger.Type.MonthlyDate.rgfDays = DWORD(1) << (wDay - 1);
            trigger.Type.MonthlyDate.rgfMonths = wMonths & 0xFFF;
        } else {
            trigger.TriggerType = TASK_TIME_TRIGGER_MONTHLYDOW;
            trigger.Type.MonthlyDOW.wWhichWeek = static_cast<WORD>(std::clamp(nWhichWeek, 0, 4) + TASK_FIRST_WEEK);
            trigger.Type.MonthlyDOW.rgfDaysOfTheWeek = DayOfWeekMask(nDayOfWeek);
            trigger.Type.MonthlyDOW.rgfMonths = wMonths & 0xFFF;
        }
        break;
    case EScheduleKind::Once:
        trigger.TriggerType = TASK_TIME_TRIGGER_ONCE;
        trigger.wBeginYear = runOn.wYear;
        trigger.wBeginMonth = runOn.wMonth;
        trigger.wBeginDay = runOn.wDay;
        break;
    case EScheduleKind::AtStartup:
        trigger.TriggerType = TASK_EVENT_TRIGGER_AT_SYSTEMSTART;
        break;
    case EScheduleKind::AtLogon:
        trigger.TriggerType = TASK_EVENT_TRIGGER_AT_LOGON;
        break;
    case EScheduleKind::WhenIdle:
        trigger.TriggerType = TASK_EVENT_TRIGGER_ON_IDLE;
        break;
    }
    return trigger;
}

}  // namespace Branwick
