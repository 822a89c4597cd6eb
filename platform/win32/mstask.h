// The Task Scheduler 1.0 vocabulary: the trigger record with its exact 48-byte layout, its kinds
// and flag bits, the work-item flags and the scheduler's result codes. The settings store keeps
// these records in its file and the task wrapper hands them to the scheduler, so both share this
// one definition. Plain declarations only; no behaviour lives here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32/win32.h"

namespace Branwick {

enum TASK_TRIGGER_TYPE : std::int32_t {
    TASK_TIME_TRIGGER_ONCE = 0,
    TASK_TIME_TRIGGER_DAILY = 1,
    TASK_TIME_TRIGGER_WEEKLY = 2,
    TASK_TIME_TRIGGER_MONTHLYDATE = 3,
    TASK_TIME_TRIGGER_MONTHLYDOW = 4,
    TASK_EVENT_TRIGGER_ON_IDLE = 5,
    TASK_EVENT_TRIGGER_AT_SYSTEMSTART = 6,
    TASK_EVENT_TRIGGER_AT_LOGON = 7,
};

struct DAILY {
    WORD DaysInterval;
};

struct WEEKLY {
    WORD WeeksInterval;
    WORD rgfDaysOfTheWeek;
};

struct MONTHLYDATE {
    DWORD rgfDays;  // bit 0 = day 1 .. bit 30 = day 31
    WORD rgfMonths;
};

struct MONTHLYDOW {
    WORD wWhichWeek;  // TASK_FIRST_WEEK .. TASK_LAST_WEEK
    WORD rgfDaysOfTheWeek;
    WORD rgfMonths;
};

union TRIGGER_TYPE_UNION {
    DAILY Daily;
    WEEKLY Weekly;
    MONTHLYDATE MonthlyDate;
    MONTHLYDOW MonthlyDOW;
};

struct TASK_TRIGGER {
    WORD cbTriggerSize;
    WORD Reserved1;
    WORD wBeginYear;
    WORD wBeginMonth;
    WORD wBeginDay;
    WORD wEndYear;
    WORD wEndMonth;
    WORD wEndDay;
    WORD wStartHour;
    WORD wStartMinute;
    DWORD MinutesDuration;
    DWORD MinutesInterval;
    DWORD rgFlags;
    TASK_TRIGGER_TYPE TriggerType;
    TRIGGER_TYPE_UNION Type;
    WORD Reserved2;
    WORD wRandomMinutesInterval;
};

static_assert(sizeof(TASK_TRIGGER) == 48);
static_assert(offsetof(TASK_TRIGGER, MinutesDuration) == 20);
static_assert(offsetof(TASK_TRIGGER, TriggerType) == 32);
static_assert(offsetof(TASK_TRIGGER, Type) == 36);
static_assert(offsetof(TASK_TRIGGER, Reserved2) == 44);

// rgFlags
inline constexpr DWORD TASK_TRIGGER_FLAG_HAS_END_DATE = 0x1;
inline constexpr DWORD TASK_TRIGGER_FLAG_KILL_AT_DURATION_END = 0x2;
inline constexpr DWORD TASK_TRIGGER_FLAG_DISABLED = 0x4;

// Days-of-week mask
inline constexpr WORD TASK_SUNDAY = 0x1;
inline constexpr WORD TASK_MONDAY = 0x2;
inline constexpr WORD TASK_TUESDAY = 0x4;
inline constexpr WORD TASK_WEDNESDAY = 0x8;
inline constexpr WORD TASK_THURSDAY = 0x10;
inline constexpr WORD TASK_FRIDAY = 0x20;
inline constexpr WORD TASK_SATURDAY = 0x40;

// Months mask: January is bit 0, December bit 11.
inline constexpr WORD TASK_JANUARY = 0x1;
inline constexpr WORD TASK_DECEMBER = 0x800;

// wWhichWeek
inline constexpr WORD TASK_FIRST_WEEK = 1;
inline constexpr WORD TASK_FOURTH_WEEK = 4;
inline constexpr WORD TASK_LAST_WEEK = 5;

// Work-item flags and the priority class the program gives its task.
inline constexpr DWORD TASK_FLAG_RUN_ONLY_IF_LOGGED_ON = 0x2000;
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;

inline constexpr HRESULT SCHED_E_TRIGGER_NOT_FOUND = static_cast<HRESULT>(0x80041309u);
inline constexpr HRESULT SCHED_E_SERVICE_NOT_RUNNING = static_cast<HRESULT>(0x80041315u);

}  // namespace Branwick
