// Which trigger records the scheduler accepts, and how it describes them to the user.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/trigger_time.h"

namespace Branwick::Platform {
namespace {

bool HasBit(DWORD mask, int bit) {
    return (mask >> bit) & 1u;
}

bool ValidMask(DWORD mask, int bits) {
    return mask != 0 && (mask >> bits) == 0;
}

bool ValidKindFields(const TASK_TRIGGER& t) {
    switch (t.TriggerType) {
        case TASK_TIME_TRIGGER_DAILY:
            return t.Type.Daily.DaysInterval >= 1;
        case TASK_TIME_TRIGGER_WEEKLY:
            return t.Type.Weekly.WeeksInterval >= 1 && ValidMask(t.Type.Weekly.rgfDaysOfTheWeek, 7);
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            return ValidMask(t.Type.MonthlyDate.rgfDays, 31) &&
                   ValidMask(t.Type.MonthlyDate.rgfMonths, 12);
        case TASK_TIME_TRIGGER_MONTHLYDOW:
            return t.Type.MonthlyDOW.wWhichWeek >= TASK_FIRST_WEEK &&
                   t.Type.MonthlyDOW.wWhichWeek <= TASK_LAST_WEEK &&
                   ValidMask(t.Type.MonthlyDOW.rgfDaysOfTheWeek, 7) &&
                   ValidMask(t.Type.MonthlyDOW.rgfMonths, 12);
        default:
            return true;
    }
}

std::string Format(const char* format, int a, int b, int c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string Date(const CivilDate& date) {
    return Format("%02d/%02d/%04d", date.d, date.m, date.y);
}

std::string Count(DWORD value, const char* unit) {
    return std::to_string(value) + " " + unit + (value == 1 ? "" : "s");
}

std::string Minutes(DWORD minutes) {
    if (minutes % 60 == 0) {
        return Count(minutes / 60, "hour");
    }
    if (minutes < 60) {
        return Count(minutes, "minute");
    }
    return Count(minutes / 60, "hour") + " " + Count(minutes % 60, "minute");
}

// "a", "a and b", "a, b and c"
std::string List(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? " and " : ", ";
        }
        text += items[i];
    }
    return text;
}

std::vector<std::string> Names(DWORD mask, const char* const* names, int count) {
    std::vector<std::string> items;
    for (int bit = 0; bit < count; ++bit) {
        if (HasBit(mask, bit)) {
            items.push_back(names[bit]);
        }
    }
    return items;
}

std::string Weekdays(WORD mask) {
    static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    // Listed from Monday, as a week reads.
    std::vector<std::string> items = Names(mask >> 1, kDays + 1, 6);
    if (HasBit(mask, 0)) {
        items.push_back(kDays[0]);
    }
    return List(items);
}

std::string Months(WORD mask) {
    static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                          "May",       "June",     "July",     "August",
                                          "September", "October",  "November", "December"};
    return mask == 0xFFF ? "every month" : List(Names(mask, kMonths, 12));
}

std::string MonthDays(DWORD mask) {
    std::vector<std::string> days;
    for (int bit = 0; bit < 31; ++bit) {
        if (HasBit(mask, bit)) {
            days.push_back(std::to_string(bit + 1));
        }
    }
    return (days.size() == 1 ? "day " : "days ") + List(days);
}

std::string When(const TASK_TRIGGER& t) {
    static const char* const kWeeks[] = {"first", "second", "third", "fourth", "last"};
    std::string text = "At " + Format("%02d:%02d", t.wStartHour, t.wStartMinute);
    switch (t.TriggerType) {
        case TASK_TIME_TRIGGER_ONCE:
            return text + " on " + Date(BeginDate(t));
        case TASK_TIME_TRIGGER_DAILY:
            return text + (t.Type.Daily.DaysInterval == 1
                               ? " every day"
                               : " every " + Count(t.Type.Daily.DaysInterval, "day"));
        case TASK_TIME_TRIGGER_WEEKLY:
            text += " every " + Weekdays(t.Type.Weekly.rgfDaysOfTheWeek);
            if (t.Type.Weekly.WeeksInterval > 1) {
                text += " of every " + Count(t.Type.Weekly.WeeksInterval, "week");
            }
            return text;
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            return text + " on " + MonthDays(t.Type.MonthlyDate.rgfDays) + " of " +
                   Months(t.Type.MonthlyDate.rgfMonths);
        default:
            return text + " on the " + kWeeks[t.Type.MonthlyDOW.wWhichWeek - 1] + " " +
                   Weekdays(t.Type.MonthlyDOW.rgfDaysOfTheWeek) + " of " +
                   Months(t.Type.MonthlyDOW.rgfMonths);
    }
}

std::string Repetition(const TASK_TRIGGER& t) {
    const bool stop = t.rgFlags & TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    if (t.MinutesInterval != 0) {
        return ", repeating every " + Minutes(t.MinutesInterval) + " for " +
               Minutes(t.MinutesDuration) + (stop ? ", stopping a run still going at the end" : "");
    }
    if (stop && t.MinutesDuration != 0) {
        return ", stopping a run still going after " + Minutes(t.MinutesDuration);
    }
    return "";
}

}  // namespace

HRESULT ValidateTrigger(const TASK_TRIGGER& t) {
    const bool timeKind =
        t.TriggerType >= TASK_TIME_TRIGGER_ONCE && t.TriggerType <= TASK_TIME_TRIGGER_MONTHLYDOW;
    const bool eventKind =
        t.TriggerType >= TASK_EVENT_TRIGGER_ON_IDLE && t.TriggerType <= TASK_EVENT_TRIGGER_AT_LOGON;
    if (t.cbTriggerSize != sizeof(TASK_TRIGGER) || !(timeKind || eventKind) || t.wStartHour > 23 ||
        t.wStartMinute > 59 || !ValidKindFields(t)) {
        return E_INVALIDARG;
    }
    const bool hasBegin = IsValidDate(t.wBeginYear, t.wBeginMonth, t.wBeginDay);
    if (timeKind && !hasBegin) {
        return E_INVALIDARG;
    }
    if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) {
        if (!IsValidDate(t.wEndYear, t.wEndMonth, t.wEndDay) ||
            (hasBegin && EndDate(t) < BeginDate(t))) {
            return E_INVALIDARG;
        }
    }
    if (t.MinutesInterval != 0 && t.MinutesDuration <= t.MinutesInterval) {
        return E_INVALIDARG;
    }
    return S_OK;
}

std::wstring DescribeTrigger(const TASK_TRIGGER& t, WORD idleMinutes) {
    if (ValidateTrigger(t) != S_OK) {
        return L"";
    }
    std::string text;
    switch (t.TriggerType) {
        case TASK_EVENT_TRIGGER_ON_IDLE:
            text = "When the computer has been idle for " + Count(idleMinutes, "minute");
            break;
        case TASK_EVENT_TRIGGER_AT_SYSTEMSTART:
            text = "At system startup";
            break;
        case TASK_EVENT_TRIGGER_AT_LOGON:
            text = "At logon";
            break;
        default:
            text = When(t) + Repetition(t);
            if (t.TriggerType != TASK_TIME_TRIGGER_ONCE) {
                text += ", starting " + Date(BeginDate(t));
                if (t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) {
                    text += ", until " + Date(EndDate(t));
                }
            }
            break;
    }
    if (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) {
        text += " (disabled)";
    } else if (TriggerNeedsCorvane(t)) {
        text += " (runs only while Corvane is running)";
    }
    return std::wstring(text.begin(), text.end());
}

}  // namespace Branwick::Platform
