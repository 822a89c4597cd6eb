// The rules of the schedule page, kept apart from its windows so that every front end builds
// the same trigger records from the same inputs: the seven kinds of schedule and their titles,
// how a trigger is built from what the user entered and shown again, the limits of each field,
// and the five validation messages.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win32/mstask.h"

namespace Branwick {

// The kind list, in the order the page shows it.
enum class EScheduleKind { Daily = 0, Weekly, Monthly, Once, AtStartup, AtLogon, WhenIdle };
inline constexpr int kScheduleKinds = 7;
// At most this many triggers exist.
inline constexpr std::size_t kMaxTriggers = 100;
inline constexpr WORD kMaxDaysInterval = 9999;
inline constexpr WORD kMaxWeeksInterval = 9999;
inline constexpr WORD kMaxIdleMinutes = 999;

const wchar_t* ScheduleKindName(EScheduleKind eKind);   // "Daily", ... "When Idle"
const wchar_t* ScheduleKindTitle(EScheduleKind eKind);  // "Schedule Task Daily", ...
// Whether the kind runs at a time of day (the start-time picker is enabled).
bool ScheduleKindHasStartTime(EScheduleKind eKind);
// The kind that shows a stored trigger of that type.
EScheduleKind ScheduleKindOf(const TASK_TRIGGER& trigger);

// The last day a monthly trigger may name in those months (January = bit 0): 31 when one of them
// has 31 days, else 30 when one has 30, else 29.
WORD LongestMonthDay(WORD wMonths);
// The days-of-week bit of the page's day list, "Monday" (0) .. "Saturday" (5), "Sunday" (6).
WORD DayOfWeekMask(int nIndex);
// The index in that list of a one-bit mask (0 for none).
int DayOfWeekIndex(WORD wMask);

struct SScheduleDate {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDay = 0;
    auto operator<=>(const SScheduleDate&) const = default;
};

// The advanced options: when the trigger begins and ends, and how it repeats within a day.
struct SAdvancedSchedule {
    SScheduleDate begin;
    bool bUntil = false;  // ends on the until date
    SScheduleDate until;
    bool bRepeat = false;
    DWORD dwEvery = 0;    // the repetition interval, in minutes or in hours
    bool bHours = false;
    // The repetition lasts until a time of day ("Time:") or for a duration ("Duration:").
    bool bUntilTime = false;
    WORD wUntilHour = 0;
    WORD wUntilMinute = 0;
    DWORD dwDurationHours = 0;
    DWORD dwDurationMinutes = 0;
    bool bStop = false;   // stop the task when the duration ends

    // Begins on `today`, no end date, no repetition, no stop.
    static SAdvancedSchedule Reset(const SScheduleDate& today);
    // What a stored trigger holds.
    static SAdvancedSchedule FromTrigger(const TASK_TRIGGER& trigger);
    // The repetition interval and duration in minutes, for a trigger that starts at that time.
    DWORD IntervalMinutes() const;
    DWORD DurationMinutes(WORD wStartHour, WORD wStartMinute) const;
    // Empty, or the message that refuses the options.
    std::wstring Validate(WORD wStartHour, WORD wStartMinute) const;
    // Writes the dates, the repetition and their flags into the trigger.
    void Apply(TASK_TRIGGER& trigger) const;
};

// Everything the page holds for one trigger.
struct SScheduleInputs {
    EScheduleKind eKind = EScheduleKind::Daily;
    WORD wStartHour = 0;
    WORD wStartMinute = 0;
    WORD wDaysInterval = 1;
    WORD wWeeksInterval = 1;
    WORD wWeekDays = 0;          // days-of-week mask, Sunday = 1
    bool bMonthDay = true;       // monthly: a day of the month, else a week day of a week
    WORD wMonthDay = 1;
    int nWhichWeek = 0;          // "first" (0) .. "last" (4)
    int nDayOfWeek = 0;          // the page's day list, see DayOfWeekMask
    WORD wMonths = 0xFFF;
    SScheduleDate runOn;         // once
    WORD wIdleMinutes = 10;      // when idle: the task's idle wait
    SAdvancedSchedule advanced;

    // What the page shows for a stored trigger; the fields of other kinds keep their defaults.
    static SScheduleInputs FromTrigger(const TASK_TRIGGER& trigger, WORD wIdleMinutes);
    // Empty, or the message that refuses the inputs (weekly without a day, monthly without a
    // month, or the advanced options' own).
    std::wstring Validate() const;
    // The trigger record, with each number brought within its limits. The idle minutes are not
    // part of it: they belong to the task.
    TASK_TRIGGER Build() const;
};

}  // namespace Branwick
