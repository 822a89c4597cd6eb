#include "platform/scheduler/trigger_time.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "platform/scheduler/scheduler.h"

namespace Branwick::Platform {
namespace {

constexpr DWORD kAllDays = 0x7FFFFFFFu;  // days 1..31
constexpr WORD kAllMonths = 0xFFF;
constexpr WORD kAllWeekdays = 0x7F;
constexpr long kMinutesPerDay = 1440;

long FloorDiv(long a, long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Weeks are counted from Sunday, the first day of the scheduler's days-of-week mask.
long WeekIndex(const CivilDate& date) {
    return FloorDiv(DaysFromCivil(date) + 4, 7);
}

bool IsTimeKind(const TASK_TRIGGER& t) {
    return t.TriggerType <= TASK_TIME_TRIGGER_MONTHLYDOW;
}

bool HasBit(DWORD mask, int bit) {
    return (mask >> bit) & 1u;
}

WORD RotateWeekdays(WORD mask, long by) {
    WORD rotated = 0;
    for (int day = 0; day < 7; ++day) {
        if (HasBit(mask, day)) {
            rotated |= static_cast<WORD>(1u << ((day + by) % 7));
        }
    }
    return rotated;
}

DWORD DayRange(int first, int last) {
    DWORD mask = 0;
    for (int day = first; day <= last; ++day) {
        mask |= 1u << (day - 1);
    }
    return mask;
}

long LastRunMinute(const TASK_TRIGGER& t) {
    long start = t.wStartHour * 60L + t.wStartMinute;
    if (t.MinutesInterval == 0 || t.MinutesDuration == 0) {
        return start;
    }
    long steps = static_cast<long>((t.MinutesDuration - 1) / t.MinutesInterval);
    return start + steps * static_cast<long>(t.MinutesInterval);
}

int HighestDay(DWORD days) {
    for (int day = 31; day >= 1; --day) {
        if (HasBit(days, day - 1)) {
            return day;
        }
    }
    return 0;
}

// The dates on which runs of one repetition day start, as a calendar pattern that systemd can
// name directly: weekdays (0 = any), months, days of the month, or the last days of the month.
struct DatePattern {
    WORD weekdays = 0;
    WORD months = kAllMonths;
    DWORD days = kAllDays;
    int lastDays = 0;

    bool Matches(const CivilDate& date) const {
        if (weekdays && !HasBit(weekdays, Weekday(date))) {
            return false;
        }
        if (!HasBit(months, date.m - 1) || !HasBit(days, date.d - 1)) {
            return false;
        }
        return lastDays == 0 || date.d > DaysInMonth(date.y, date.m) - lastDays;
    }
};

// The pattern of the run dates of `t` moved `shift` days later (runs of a repetition that went
// past midnight). Only called for triggers that TriggerNeedsCorvane leaves to systemd.
DatePattern ShiftedPattern(const TASK_TRIGGER& t, long shift) {
    DatePattern pattern;
    switch (t.TriggerType) {
        case TASK_TIME_TRIGGER_WEEKLY:
            pattern.weekdays = RotateWeekdays(t.Type.Weekly.rgfDaysOfTheWeek, shift);
            break;
        case TASK_TIME_TRIGGER_MONTHLYDATE:
            pattern.months = t.Type.MonthlyDate.rgfMonths;
            pattern.days = (t.Type.MonthlyDate.rgfDays << shift) & kAllDays;
            break;
        case TASK_TIME_TRIGGER_MONTHLYDOW: {
            const MONTHLYDOW& dow = t.Type.MonthlyDOW;
            pattern.weekdays = RotateWeekdays(dow.rgfDaysOfTheWeek, shift);
            pattern.months = dow.rgfMonths;
            if (dow.wWhichWeek == TASK_LAST_WEEK) {
                pattern.lastDays = 7;
            } else {
                int first = 7 * (dow.wWhichWeek - 1) + 1;
                pattern.days =
                    DayRange(first + static_cast<int>(shift), first + 6 + static_cast<int>(shift));
            }
            break;
        }
        default:
            break;
    }
    return pattern;
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

// "01,03,05..09": runs of three or more consecutive values become ranges.
std::string Compress(const std::vector<int>& values) {
    std::string text;
    for (size_t i = 0; i < values.size();) {
        size_t j = i;
        while (j + 1 < values.size() && values[j + 1] == values[j] + 1) {
            ++j;
        }
        if (!text.empty()) {
            text += ',';
        }
        if (j - i >= 2) {
            text += TwoDigits(values[i]) + ".." + TwoDigits(values[j]);
            i = j + 1;
        } else {
            text += TwoDigits(values[i]);
            ++i;
        }
    }
    return text;
}

std::vector<int> Bits(DWORD mask, int count, int firstValue) {
    std::vector<int> values;
    for (int bit = 0; bit < count; ++bit) {
        if (HasBit(mask, bit)) {
            values.push_back(bit + firstValue);
        }
    }
    return values;
}

std::string WeekdayPrefix(WORD weekdays) {
    static const char* const kNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    if (weekdays == 0 || weekdays == kAllWeekdays) {
        return "";
    }
    std::string text;
    for (int day = 0; day < 7; ++day) {
        if (HasBit(weekdays, day)) {
            text += (text.empty() ? "" : ",") + std::string(kNames[day]);
        }
    }
    return text + " ";
}

std::string DaySpec(const DatePattern& pattern) {
    if (pattern.lastDays) {
        return "~" + TwoDigits(pattern.lastDays) + "/1";
    }
    return pattern.days == kAllDays ? "*" : Compress(Bits(pattern.days, 31, 1));
}

// Months in which at least one day of the pattern exists (29 February counts: leap years have it).
WORD PossibleMonths(const DatePattern& pattern) {
    if (pattern.lastDays) {
        return pattern.months;
    }
    WORD months = 0;
    for (int month = 1; month <= 12; ++month) {
        if (HasBit(pattern.months, month - 1) &&
            (pattern.days & DayRange(1, DaysInMonth(2000, month)))) {
            months |= static_cast<WORD>(1u << (month - 1));
        }
    }
    return months;
}

WORD MonthRange(int first, int last) {
    WORD mask = 0;
    for (int month = first; month <= last; ++month) {
        mask |= static_cast<WORD>(1u << (month - 1));
    }
    return mask;
}

std::string Year(int year) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", year);
    return text;
}

// The calendar date parts (without the time) of the days in [begin, end] that match `pattern`:
// the partial first and last months by their days, the whole months between by pattern.
class DateSpecs {
public:
    explicit DateSpecs(const DatePattern& pattern) : m_pattern(pattern) {}

    std::vector<std::string> For(CivilDate begin, std::optional<CivilDate> end) {
        const CivilDate first{1970, 1, 1};
        const CivilDate last{kFirstYearBeyondSystemd - 1, 12, 31};
        begin = std::max(begin, first);
        if (end && *end > last) {
            end.reset();
        }
        if (begin > last || (end && *end < begin)) {
            return {};
        }
        const bool sameMonth = end && end->y == begin.y && end->m == begin.m;
        int fullY = begin.y, fullM = begin.m;
        if (begin.d > 1 || sameMonth) {
            Days(begin.y, begin.m, begin.d, sameMonth ? end->d : DaysInMonth(begin.y, begin.m));
            if (sameMonth) {
                return m_out;
            }
            NextMonth(fullY, fullM);
        }
        if (!end) {
            OpenMonths(fullY, fullM);
            return m_out;
        }
        int lastY = end->y, lastM = end->m;
        const bool partialEnd = end->d < DaysInMonth(end->y, end->m);
        if (partialEnd) {
            PreviousMonth(lastY, lastM);
        }
        if (fullY * 12 + fullM <= lastY * 12 + lastM) {
            ClosedMonths(fullY, fullM, lastY, lastM);
        }
        if (partialEnd) {
            Days(end->y, end->m, 1, end->d);
        }
        return m_out;
    }

private:
    static void NextMonth(int& y, int& m) {
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    static void PreviousMonth(int& y, int& m) {
        if (--m < 1) {
            m = 12;
            --y;
        }
    }

    void Days(int y, int m, int firstDay, int lastDay) {
        std::vector<int> days;
        for (int d = firstDay; d <= lastDay; ++d) {
            if (m_pattern.Matches({y, m, d})) {
                days.push_back(d);
            }
        }
        if (!days.empty()) {
            m_out.push_back(Year(y) + "-" + TwoDigits(m) + "-" + Compress(days));
        }
    }

    void Months(const std::string& years, WORD range) {
        WORD months = PossibleMonths(m_pattern) & range;
        if (months == 0) {
            return;
        }
        std::string monthSpec = months == kAllMonths ? "*" : Compress(Bits(months, 12, 1));
        // "~" counts days back from the month's end and takes the place of the dash.
        std::string daySpec = DaySpec(m_pattern);
        m_out.push_back(WeekdayPrefix(m_pattern.weekdays) + years + "-" + monthSpec +
                        (daySpec[0] == '~' ? "" : "-") + daySpec);
    }

    void OpenMonths(int y, int m) {
        if (y >= kFirstYearBeyondSystemd) {
            return;
        }
        if (m > 1) {
            Months(Year(y), MonthRange(m, 12));
            ++y;
        }
        if (y < kFirstYearBeyondSystemd) {
            Months(Year(y) + "/1", kAllMonths);
        }
    }

    void ClosedMonths(int y0, int m0, int y1, int m1) {
        if (y0 == y1) {
            Months(Year(y0), MonthRange(m0, m1));
            return;
        }
        if (m0 > 1) {
            Months(Year(y0), MonthRange(m0, 12));
            ++y0;
        }
        const bool partialLastYear = m1 < 12;
        int lastFullYear = partialLastYear ? y1 - 1 : y1;
        if (y0 <= lastFullYear) {
            Months(y0 == lastFullYear ? Year(y0) : Year(y0) + ".." + Year(lastFullYear),
                   kAllMonths);
        }
        if (partialLastYear) {
            Months(Year(y1), MonthRange(1, m1));
        }
    }

    DatePattern m_pattern;
    std::vector<std::string> m_out;
};

// "09,10:00,30:00": the times of one day, hours that share their minutes grouped together.
std::vector<std::string> TimeSpecs(const std::set<int>& minutesOfDay) {
    std::vector<std::vector<int>> minutesByHour(24);
    for (int minute : minutesOfDay) {
        minutesByHour[minute / 60].push_back(minute % 60);
    }
    std::vector<std::string> specs;
    std::vector<bool> done(24, false);
    for (int hour = 0; hour < 24; ++hour) {
        if (done[hour] || minutesByHour[hour].empty()) {
            continue;
        }
        std::vector<int> hours;
        for (int other = hour; other < 24; ++other) {
            if (!done[other] && minutesByHour[other] == minutesByHour[hour]) {
                hours.push_back(other);
                done[other] = true;
            }
        }
        specs.push_back(Compress(hours) + ":" + Compress(minutesByHour[hour]) + ":00");
    }
    return specs;
}

CivilDate AddDays(const CivilDate& date, long days) {
    return CivilFromDays(DaysFromCivil(date) + days);
}

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1601 && year <= 30827 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(const CivilDate& date) {
    const long y = date.y - (date.m <= 2);
    const long era = FloorDiv(y, 400);
    const long yoe = y - era * 400;
    const long doy = (153 * (date.m + (date.m > 2 ? -3 : 9)) + 2) / 5 + date.d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(long days) {
    days += 719468;
    const long era = FloorDiv(days, 146097);
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {static_cast<int>(yoe + era * 400 + (m <= 2)), m, d};
}

int Weekday(const CivilDate& date) {
    return static_cast<int>(((DaysFromCivil(date) % 7) + 11) % 7);
}

CivilDate BeginDate(const TASK_TRIGGER& t) {
    return {t.wBeginYear, t.wBeginMonth, t.wBeginDay};
}
CivilDate EndDate(const TASK_TRIGGER& t) {
    return {t.wEndYear, t.wEndMonth, t.wEndDay};
}

bool IsRunDate(const TASK_TRIGGER& t, const CivilDate& date) {
    if (!IsTimeKind(t) || (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED)) {
        return false;
    }
    const CivilDate begin = BeginDate(t);
    if (date < begin || ((t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) && date > EndDate(t))) {
        return false;
    }
    switch (t.TriggerType) {
        case TASK_TIME_TRIGGER_ONCE:
            return date == begin;
        case TASK_TIME_TRIGGER_DAILY:
            return t.Type.Daily.DaysInterval &&
                   (DaysFromCivil(date) - DaysFromCivil(begin)) % t.Type.Daily.DaysInterval == 0;
        case TASK_TIME_TRIGGER_WEEKLY:
            return t.Type.Weekly.WeeksInterval &&
                   HasBit(t.Type.Weekly.rgfDaysOfTheWeek, Weekday(date)) &&
                   (WeekIndex(date) - WeekIndex(begin)) % t.Type.Weekly.WeeksInterval == 0;
        default:
            return ShiftedPattern(t, 0).Matches(date);
    }
}

std::vector<long> RunMinutes(const TASK_TRIGGER& t, size_t limit) {
    std::vector<long> minutes;
    const long start = t.wStartHour * 60L + t.wStartMinute;
    if (t.MinutesInterval == 0) {
        minutes.push_back(start);
        return minutes;
    }
    for (DWORD offset = 0; offset < t.MinutesDuration && minutes.size() < limit;
         offset += t.MinutesInterval) {
        minutes.push_back(start + static_cast<long>(offset));
        if (offset > UINT32_MAX - t.MinutesInterval) {
            break;
        }
    }
    return minutes;
}

bool TriggerNeedsCorvane(const TASK_TRIGGER& t) {
    if (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) {
        return false;
    }
    switch (t.TriggerType) {
        case TASK_EVENT_TRIGGER_ON_IDLE:
            return true;
        case TASK_EVENT_TRIGGER_AT_SYSTEMSTART:
        case TASK_EVENT_TRIGGER_AT_LOGON:
            return false;
        case TASK_TIME_TRIGGER_DAILY:
            if (t.Type.Daily.DaysInterval > 1) {
                return true;
            }
            break;
        case TASK_TIME_TRIGGER_WEEKLY:
            if (t.Type.Weekly.WeeksInterval > 1) {
                return true;
            }
            break;
        default:
            break;
    }
    if (t.wBeginYear >= kFirstYearBeyondSystemd) {
        return true;
    }
    const long lastMinute = LastRunMinute(t);
    if (lastMinute > kMaxCalendarMinutes) {
        return true;
    }
    const long lastShift = lastMinute / kMinutesPerDay;
    if (lastShift == 0) {
        return false;
    }
    // Runs that spill into later days stay countable by the calendar only while those days are
    // in the same month in every month, that is up to the 28th.
    if (t.TriggerType == TASK_TIME_TRIGGER_MONTHLYDATE) {
        return HighestDay(t.Type.MonthlyDate.rgfDays) + lastShift > 28;
    }
    if (t.TriggerType == TASK_TIME_TRIGGER_MONTHLYDOW) {
        return t.Type.MonthlyDOW.wWhichWeek == TASK_LAST_WEEK ||
               7 * t.Type.MonthlyDOW.wWhichWeek + lastShift > 28;
    }
    return false;
}

std::vector<std::string> CalendarExpressions(const TASK_TRIGGER& t) {
    if (!IsTimeKind(t) || ValidateTrigger(t) != S_OK || (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED) ||
        TriggerNeedsCorvane(t)) {
        return {};
    }
    // Minutes of each day (0 = the run date itself, 1 = the day after, ...) at which runs start.
    std::vector<std::set<int>> minutesByShift;
    for (long minute : RunMinutes(t, static_cast<size_t>(kMaxCalendarMinutes) + 1)) {
        size_t shift = static_cast<size_t>(minute / kMinutesPerDay);
        if (minutesByShift.size() <= shift) {
            minutesByShift.resize(shift + 1);
        }
        minutesByShift[shift].insert(static_cast<int>(minute % kMinutesPerDay));
    }
    const CivilDate begin = BeginDate(t);
    std::optional<CivilDate> end;
    if ((t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE) && t.TriggerType != TASK_TIME_TRIGGER_ONCE) {
        end = EndDate(t);
    }
    std::vector<std::string> expressions;
    for (size_t shift = 0; shift < minutesByShift.size(); ++shift) {
        if (minutesByShift[shift].empty()) {
            continue;
        }
        const long days = static_cast<long>(shift);
        std::vector<std::string> dates;
        if (t.TriggerType == TASK_TIME_TRIGGER_ONCE) {
            CivilDate date = AddDays(begin, days);
            dates = DateSpecs(DatePattern{}).For(date, date);
        } else {
            std::optional<CivilDate> shiftedEnd;
            if (end) {
                shiftedEnd = AddDays(*end, days);
            }
            dates = DateSpecs(ShiftedPattern(t, days)).For(AddDays(begin, days), shiftedEnd);
        }
        for (const std::string& time : TimeSpecs(minutesByShift[shift])) {
            for (const std::string& date : dates) {
                expressions.push_back(date + " " + time);
            }
        }
    }
    return expressions;
}

}  // namespace Branwick::Platform
