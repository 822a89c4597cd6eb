#include "app/Schedule/ScheduleForm.h"

#include <gtest/gtest.h>

#include <cstring>

namespace Branwick {
namespace {

constexpr SScheduleDate kToday{2026, 12, 9};

SScheduleInputs Inputs(EScheduleKind eKind) {
    SScheduleInputs inputs;
    inputs.eKind = eKind;
    inputs.wStartHour = 14;
    inputs.wStartMinute = 30;
    inputs.advanced = SAdvancedSchedule::Reset(kToday);
    return inputs;
}

bool SameRecord(const TASK_TRIGGER& a, const TASK_TRIGGER& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ScheduleFormTest, TheKindsFollowTheListOrderAndStoredTypesSelectTheirKind) {
    EXPECT_STREQ(ScheduleKindName(EScheduleKind::Monthly), L"Monthly");
    EXPECT_STREQ(ScheduleKindTitle(EScheduleKind::AtStartup), L"Schedule Task At System Startup");
    EXPECT_STREQ(ScheduleKindTitle(EScheduleKind::WhenIdle), L"Schedule Task When Idle");
    EXPECT_TRUE(ScheduleKindHasStartTime(EScheduleKind::Once));
    EXPECT_FALSE(ScheduleKindHasStartTime(EScheduleKind::AtLogon));
    // Stored type 0..7 select the list's 3, 0, 1, 2, 2, 6, 4, 5.
    const int kExpected[] = {3, 0, 1, 2, 2, 6, 4, 5};
    for (int nType = 0; nType < 8; ++nType) {
        TASK_TRIGGER trigger{};
        trigger.TriggerType = static_cast<TASK_TRIGGER_TYPE>(nType);
        EXPECT_EQ(static_cast<int>(ScheduleKindOf(trigger)), kExpected[nType]) << nType;
    }
}

TEST(ScheduleFormTest, AMonthlyDayIsLimitedByTheLongestChosenMonth) {
    SScheduleInputs inputs = Inputs(EScheduleKind::Monthly);
    inputs.wMonthDay = 31;
    inputs.wMonths = 0x2;  // February alone
    TASK_TRIGGER trigger = inputs.Build();
    EXPECT_EQ(trigger.TriggerType, TASK_TIME_TRIGGER_MONTHLYDATE);
    EXPECT_EQ(trigger.Type.MonthlyDate.rgfDays, 1u << 28);
    inputs.wMonths = 0x2 | 0x8;  // and April
    EXPECT_EQ(inputs.Build().Type.MonthlyDate.rgfDays, 1u << 29);
    inputs.wMonths = 0x2 | 0x800;  // and December
    EXPECT_EQ(inputs.Build().Type.MonthlyDate.rgfDays, 1u << 30);
    EXPECT_EQ(inputs.Build().Type.MonthlyDate.rgfMonths, 0x802);
    inputs.wMonthDay = 0;
    EXPECT_EQ(inputs.Build().Type.MonthlyDate.rgfDays, 1u);
}

TEST(ScheduleFormTest, WeekDaysCountFromSundayAsBitOne) {
    EXPECT_EQ(DayOfWeekMask(6), 1);   // "Sunday", last in the list
    EXPECT_EQ(DayOfWeekMask(0), 2);   // "Monday"
    EXPECT_EQ(DayOfWeekMask(5), 64);  // "Saturday"
    SScheduleInputs inputs = Inputs(EScheduleKind::Weekly);
    inputs.wWeekDays = DayOfWeekMask(6);
    EXPECT_EQ(inputs.Build().Type.Weekly.rgfDaysOfTheWeek, 1);
    inputs = Inputs(EScheduleKind::Monthly);
    inputs.bMonthDay = false;
    inputs.nWhichWeek = 4;
    inputs.nDayOfWeek = 6;
    const TASK_TRIGGER trigger = inputs.Build();
    EXPECT_EQ(trigger.TriggerType, TASK_TIME_TRIGGER_MONTHLYDOW);
    EXPECT_EQ(trigger.Type.MonthlyDOW.wWhichWeek, TASK_LAST_WEEK);
    EXPECT_EQ(trigger.Type.MonthlyDOW.rgfDaysOfTheWeek, 1);
}

TEST(ScheduleFormTest, EachValidationMessage) {
    SScheduleInputs weekly = Inputs(EScheduleKind::Weekly);
    EXPECT_EQ(weekly.Validate(), L"You must select at least one day.");
    weekly.wWeekDays = 0x80;  // no day of a week
    EXPECT_EQ(weekly.Validate(), L"You must select at least one day.");
    weekly.wWeekDays = 4;
    EXPECT_EQ(weekly.Validate(), L"");

    SScheduleInputs monthly = Inputs(EScheduleKind::Monthly);
    monthly.wMonths = 0;
    EXPECT_EQ(monthly.Validate(), L"You must select at least one month");
    // Days and months of the other kinds are not theirs to check.
    SScheduleInputs daily = Inputs(EScheduleKind::Daily);
    daily.wMonths = 0;
    EXPECT_EQ(daily.Validate(), L"");

    daily.advanced.bUntil = true;
    daily.advanced.until = {2026, 12, 8};
    EXPECT_EQ(daily.Validate(), L"The end date must be later then the start date.");
    daily.advanced.until = kToday;  // the same day is accepted
    EXPECT_EQ(daily.Validate(), L"");

    daily.advanced.bRepeat = true;
    daily.advanced.dwEvery = 0;
    daily.advanced.dwDurationHours = 1;
    EXPECT_EQ(daily.Validate(), L"The repetition interval cannot be less than 1.");
    daily.advanced.dwEvery = 60;
    EXPECT_EQ(daily.Validate(), L"The duration must be greater than repetition interval.");
    daily.advanced.dwDurationMinutes = 1;
    EXPECT_EQ(daily.Validate(), L"");
    daily.advanced.dwEvery = 1;
    daily.advanced.bHours = true;  // 61 minutes against one hour
    EXPECT_EQ(daily.Validate(), L"");
    daily.advanced.dwDurationMinutes = 0;
    EXPECT_EQ(daily.Validate(), L"The duration must be greater than repetition interval.");
}

TEST(ScheduleFormTest, ARepetitionUntilATimeLastsFromTheStartAcrossMidnight) {
    SScheduleInputs inputs = Inputs(EScheduleKind::Daily);
    inputs.wStartHour = 23;
    inputs.wStartMinute = 0;
    inputs.advanced.bRepeat = true;
    inputs.advanced.dwEvery = 30;
    inputs.advanced.bUntilTime = true;
    inputs.advanced.wUntilHour = 1;
    inputs.advanced.wUntilMinute = 15;
    inputs.advanced.bStop = true;
    const TASK_TRIGGER trigger = inputs.Build();
    EXPECT_EQ(trigger.MinutesDuration, 135u);
    EXPECT_EQ(trigger.MinutesInterval, 30u);
    EXPECT_EQ(trigger.rgFlags, TASK_TRIGGER_FLAG_KILL_AT_DURATION_END);
    // Until the start time itself is no duration at all.
    inputs.advanced.wUntilHour = 23;
    inputs.advanced.wUntilMinute = 0;
    EXPECT_EQ(inputs.Validate(), L"The duration must be greater than repetition interval.");
    // The stop flag belongs to a repetition.
    inputs.advanced.bRepeat = false;
    EXPECT_EQ(inputs.Build().rgFlags, 0u);
}

TEST(ScheduleFormTest, ATriggerBuiltFromTheInputsOfAStoredOneIsTheSame) {
    std::vector<SScheduleInputs> all;
    for (int nKind = 0; nKind < kScheduleKinds; ++nKind) {
        all.push_back(Inputs(static_cast<EScheduleKind>(nKind)));
    }
    all[0].wDaysInterval = 3;
    all[1].wWeeksInterval = 2;
    all[1].wWeekDays = 0x41;
    all[2].wMonthDay = 15;
    all[2].wMonths = 0x0F0;
    all[3].runOn = {2027, 2, 28};
    all.push_back(all[2]);
    all.back().bMonthDay = false;
    all.back().nWhichWeek = 2;
    all.back().nDayOfWeek = 3;
    all.back().wMonths = 0x1;
    all[0].advanced.bUntil = true;
    all[0].advanced.until = {2027, 1, 1};
    all[0].advanced.bRepeat = true;
    all[0].advanced.dwEvery = 2;
    all[0].advanced.bHours = true;
    all[0].advanced.dwDurationHours = 5;
    all[0].advanced.dwDurationMinutes = 30;
    all[0].advanced.bStop = true;
    for (const SScheduleInputs& inputs : all) {
        const TASK_TRIGGER trigger = inputs.Build();
        const SScheduleInputs shown = SScheduleInputs::FromTrigger(trigger, 10);
        EXPECT_EQ(shown.eKind, inputs.eKind);
        EXPECT_TRUE(SameRecord(shown.Build(), trigger)) << ScheduleKindName(inputs.eKind);
    }
    // Loading shows the duration as hours and minutes and the interval in minutes.
    const SAdvancedSchedule shown = SAdvancedSchedule::FromTrigger(all[0].Build());
    EXPECT_EQ(shown.dwDurationHours, 5u);
    EXPECT_EQ(shown.dwDurationMinutes, 30u);
    EXPECT_EQ(shown.dwEvery, 120u);
    EXPECT_FALSE(shown.bHours);
    EXPECT_TRUE(shown.bUntil);
    EXPECT_TRUE(shown.bStop);
}

TEST(ScheduleFormTest, NumbersAreKeptWithinTheirLimitsAndEventKindsHaveNoTime) {
    SScheduleInputs daily = Inputs(EScheduleKind::Daily);
    daily.wDaysInterval = 10000;
    EXPECT_EQ(daily.Build().Type.Daily.DaysInterval, kMaxDaysInterval);
    daily.wDaysInterval = 0;
    EXPECT_EQ(daily.Build().Type.Daily.DaysInterval, 1);
    SScheduleInputs weekly = Inputs(EScheduleKind::Weekly);
    weekly.wWeeksInterval = 65535;
    weekly.wWeekDays = 2;
    EXPECT_EQ(weekly.Build().Type.Weekly.WeeksInterval, kMaxWeeksInterval);
    for (const EScheduleKind eKind : {EScheduleKind::AtStartup, EScheduleKind::AtLogon, EScheduleKind::WhenIdle}) {
        const TASK_TRIGGER trigger = Inputs(eKind).Build();
        EXPECT_EQ(trigger.wStartHour, 0);
        EXPECT_EQ(trigger.wStartMinute, 0);
        EXPECT_EQ(trigger.wBeginDay, kToday.wDay);
    }
    // A new trigger begins today, without an end date or a repetition.
    const TASK_TRIGGER fresh = Inputs(EScheduleKind::Daily).Build();
    EXPECT_EQ(fresh.wBeginYear, 2026);
    EXPECT_EQ(fresh.wBeginMonth, 12);
    EXPECT_EQ(fresh.rgFlags, 0u);
    EXPECT_EQ(fresh.MinutesInterval, 0u);
    EXPECT_EQ(fresh.cbTriggerSize, 48);
}

}  // namespace
}  // namespace Branwick
