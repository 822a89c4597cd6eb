// Test support: trigger records for the tests of the scheduler and of the scheduled task.
#pragma once

#include "platform/scheduler/trigger_time.h"
#include "platform/win32/mstask.h"

namespace Branwick::Testing {

inline TASK_TRIGGER MakeTrigger(TASK_TRIGGER_TYPE type, Platform::CivilDate begin, WORD hour = 9,
                                WORD minute = 0) {
    TASK_TRIGGER t{};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    t.TriggerType = type;
    t.wBeginYear = static_cast<WORD>(begin.y);
    t.wBeginMonth = static_cast<WORD>(begin.m);
    t.wBeginDay = static_cast<WORD>(begin.d);
    t.wStartHour = hour;
    t.wStartMinute = minute;
    return t;
}

inline TASK_TRIGGER Daily(Platform::CivilDate begin, WORD every = 1, WORD hour = 9,
                          WORD minute = 0) {
    TASK_TRIGGER t = MakeTrigger(TASK_TIME_TRIGGER_DAILY, begin, hour, minute);
    t.Type.Daily.DaysInterval = every;
    return t;
}

inline TASK_TRIGGER Weekly(Platform::CivilDate begin, WORD days, WORD every = 1, WORD hour = 9) {
    TASK_TRIGGER t = MakeTrigger(TASK_TIME_TRIGGER_WEEKLY, begin, hour);
    t.Type.Weekly.WeeksInterval = every;
    t.Type.Weekly.rgfDaysOfTheWeek = days;
    return t;
}

inline TASK_TRIGGER MonthlyDate(Platform::CivilDate begin, DWORD days, WORD months = 0xFFF,
                                WORD hour = 9) {
    TASK_TRIGGER t = MakeTrigger(TASK_TIME_TRIGGER_MONTHLYDATE, begin, hour);
    t.Type.MonthlyDate.rgfDays = days;
    t.Type.MonthlyDate.rgfMonths = months;
    return t;
}

inline TASK_TRIGGER MonthlyDow(Platform::CivilDate begin, WORD week, WORD day, WORD months = 0xFFF,
                               WORD hour = 9) {
    TASK_TRIGGER t = MakeTrigger(TASK_TIME_TRIGGER_MONTHLYDOW, begin, hour);
    t.Type.MonthlyDOW.wWhichWeek = week;
    t.Type.MonthlyDOW.rgfDaysOfTheWeek = day;
    t.Type.MonthlyDOW.rgfMonths = months;
    return t;
}

inline TASK_TRIGGER WithEnd(TASK_TRIGGER t, Platform::CivilDate end) {
    t.wEndYear = static_cast<WORD>(end.y);
    t.wEndMonth = static_cast<WORD>(end.m);
    t.wEndDay = static_cast<WORD>(end.d);
    t.rgFlags |= TASK_TRIGGER_FLAG_HAS_END_DATE;
    return t;
}

inline TASK_TRIGGER WithRepeat(TASK_TRIGGER t, DWORD interval, DWORD duration) {
    t.MinutesInterval = interval;
    t.MinutesDuration = duration;
    return t;
}

}  // namespace Branwick::Testing
