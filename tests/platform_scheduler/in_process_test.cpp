#include <gtest/gtest.h>

#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/system.h"
#include "tests/support/triggers.h"

namespace Branwick::Testing {
namespace {

std::time_t At(Platform::CivilDate date, int hour, int minute) {
    return static_cast<std::time_t>(Platform::DaysFromCivil(date) * 86400L + hour * 3600L +
                                    minute * 60L);
}

class InProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    // Whether the job fires during the minute that ends at the given time.
    bool DueAt(Platform::CivilDate date, int hour, int minute,
               std::optional<std::time_t> idleSince = std::nullopt) {
        std::time_t to = At(date, hour, minute);
        return Platform::IsDueInProcess(m_job, to - 60, to, idleSince);
    }
    Platform::CScheduledJob m_job;
};

TEST_F(InProcessTest, EveryThirdDayCountsAcrossMonths) {
    m_job.m_vcTriggers = {Daily({2026, 12, 28}, 3)};
    EXPECT_TRUE(DueAt({2026, 12, 28}, 9, 0));
    EXPECT_FALSE(DueAt({2026, 12, 28}, 9, 1));
    EXPECT_FALSE(DueAt({2026, 12, 29}, 9, 0));
    EXPECT_TRUE(DueAt({2026, 12, 31}, 9, 0));
    EXPECT_TRUE(DueAt({2027, 1, 3}, 9, 0));
    EXPECT_FALSE(DueAt({2027, 1, 1}, 9, 0));
    EXPECT_FALSE(DueAt({2026, 12, 25}, 9, 0)) << "not before the begin date";
}

TEST_F(InProcessTest, EverySecondWeekCountsFromTheBeginWeek) {
    m_job.m_vcTriggers = {Weekly({2026, 12, 6}, TASK_MONDAY, 2)};  // 6 December 2026 is a Sunday
    EXPECT_TRUE(DueAt({2026, 12, 7}, 9, 0));
    EXPECT_FALSE(DueAt({2026, 12, 14}, 9, 0));
    EXPECT_TRUE(DueAt({2026, 12, 21}, 9, 0));
    EXPECT_TRUE(DueAt({2027, 1, 4}, 9, 0));
}

TEST_F(InProcessTest, RepetitionsRunUntilTheDurationEndsAlsoPastMidnight) {
    m_job.m_vcTriggers = {WithRepeat(Daily({2026, 12, 6}, 2, 23, 0), 60, 180)};
    EXPECT_TRUE(DueAt({2026, 12, 6}, 23, 0));
    EXPECT_TRUE(DueAt({2026, 12, 7}, 0, 0));
    EXPECT_TRUE(DueAt({2026, 12, 7}, 1, 0));
    EXPECT_FALSE(DueAt({2026, 12, 7}, 2, 0)) << "the run at the end of the duration is not made";
    EXPECT_FALSE(DueAt({2026, 12, 7}, 23, 0));
    EXPECT_TRUE(Platform::IsDueInProcess(m_job, At({2026, 12, 6}, 12, 0), At({2026, 12, 7}, 3, 0),
                                         std::nullopt));
}

TEST_F(InProcessTest, TriggersForSystemdAreNotRunTwice) {
    m_job.m_vcTriggers = {Daily({2026, 12, 6}),
                          MakeTrigger(TASK_EVENT_TRIGGER_AT_LOGON, {2026, 12, 6})};
    EXPECT_FALSE(DueAt({2026, 12, 7}, 9, 0));
}

TEST_F(InProcessTest, IdleFiresOncePerIdlePeriod) {
    m_job.m_vcTriggers = {MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, {2026, 12, 6})};
    m_job.m_wIdleMinutes = 10;
    const std::time_t since = At({2026, 12, 7}, 14, 0);
    EXPECT_FALSE(DueAt({2026, 12, 7}, 14, 9, since));
    EXPECT_TRUE(DueAt({2026, 12, 7}, 14, 10, since));
    EXPECT_FALSE(DueAt({2026, 12, 7}, 14, 11, since));
    EXPECT_FALSE(DueAt({2026, 12, 7}, 14, 10, std::nullopt)) << "in use";
}

TEST(ParseIdleHint, ReadsLogindsAnswer) {
    EXPECT_EQ(Platform::ParseIdleHint("IdleHint=yes\nIdleSinceHint=1765000000123456\n"),
              std::optional<std::time_t>(1765000000));
    EXPECT_EQ(Platform::ParseIdleHint("IdleHint=no\nIdleSinceHint=1765000000123456\n"),
              std::nullopt);
    EXPECT_EQ(Platform::ParseIdleHint("IdleHint=yes\nIdleSinceHint=0\n"), std::nullopt);
    EXPECT_EQ(Platform::ParseIdleHint("garbage"), std::nullopt);
}

}  // namespace
}  // namespace Branwick::Testing
