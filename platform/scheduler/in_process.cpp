// The triggers that systemd cannot run for us are checked by the running program.
#include <algorithm>

#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/trigger_time.h"

namespace Branwick::Platform {
namespace {

// Runs started before `from` by a repetition can only be this many days old.
constexpr long kLookBackDays = 400;

std::time_t LocalTime(const CivilDate& date, long minuteOfDay) {
    std::tm tm{};
    tm.tm_year = date.y - 1900;
    tm.tm_mon = date.m - 1;
    tm.tm_mday = date.d;
    tm.tm_min = static_cast<int>(minuteOfDay);
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

CivilDate LocalDate(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// Whether a run of the window that starts on `date` falls in (from, to]. Repetitions count
// elapsed minutes from the first run, as the scheduler does.
bool WindowRunsIn(const TASK_TRIGGER& t, const CivilDate& date, std::time_t from, std::time_t to) {
    const std::time_t first = LocalTime(date, t.wStartHour * 60L + t.wStartMinute);
    if (first > to) {
        return false;
    }
    if (first > from) {
        return true;
    }
    if (t.MinutesInterval == 0) {
        return false;
    }
    const long long step = 60LL * t.MinutesInterval;
    const long long next = (static_cast<long long>(from - first) / step + 1);
    return next * t.MinutesInterval < t.MinutesDuration && first + next * step <= to;
}

bool TimeTriggerRunsIn(const TASK_TRIGGER& t, std::time_t from, std::time_t to) {
    const long lastDay = DaysFromCivil(LocalDate(to));
    long firstDay = DaysFromCivil(LocalDate(from));
    firstDay -= std::min<long>(kLookBackDays, t.MinutesDuration / 1440 + 1);
    firstDay = std::max(firstDay, lastDay - 2 * kLookBackDays);
    for (long day = firstDay; day <= lastDay; ++day) {
        const CivilDate date = CivilFromDays(day);
        if (IsRunDate(t, date) && WindowRunsIn(t, date, from, to)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsDueInProcess(const CScheduledJob& job, std::time_t from, std::time_t to,
                    std::optional<std::time_t> idleSince) {
    for (const TASK_TRIGGER& t : job.m_vcTriggers) {
        if (ValidateTrigger(t) != S_OK || !TriggerNeedsCorvane(t)) {
            continue;
        }
        if (t.TriggerType == TASK_EVENT_TRIGGER_ON_IDLE) {
            if (idleSince) {
                const std::time_t due = *idleSince + 60L * job.m_wIdleMinutes;
                if (due > from && due <= to) {
                    return true;
                }
            }
        } else if (TimeTriggerRunsIn(t, from, to)) {
            return true;
        }
    }
    return false;
}

}  // namespace Branwick::Platform
