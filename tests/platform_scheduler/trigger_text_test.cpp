#include <gtest/gtest.h>

#include "platform/scheduler/scheduler.h"
#include "tests/support/triggers.h"

namespace Branwick::Testing {
namespace {

using Platform::DescribeTrigger;
using Platform::ValidateTrigger;

// The schedule list of the command line reads every kind back; here are the forms it does not show.
TEST(DescribeTrigger, OneDayAndAnOrdinalWeekReadAsEnglish) {
    const Platform::CivilDate dec6{2026, 12, 6};
    EXPECT_EQ(DescribeTrigger(MonthlyDate(dec6, 1u << 14), 10),
              L"At 09:00 on day 15 of every month, starting 06/12/2026");
    EXPECT_EQ(DescribeTrigger(MonthlyDow(dec6, 2, TASK_SUNDAY, TASK_DECEMBER), 10),
              L"At 09:00 on the second Sunday of December, starting 06/12/2026");
}

TEST(DescribeTrigger, SaysWhichTriggersOnlyRunWhileCorvaneRuns) {
    const Platform::CivilDate dec6{2026, 12, 6};
    EXPECT_EQ(DescribeTrigger(MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, dec6), 1),
              L"When the computer has been idle for 1 minute (runs only while Corvane is running)");
    EXPECT_EQ(DescribeTrigger(Daily(dec6, 3), 10),
              L"At 09:00 every 3 days, starting 06/12/2026 (runs only while Corvane is running)");
    EXPECT_EQ(DescribeTrigger(Weekly(dec6, TASK_SUNDAY | TASK_MONDAY, 2), 10),
              L"At 09:00 every Monday and Sunday of every 2 weeks, starting 06/12/2026 "
              L"(runs only while Corvane is running)");
}

TEST(DescribeTrigger, RepetitionEndDateAndDisabled) {
    TASK_TRIGGER t = WithEnd(WithRepeat(Daily({2026, 12, 6}), 30, 270), {2026, 12, 31});
    EXPECT_EQ(DescribeTrigger(t, 10),
              L"At 09:00 every day, repeating every 30 minutes for 4 hours 30 minutes, "
              L"starting 06/12/2026, until 31/12/2026");
    t.rgFlags |= TASK_TRIGGER_FLAG_KILL_AT_DURATION_END | TASK_TRIGGER_FLAG_DISABLED;
    EXPECT_EQ(DescribeTrigger(t, 10),
              L"At 09:00 every day, repeating every 30 minutes for 4 hours 30 minutes, stopping a "
              L"run still going at the end, starting 06/12/2026, until 31/12/2026 (disabled)");
    TASK_TRIGGER invalid = Daily({2026, 12, 6}, 0);
    EXPECT_EQ(DescribeTrigger(invalid, 10), L"");
}

TEST(ValidateTrigger, RefusesWhatCannotBeScheduled) {
    const Platform::CivilDate dec6{2026, 12, 6};
    std::vector<TASK_TRIGGER> invalid;
    auto add = [&](TASK_TRIGGER t, auto change) {
        change(t);
        invalid.push_back(t);
    };
    add(Daily(dec6), [](TASK_TRIGGER& t) { t.cbTriggerSize = 0; });
    add(Daily(dec6), [](TASK_TRIGGER& t) { t.TriggerType = static_cast<TASK_TRIGGER_TYPE>(8); });
    add(Daily(dec6), [](TASK_TRIGGER& t) { t.wStartHour = 24; });
    add(Daily(dec6), [](TASK_TRIGGER& t) { t.wStartMinute = 60; });
    add(Daily({2026, 2, 29}), [](TASK_TRIGGER&) {});
    add(WithEnd(Daily(dec6), {2026, 12, 5}), [](TASK_TRIGGER&) {});
    add(WithRepeat(Daily(dec6), 60, 60), [](TASK_TRIGGER&) {});
    add(WithRepeat(Daily(dec6), 10, 0), [](TASK_TRIGGER&) {});
    add(Daily(dec6, 0), [](TASK_TRIGGER&) {});
    add(Weekly(dec6, 0), [](TASK_TRIGGER&) {});
    add(Weekly(dec6, 0x80), [](TASK_TRIGGER&) {});
    add(Weekly(dec6, TASK_MONDAY, 0), [](TASK_TRIGGER&) {});
    add(MonthlyDate(dec6, 0), [](TASK_TRIGGER&) {});
    add(MonthlyDate(dec6, 1, 0x1000), [](TASK_TRIGGER&) {});
    add(MonthlyDate(dec6, 0x80000000u), [](TASK_TRIGGER&) {});
    add(MonthlyDow(dec6, 0, TASK_MONDAY), [](TASK_TRIGGER&) {});
    add(MonthlyDow(dec6, 6, TASK_MONDAY), [](TASK_TRIGGER&) {});
    add(MonthlyDow(dec6, 1, 0), [](TASK_TRIGGER&) {});
    add(MakeTrigger(TASK_TIME_TRIGGER_ONCE, {0, 0, 0}), [](TASK_TRIGGER&) {});
    for (size_t i = 0; i < invalid.size(); ++i) {
        EXPECT_EQ(ValidateTrigger(invalid[i]), E_INVALIDARG) << "case " << i;
    }
}

TEST(ValidateTrigger, EventTriggersNeedNoDate) {
    EXPECT_EQ(ValidateTrigger(MakeTrigger(TASK_EVENT_TRIGGER_AT_LOGON, {0, 0, 0})), S_OK);
    EXPECT_EQ(ValidateTrigger(MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, {0, 0, 0})), S_OK);
    EXPECT_EQ(ValidateTrigger(WithRepeat(Daily({2028, 2, 29}), 59, 60)), S_OK);
}

}  // namespace
}  // namespace Branwick::Testing
