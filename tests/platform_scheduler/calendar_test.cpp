// Every calendar expression the scheduler gives systemd is checked with systemd's own parser
// (systemd-analyze works without a running systemd), and the times systemd computes from it are
// compared with the scheduler's own reading of the trigger.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/system.h"
#include "platform/scheduler/trigger_time.h"
#include "tests/support/triggers.h"

namespace Branwick::Testing {
namespace {

using Platform::CivilDate;
using Platform::DaysFromCivil;

constexpr int kIterations = 60;

long Minutes(const CivilDate& date, long minuteOfDay) {
    return DaysFromCivil(date) * 1440 + minuteOfDay;
}

struct Elapses {
    std::vector<long> minutes;  // minutes since 1970, UTC
    bool complete = false;      // systemd gave every iteration asked for
};

// Asks systemd-analyze for the next elapses of `expression` after `base`; fails the test when
// systemd rejects the expression or says it never elapses.
Elapses Analyze(const std::string& expression, const CivilDate& base) {
    char baseTime[64];
    std::snprintf(baseTime, sizeof baseTime, "--base-time=%04d-%02d-%02d 00:00:00 UTC", base.y,
                  base.m, base.d);
    std::string output;
    int status =
        Platform::RunProgram({"systemd-analyze", "calendar",
                              "--iterations=" + std::to_string(kIterations), baseTime, expression},
                             &output);
    EXPECT_EQ(status, 0) << "systemd rejects \"" << expression << "\"";
    EXPECT_EQ(output.find("never"), std::string::npos)
        << "\"" << expression << "\" never elapses:\n"
        << output;
    Elapses result;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        size_t label = line.find("Next elapse: ");
        if (label == std::string::npos) {
            label = line.find("Iter. #");
        }
        if (label == std::string::npos) {
            continue;
        }
        CivilDate date;
        int hour = 0, minute = 0;
        const char* text = line.c_str() + line.find(": ", label) + 2;
        if (std::sscanf(text, "%*s %d-%d-%d %d:%d:00", &date.y, &date.m, &date.d, &hour, &minute) ==
            5) {
            result.minutes.push_back(Minutes(date, hour * 60 + minute));
        }
    }
    EXPECT_FALSE(result.minutes.empty()) << output;
    result.complete = result.minutes.size() == static_cast<size_t>(kIterations);
    return result;
}

// Run times of the trigger by the scheduler's own rules, between two instants (minutes).
std::set<long> OwnRuns(const TASK_TRIGGER& t, long from, long to) {
    std::set<long> runs;
    const std::vector<long> offsets = Platform::RunMinutes(t, 100000);
    for (long day = from / 1440 - 40; day <= to / 1440; ++day) {
        if (!Platform::IsRunDate(t, Platform::CivilFromDays(day))) {
            continue;
        }
        for (long offset : offsets) {
            long when = day * 1440 + offset;
            if (when >= from && when <= to) {
                runs.insert(when);
            }
        }
    }
    return runs;
}

void ExpectSystemdAgrees(const TASK_TRIGGER& t, const CivilDate& base) {
    const std::vector<std::string> expressions = Platform::CalendarExpressions(t);
    ASSERT_FALSE(expressions.empty());
    const long from = Minutes(base, 0);
    long horizon = from + 4L * 366 * 1440;
    std::set<long> systemdRuns;
    std::vector<Elapses> all;
    for (const std::string& expression : expressions) {
        all.push_back(Analyze(expression, base));
        if (all.back().complete) {
            horizon = std::min(horizon, all.back().minutes.back());
        }
    }
    for (const Elapses& elapses : all) {
        for (long minute : elapses.minutes) {
            if (minute <= horizon) {
                systemdRuns.insert(minute);
            }
        }
    }
    std::set<long> ownRuns = OwnRuns(t, from, horizon);
    EXPECT_FALSE(ownRuns.empty());
    EXPECT_EQ(systemdRuns, ownRuns) << "expressions:\n"
                                    << [&] {
                                           std::string text;
                                           for (const std::string& e : expressions) {
                                               text += "  " + e + "\n";
                                           }
                                           return text;
                                       }();
}

class CalendarTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

TEST_F(CalendarTest, EveryTimeKindAgreesWithSystemd) {
    struct Case {
        const char* name;
        TASK_TRIGGER trigger;
        CivilDate base;
    };
    const CivilDate dec5{2026, 12, 5};
    const Case cases[] = {
        {"once", MakeTrigger(TASK_TIME_TRIGGER_ONCE, {2027, 3, 14}, 9, 30), dec5},
        {"daily from a begin date", Daily({2026, 12, 6}), {2026, 12, 1}},
        {"daily until a mid-month date", WithEnd(Daily({2026, 12, 6}), {2027, 2, 10}), dec5},
        {"daily within one month", WithEnd(Daily({2026, 12, 6}, 1, 7, 15), {2026, 12, 20}), dec5},
        {"daily until a month's last day", WithEnd(Daily({2026, 12, 1}), {2027, 1, 31}), dec5},
        {"daily over years", WithEnd(Daily({2026, 12, 6}, 1, 23, 59), {2029, 3, 3}), dec5},
        {"daily begun long ago", Daily({2020, 5, 17}), {2020, 5, 1}},
        {"weekly Monday and Wednesday", Weekly({2026, 12, 6}, TASK_MONDAY | TASK_WEDNESDAY), dec5},
        {"weekly Sunday until", WithEnd(Weekly({2026, 12, 9}, TASK_SUNDAY), {2027, 1, 17}), dec5},
        {"monthly on the 15th", MonthlyDate({2026, 12, 6}, 1u << 14), dec5},
        {"monthly on the 31st of some months", MonthlyDate({2026, 12, 20}, 1u << 30, 0x249), dec5},
        {"monthly on 29 February", MonthlyDate({2026, 12, 6}, 1u << 28, 0x2), dec5},
        {"monthly on the 1st and 15th", MonthlyDate({2026, 12, 6}, 1u | 1u << 14, 0x0F0), dec5},
        {"first Monday", MonthlyDow({2026, 12, 6}, TASK_FIRST_WEEK, TASK_MONDAY), dec5},
        {"last Friday", MonthlyDow({2026, 12, 6}, TASK_LAST_WEEK, TASK_FRIDAY), dec5},
        {"fourth Sunday of March and September until",
         WithEnd(MonthlyDow({2026, 12, 6}, TASK_FOURTH_WEEK, TASK_SUNDAY, 0x104), {2030, 3, 20}),
         dec5},
        {"last Saturday in the begin month",
         MonthlyDow({2026, 12, 27}, TASK_LAST_WEEK, TASK_SATURDAY), dec5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Platform::ValidateTrigger(c.trigger), S_OK);
        ASSERT_FALSE(Platform::TriggerNeedsCorvane(c.trigger));
        ExpectSystemdAgrees(c.trigger, c.base);
    }
}

TEST_F(CalendarTest, RepetitionsAgreeWithSystemdAlsoPastMidnight) {
    struct Case {
        const char* name;
        TASK_TRIGGER trigger;
    };
    const Case cases[] = {
        {"daily every 30 minutes for 4 hours", WithRepeat(Daily({2026, 12, 6}), 30, 240)},
        {"daily every 45 minutes over midnight until",
         WithRepeat(WithEnd(Daily({2026, 12, 6}, 1, 22, 30), {2027, 1, 3}), 45, 300)},
        {"once over midnight",
         WithRepeat(MakeTrigger(TASK_TIME_TRIGGER_ONCE, {2026, 12, 31}, 23, 0), 30, 120)},
        {"weekly Saturday over midnight",
         WithRepeat(Weekly({2026, 12, 9}, TASK_SATURDAY, 1, 23), 20, 90)},
        {"monthly on the 10th over two midnights",
         WithRepeat(MonthlyDate({2026, 12, 6}, 1u << 9, 0xFFF, 20), 600, 3000)},
        {"second Tuesday over midnight",
         WithRepeat(MonthlyDow({2026, 12, 6}, 2, TASK_TUESDAY, 0xFFF, 23), 40, 100)},
        {"every minute for an hour", WithRepeat(Daily({2026, 12, 6}, 1, 12, 0), 1, 60)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Platform::ValidateTrigger(c.trigger), S_OK);
        ASSERT_FALSE(Platform::TriggerNeedsCorvane(c.trigger));
        ExpectSystemdAgrees(c.trigger, {2026, 12, 5});
    }
}

TEST_F(CalendarTest, KindsSystemdCannotCountAreLeftToCorvane) {
    TASK_TRIGGER idle = MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, {2026, 12, 6});
    const TASK_TRIGGER needsCorvane[] = {
        idle,
        Daily({2026, 12, 6}, 3),
        Weekly({2026, 12, 6}, TASK_MONDAY, 2),
        // The day after the 31st is a different day of a different month each month.
        WithRepeat(MonthlyDate({2026, 12, 6}, 1u << 30, 0xFFF, 23), 30, 120),
        WithRepeat(MonthlyDow({2026, 12, 6}, TASK_LAST_WEEK, TASK_FRIDAY, 0xFFF, 23), 30, 120),
        // Repetitions that run on for more than a month.
        WithRepeat(Daily({2026, 12, 6}), 60, 40 * 1440),
        Daily({2201, 1, 1}),
    };
    for (const TASK_TRIGGER& t : needsCorvane) {
        ASSERT_EQ(Platform::ValidateTrigger(t), S_OK);
        EXPECT_TRUE(Platform::TriggerNeedsCorvane(t)) << static_cast<int>(t.TriggerType);
        EXPECT_TRUE(Platform::CalendarExpressions(t).empty());
    }
    EXPECT_FALSE(
        Platform::TriggerNeedsCorvane(MakeTrigger(TASK_EVENT_TRIGGER_AT_LOGON, {2026, 12, 6})));
    EXPECT_FALSE(Platform::TriggerNeedsCorvane(
        MakeTrigger(TASK_EVENT_TRIGGER_AT_SYSTEMSTART, {2026, 12, 6})));
}

TEST_F(CalendarTest, ATriggerThatCanNeverRunGivesNoExpression) {
    // 30 February: the scheduler accepts it and never runs it; systemd must not be handed a
    // calendar that never elapses.
    EXPECT_TRUE(Platform::CalendarExpressions(MonthlyDate({2026, 12, 6}, 1u << 29, 0x2)).empty());
    // A once trigger with its repetition before 1970 cannot be named either.
    EXPECT_TRUE(
        Platform::CalendarExpressions(MakeTrigger(TASK_TIME_TRIGGER_ONCE, {1969, 5, 1})).empty());
}

TEST_F(CalendarTest, DisabledAndInvalidTriggersGiveNoExpression) {
    TASK_TRIGGER disabled = Daily({2026, 12, 6});
    disabled.rgFlags |= TASK_TRIGGER_FLAG_DISABLED;
    EXPECT_TRUE(Platform::CalendarExpressions(disabled).empty());
    EXPECT_TRUE(Platform::CalendarExpressions(Daily({2026, 2, 30})).empty());
}

TEST(CivilDates, RoundTripAndWeekdays) {
    for (long day = -800000; day <= 800000; day += 997) {
        EXPECT_EQ(DaysFromCivil(Platform::CivilFromDays(day)), day);
    }
    EXPECT_EQ(Platform::Weekday({1970, 1, 1}), 4);   // a Thursday
    EXPECT_EQ(Platform::Weekday({2026, 12, 6}), 0);  // a Sunday
    EXPECT_EQ(Platform::DaysInMonth(2028, 2), 29);
    EXPECT_EQ(Platform::DaysInMonth(2100, 2), 28);
    EXPECT_EQ(Platform::DaysInMonth(2000, 2), 29);
}

}  // namespace
}  // namespace Branwick::Testing
