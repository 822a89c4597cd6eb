#include "Commons_Non_MFC/TaskScheduler/Task.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/Exceptions.h"
#include "core/MessageBox.h"
#include "tests/support/fake_user_manager.h"
#include "tests/support/temp_folder.h"
#include "tests/support/triggers.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;

using CorvaneTest::CFakeUserManager;

TASK_TRIGGER Daily(WORD hour) { return Testing::Daily({2026, 12, 6}, 1, hour); }

// Runs `operation` and checks that it throws with `cause` and `code`.
void ExpectThrows(const std::function<void()>& operation, const std::wstring& cause, HRESULT code) {
    try {
        operation();
        ADD_FAILURE() << "no exception";
    } catch (const CBranwickException& e) {
        EXPECT_NE(e.GetMessage().find(cause), std::wstring::npos) << e.what();
        EXPECT_EQ(e.GetCode(), static_cast<DWORD>(code)) << e.what();
        EXPECT_NE(e.GetMessage().find(L"Branwick::CTask::"), std::wstring::npos) << e.what();
    }
}

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        m_pPrevious = SetMessageBox(&m_boxes);
    }
    void TearDown() override {
        SetMessageBox(m_pPrevious);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    Platform::CScheduledJob Stored() {
        Platform::CScheduledJob job;
        EXPECT_EQ(m_folder.Load(L"Corvane", job), S_OK);
        return job;
    }

    CorvaneTest::CTempFolder m_temp{"corvane-task"};
    const fs::path m_dir = m_temp.Path();
    CFakeUserManager m_manager;
    Platform::CJobFolder m_folder{m_manager};
    CRecordingMessageBox m_boxes;
    IMessageBox* m_pPrevious = nullptr;
};

TEST_F(TaskTest, CreateTaskWritesTheJobAndAppliesEverythingAgainToAnExistingOne) {
    {
        CTask task(L"Corvane", &m_folder);
        task.CreateTask(L"/opt/corvane/bin/corvane");
        EXPECT_EQ(Stored().m_strWorkingDirectory, L"/opt/corvane/bin");
        EXPECT_NE(Stored().m_strAccount.find(L'\\'), std::wstring::npos);
        EXPECT_EQ(task.GetTriggersCount(), 0);
        EXPECT_TRUE(m_boxes.GetShown().empty());
    }
    Platform::CScheduledJob old;
    old.m_strApplication = L"/old/corvane";
    old.m_strParameters = L"-scan";
    old.m_dwFlags = 0;
    old.m_dwPriority = 0x40;
    old.m_wIdleMinutes = 33;
    old.m_vcTriggers = {Daily(7), Daily(8)};
    ASSERT_EQ(m_folder.Save(L"Corvane", old), S_OK);

    CTask task(L"Corvane", &m_folder);
    task.CreateTask(L"/new/corvane");
    Platform::CScheduledJob job = Stored();
    EXPECT_EQ(job.m_strApplication, L"/new/corvane");
    EXPECT_EQ(job.m_strWorkingDirectory, L"/new");
    EXPECT_EQ(job.m_strParameters, L"-shed");
    EXPECT_EQ(job.m_dwFlags, TASK_FLAG_RUN_ONLY_IF_LOGGED_ON);
    EXPECT_EQ(job.m_dwPriority, NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(job.m_wIdleMinutes, 33);
    EXPECT_EQ(job.m_vcTriggers.size(), 2u);
    EXPECT_EQ(task.GetTriggersCount(), 2);
}

TEST_F(TaskTest, ChangeTriggerIdleWaitAndTemporaryDescriptions) {
    CTask task(L"Corvane", &m_folder);
    task.CreateTask(L"/bin/corvane");
    task.AddTrigger(Daily(7));
    task.ChangeTrigger(0, Daily(10));
    EXPECT_EQ(Stored().m_vcTriggers.at(0).wStartHour, 10);

    task.SetIdleWait(20, 0);
    WORD idle = 0, deadline = 99;
    task.GetIdleWait(idle, deadline);
    EXPECT_EQ(idle, 20);
    EXPECT_EQ(deadline, 0);
    EXPECT_EQ(Stored().m_wIdleMinutes, 20);

    TASK_TRIGGER whenIdle = Daily(0);
    whenIdle.TriggerType = TASK_EVENT_TRIGGER_ON_IDLE;
    EXPECT_EQ(
        task.GetTempTriggerInfo(whenIdle),
        L"When the computer has been idle for 20 minutes (runs only while Corvane is running)");
    EXPECT_EQ(task.GetTriggersCount(), 1) << "a temporary trigger is not stored";
    EXPECT_EQ(Stored().m_vcTriggers.size(), 1u);
}

TEST_F(TaskTest, WithoutAUserManagerTheUserIsWarnedAndTheJobIsKept) {
    m_manager.m_bRunning = false;
    CTask task(L"Corvane", &m_folder);
    task.CreateTask(L"/bin/corvane");
    EXPECT_EQ(task.AddTrigger(Daily(7)), 0);
    EXPECT_EQ(task.SaveTask(), SCHED_E_SERVICE_NOT_RUNNING);
    EXPECT_EQ(Stored().m_vcTriggers.size(), 1u);
    std::vector<CRecordingMessageBox::SShown> shown = m_boxes.GetShown();
    ASSERT_EQ(shown.size(), 1u) << "one warning, not one per save";
    EXPECT_EQ(shown[0].strText,
              L"Task Scheduler service is not running. Corvane scheduling will be unavailable.");
    EXPECT_EQ(shown[0].strCaption, L"Corvane");
    EXPECT_EQ(shown[0].uType, MB_OK | MB_ICONEXCLAMATION);

    m_manager.m_bRunning = true;
    task.AddTrigger(Daily(8));
    m_manager.m_bRunning = false;
    task.AddTrigger(Daily(9));
    EXPECT_EQ(m_boxes.GetShown().size(), 2u) << "warned again after the manager came and went";
}

TEST_F(TaskTest, FailuresThrowWithTheirCauses) {
    CTask unopened(L"Corvane", &m_folder);
    ExpectThrows([&] { unopened.GetTriggersCount(); }, L"m_pITask reference", E_FAIL);
    ExpectThrows([&] { unopened.AddTrigger(Daily(7)); }, L"m_pITask reference", E_FAIL);
    ExpectThrows([&] { unopened.SaveTask(); }, L"m_pITask reference", E_FAIL);
    ExpectThrows([&] { unopened.GetTriggerInfo(3); },
                 L"m_pITask is NULL\nInput parameters:\nwNumTrigger: 3\n", E_FAIL);
    ExpectThrows([&] { unopened.SetParameters(L"-x"); },
                 L"m_pITask is NULL\nInput parameters:\nsParameters: -x\n", E_FAIL);
    ExpectThrows([&] { unopened.OpenTask(L""); }, L"ITaskScheduler::Activate",
                 HresultFromWin32(ERROR_FILE_NOT_FOUND));

    CTask task(L"Corvane", &m_folder);
    task.CreateTask(L"/bin/corvane");
    task.AddTrigger(Daily(7));
    ExpectThrows([&] { task.ChangeTrigger(1, Daily(8)); }, L"ITask::GetTrigger",
                 SCHED_E_TRIGGER_NOT_FOUND);
    ExpectThrows([&] { task.RemoveTrigger(5); }, L"ITask::DeleteTrigger \nwNumTrigger: 5",
                 SCHED_E_TRIGGER_NOT_FOUND);
    ExpectThrows([&] { task.GetTriggerInfo(1); }, L"ITask::GetTriggerString",
                 SCHED_E_TRIGGER_NOT_FOUND);
    TASK_TRIGGER bad = Daily(25);
    ExpectThrows([&] { task.AddTrigger(bad); }, L"ITask::SetTrigger", E_INVALIDARG);
    ExpectThrows([&] { task.ChangeTrigger(0, bad); }, L"ITask::SetTrigger", E_INVALIDARG);
    ExpectThrows([&] { task.GetTempTriggerInfo(bad); }, L"ITask::SetTrigger", E_INVALIDARG);
    EXPECT_EQ(task.GetTriggersCount(), 1) << "a refused trigger leaves nothing behind";
    EXPECT_EQ(Stored().m_vcTriggers.size(), 1u);
}

TEST_F(TaskTest, AFailedSaveLeavesTaskAndJobAsTheyWere) {
    CTask task(L"Corvane", &m_folder);
    task.CreateTask(L"/bin/corvane");
    task.AddTrigger(Daily(7));
    // The job file cannot be replaced while a folder stands in its place.
    const std::string path = m_folder.JobPath(L"Corvane");
    fs::rename(path, path + ".saved");
    fs::create_directory(path);
    ExpectThrows([&] { task.AddTrigger(Daily(8)); }, L"IPersistFile::Save",
                 HresultFromWin32(ERROR_WRITE_FAULT));
    EXPECT_EQ(task.GetTriggersCount(), 1);
    ExpectThrows([&] { task.RemoveTrigger(0); }, L"IPersistFile::Save",
                 HresultFromWin32(ERROR_WRITE_FAULT));
    EXPECT_EQ(task.GetTriggersCount(), 1);
}

TEST(TriggerText, NamesEveryFieldAndTheKind) {
    TASK_TRIGGER t = Daily(9);
    t.MinutesDuration = 60;
    t.MinutesInterval = 10;
    EXPECT_EQ(TriggerText(t),
              L"\nTrigger:\nMinutesDuration: 60 \nMinutesInterval: 10\nrgFlags: 0\nTriggerType: "
              L"TASK_TIME_TRIGGER_DAILY:\nDaysInterval: 1\n\nwBeginDay: 6 \nwBeginMonth: 12 \n"
              L"wBeginYear: 2026 \nwEndDay: 0 \nwEndMonth: 0 \nwEndYear: 0 \nwStartHour: 9 \n"
              L"wStartMinute: 0");
    t.TriggerType = TASK_TIME_TRIGGER_MONTHLYDOW;
    t.Type.MonthlyDOW = {TASK_LAST_WEEK, TASK_FRIDAY, 0x801};
    EXPECT_NE(TriggerText(t).find(L"TriggerType: TASK_TIME_TRIGGER_MONTHLYDOW\rgfDaysOfTheWeek: 32 "
                                  L"\nrgfMonths: 2049 \nwWhichWeek: 5\n"),
              std::wstring::npos);
    t.TriggerType = static_cast<TASK_TRIGGER_TYPE>(9);
    EXPECT_NE(TriggerText(t).find(L"TriggerType: \nwBeginDay"), std::wstring::npos);
}

}  // namespace
}  // namespace Branwick
