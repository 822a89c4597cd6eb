// corvane-cli schedule: the triggers of the program's scheduled scan.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Schedule/ScheduleForm.h"
#include "app/cli/Commands.h"
#include "core/Exceptions.h"
#include "core/Text.h"

namespace Branwick::Cli {

namespace {

void ParseTime(const std::string& strTime, TASK_TRIGGER& trigger) {
    unsigned nHour = 0, nMinute = 0;
    char cEnd = 0;
    if (std::sscanf(strTime.c_str(), "%u:%u%c", &nHour, &nMinute, &cEnd) != 2 || nHour > 23 ||
        nMinute > 59) {
        throw std::invalid_argument("'" + strTime + "' is not a time like 14:30.");
    }
    trigger.wStartHour = static_cast<WORD>(nHour);
    trigger.wStartMinute = static_cast<WORD>(nMinute);
}

// A trigger that starts today.
TASK_TRIGGER NewTrigger(TASK_TRIGGER_TYPE eType) {
    TASK_TRIGGER trigger{};
    trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
    trigger.TriggerType = eType;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    trigger.wBeginYear = static_cast<WORD>(local.tm_year + 1900);
    trigger.wBeginMonth = static_cast<WORD>(local.tm_mon + 1);
    trigger.wBeginDay = static_cast<WORD>(local.tm_mday);
    return trigger;
}

// A comma-separated list of names (or "all") as a mask: names[i] is bit i.
WORD ParseMask(const std::string& strList, const char* const* names, int nCount, const char* pszWhat) {
    if (strList == "all") {
        return static_cast<WORD>((1u << nCount) - 1);
    }
    WORD wMask = 0;
    for (const std::string& strName : SplitCommaList(strList)) {
        WORD wBit = 0;
        for (int i = 0; i < nCount; ++i) {
            if (strName == names[i]) {
                wBit = static_cast<WORD>(1u << i);
            }
        }
        if (wBit == 0) {
            throw std::invalid_argument("'" + strName + "' is not " + pszWhat + ".");
        }
        wMask |= wBit;
    }
    return wMask;
}

WORD ParseDays(const std::string& strDays) {
    static const char* const kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    return ParseMask(strDays, kDays, 7, "a day (mon, tue, ... sun, or all)");
}

WORD ParseMonths(const std::string& strMonths) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    return ParseMask(strMonths, kMonths, 12, "a month (jan, feb, ... dec, or all)");
}

// Days of the month like 1,15,31; each must occur in at least one of the months, or the
// trigger would never fire on it.
DWORD ParseMonthDays(const std::string& strDays, WORD wMonths) {
    const unsigned nLongest = LongestMonthDay(wMonths);
    DWORD dwDays = 0;
    for (const std::string& strDay : SplitCommaList(strDays)) {
        unsigned nDay = 0;
        char cEnd = 0;
        if (std::sscanf(strDay.c_str(), "%u%c", &nDay, &cEnd) != 1 || nDay < 1 || nDay > nLongest) {
            throw std::invalid_argument("'" + strDay + "' is not a day of the month (1 to " +
                                        std::to_string(nLongest) + " in those months).");
        }
        dwDays |= 1u << (nDay - 1);
    }
    return dwDays;
}

WORD ParseWhichWeek(const std::string& strWeek) {
    static const char* const kWeeks[] = {"first", "second", "third", "fourth", "last"};
    for (WORD w = 0; w < 5; ++w) {
        if (strWeek == kWeeks[w]) {
            return static_cast<WORD>(TASK_FIRST_WEEK + w);
        }
    }
    throw std::invalid_argument("'" + strWeek + "' is not a week (first, second, third, fourth, last).");
}

WORD ParseIdleMinutes(const std::string& strMinutes) {
    unsigned nMinutes = 0;
    char cEnd = 0;
    if (std::sscanf(strMinutes.c_str(), "%u%c", &nMinutes, &cEnd) != 1 || nMinutes < 1 ||
        nMinutes > 999) {
        throw std::invalid_argument("'" + strMinutes + "' is not a number of minutes from 1 to 999.");
    }
    return static_cast<WORD>(nMinutes);
}

TASK_TRIGGER ParseTrigger(const std::vector<std::string>& w) {
    const std::string strKind = w.size() > 1 ? w[1] : "";
    if (strKind == "daily" && w.size() == 3) {
        TASK_TRIGGER trigger = NewTrigger(TASK_TIME_TRIGGER_DAILY);
        trigger.Type.Daily.DaysInterval = 1;
        ParseTime(w[2], trigger);
        return trigger;
    }
    if (strKind == "weekly" && w.size() == 4) {
        TASK_TRIGGER trigger = NewTrigger(TASK_TIME_TRIGGER_WEEKLY);
        trigger.Type.Weekly.WeeksInterval = 1;
        trigger.Type.Weekly.rgfDaysOfTheWeek = ParseDays(w[2]);
        ParseTime(w[3], trigger);
        return trigger;
    }
    if (strKind == "monthly" && w.size() == 5) {
        TASK_TRIGGER trigger = NewTrigger(TASK_TIME_TRIGGER_MONTHLYDATE);
        trigger.Type.MonthlyDate.rgfMonths = ParseMonths(w[3]);
        trigger.Type.MonthlyDate.rgfDays = ParseMonthDays(w[2], trigger.Type.MonthlyDate.rgfMonths);
        ParseTime(w[4], trigger);
        return trigger;
    }
    if (strKind == "monthly" && w.size() == 6) {
        TASK_TRIGGER trigger = NewTrigger(TASK_TIME_TRIGGER_MONTHLYDOW);
        trigger.Type.MonthlyDOW.wWhichWeek = ParseWhichWeek(w[2]);
        trigger.Type.MonthlyDOW.rgfDaysOfTheWeek = ParseDays(w[3]);
        trigger.Type.MonthlyDOW.rgfMonths = ParseMonths(w[4]);
        ParseTime(w[5], trigger);
        return trigger;
    }
    if (strKind == "once" && w.size() == 4) {
        TASK_TRIGGER trigger = NewTrigger(TASK_TIME_TRIGGER_ONCE);
        unsigned nYear = 0, nMonth = 0, nDay = 0;
        char cEnd = 0;
        if (std::sscanf(w[2].c_str(), "%u-%u-%u%c", &nYear, &nMonth, &nDay, &cEnd) != 3 ||
            nYear < 1601 || nYear > 9999 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31) {
            throw std::invalid_argument("'" + w[2] + "' is not a date like 2025-06-30.");
        }
        trigger.wBeginYear = static_cast<WORD>(nYear);
        trigger.wBeginMonth = static_cast<WORD>(nMonth);
        trigger.wBeginDay = static_cast<WORD>(nDay);
        ParseTime(w[3], trigger);
        return trigger;
    }
    if (strKind == "idle" && (w.size() == 2 || w.size() == 3)) {
        return NewTrigger(TASK_EVENT_TRIGGER_ON_IDLE);
    }
    if (strKind == "startup" && w.size() == 2) {
        return NewTrigger(TASK_EVENT_TRIGGER_AT_SYSTEMSTART);
    }
    if (strKind == "logon" && w.size() == 2) {
        return NewTrigger(TASK_EVENT_TRIGGER_AT_LOGON);
    }
    throw std::invalid_argument(
        "schedule add takes once DATE TIME, daily TIME, weekly DAYS TIME, monthly DAYS MONTHS "
        "TIME, monthly WEEK DAYS MONTHS TIME, idle [MINUTES], startup or logon.");
}

void SetIdleWait(CSettings& settings, WORD wMinutes) {
    try {
        settings.SetIdleWait(wMinutes, 0);
    } catch (const CBranwickException& e) {
        throw std::runtime_error("The idle time could not be set: " + WideToUtf8(e.GetMessage()));
    }
}

std::string Help() {
    return R"(Usage: corvane-cli [TARGET] schedule list|add KIND ...|delete N

  list                       the triggers of the scheduled scan, numbered
  add once YYYY-MM-DD HH:MM  a scan on that day at that time
  add daily HH:MM            a scan every day at that time
  add weekly DAYS HH:MM      a scan on those days of every week at that time
  add monthly MDAYS MONTHS HH:MM
                             a scan on those days of those months at that time
  add monthly WEEK DAYS MONTHS HH:MM
                             a scan on that week's days of those months at that time,
                             e.g. monthly last fri all 18:00
  add idle [MINUTES]         a scan when the computer has been idle that long (1 to 999;
                             the idle time is the task's, shared by its idle triggers and
                             kept when MINUTES is left out); checked only while Corvane runs
  add startup                a scan at every system start
  add logon                  a scan at every log-on
  delete N                   removes trigger N

  DAYS     mon,tue,wed,thu,fri,sat,sun or all
  MDAYS    days of the month, e.g. 1,15 (each must occur in one of the months)
  MONTHS   jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec or all
  WEEK     first, second, third, fourth or last
  Each trigger begins today.
)";
}

int Run(CInvocation& invocation) {
    invocation.CheckOptions(false);
    const std::vector<std::string>& vcWords = invocation.Args().vcWords;
    CSettings& settings = invocation.Core().Settings();
    const std::string strVerb = vcWords.empty() ? "" : vcWords[0];
    if (strVerb == "list" && vcWords.size() == 1) {
        const auto nCount = static_cast<WORD>(settings.GetTriggers().size());
        for (WORD w = 0; w < nCount; ++w) {
            std::cout << (w + 1) << ". " << WideToUtf8(settings.GetTriggerInfo(w)) << "\n";
        }
        return 0;
    }
    if (strVerb == "add") {
        const TASK_TRIGGER trigger = ParseTrigger(vcWords);
        if (trigger.TriggerType == TASK_EVENT_TRIGGER_ON_IDLE && vcWords.size() == 3) {
            // The idle time belongs to the task: every idle trigger waits for the same.
            SetIdleWait(settings, ParseIdleMinutes(vcWords[2]));
        }
        WORD wIndex = 0xFFFF;
        {
            SQuietBoxes quiet;
            wIndex = settings.AddTrigger(trigger);
        }
        if (wIndex == 0xFFFF) {
            throw std::runtime_error("The trigger could not be added to the scheduled task.");
        }
        if (!settings.LastError().empty()) {
            throw std::runtime_error(WideToUtf8(settings.LastError()));
        }
        std::cout << (wIndex + 1) << ". " << WideToUtf8(settings.GetTriggerInfo(wIndex)) << "\n";
        return 0;
    }
    if (strVerb == "delete" && vcWords.size() == 2) {
        unsigned nIndex = 0;
        char cEnd = 0;
        if (std::sscanf(vcWords[1].c_str(), "%u%c", &nIndex, &cEnd) != 1 || nIndex == 0) {
            throw std::invalid_argument("'" + vcWords[1] + "' is not a trigger number.");
        }
        if (nIndex > settings.GetTriggers().size()) {
            throw std::runtime_error("There is no trigger " + vcWords[1] + ".");
        }
        try {
            SQuietBoxes quiet;
            settings.DelTriggerAt(static_cast<WORD>(nIndex - 1));
        } catch (const CBranwickException& e) {
            throw std::runtime_error("The trigger could not be removed: " + WideToUtf8(e.GetMessage()));
        }
        if (!settings.LastError().empty()) {
            throw std::runtime_error(WideToUtf8(settings.LastError()));
        }
        return 0;
    }
    throw std::invalid_argument("schedule takes list, add KIND ... or delete N.");
}

}  // namespace

const SCommand kScheduleCommand = {"schedule", "list or change the times of unattended scans",
                                   &Help, {}, true, true, &Run};

}  // namespace Branwick::Cli
