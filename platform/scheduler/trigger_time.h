// Private to platform/scheduler: when a trigger fires, in the scheduler's own terms and as systemd
// calendar expressions. Both views are built from the same rules so they can be checked against
// each other.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/mstask.h"

namespace Branwick::Platform {

struct CivilDate {
    int y = 1970;
    int m = 1;
    int d = 1;
    auto operator<=>(const CivilDate&) const = default;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool IsValidDate(int year, int month, int day);
long DaysFromCivil(const CivilDate& date);  // 1970-01-01 is 0
CivilDate CivilFromDays(long days);
int Weekday(const CivilDate& date);  // 0 Sunday .. 6 Saturday

CivilDate BeginDate(const TASK_TRIGGER& trigger);
CivilDate EndDate(const TASK_TRIGGER& trigger);  // meaningful with TASK_TRIGGER_FLAG_HAS_END_DATE

// Whether a run window of a time trigger starts on `date` (begin and end dates included).
bool IsRunDate(const TASK_TRIGGER& trigger, const CivilDate& date);

// Minutes after midnight of a run date at which runs start: the start time, then every repetition
// interval while it is shorter than the duration. Stops at `limit` entries.
std::vector<long> RunMinutes(const TASK_TRIGGER& trigger, size_t limit);

// The OnCalendar= expressions of a valid time trigger that systemd can express (empty otherwise).
std::vector<std::string> CalendarExpressions(const TASK_TRIGGER& trigger);

// Latest minute after midnight of its run date at which a trigger's repetition can start a run
// that systemd is asked to reproduce; later ones make the trigger one for the running program.
inline constexpr long kMaxCalendarMinutes = 31L * 1440;

// First year systemd's calendar cannot name.
inline constexpr int kFirstYearBeyondSystemd = 2200;

}  // namespace Branwick::Platform
