#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/system.h"
#include "tests/support/triggers.h"
#include "tests/support/fake_user_manager.h"
#include "tests/support/temp_folder.h"

namespace Branwick::Testing {
namespace {

namespace fs = std::filesystem;

using CorvaneTest::CFakeUserManager;

bool SameRecords(const std::vector<TASK_TRIGGER>& a, const std::vector<TASK_TRIGGER>& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(TASK_TRIGGER)) == 0;
}

class JobFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        m_job.m_strApplication = L"/bin/true";
        m_job.m_strWorkingDirectory = L"/bin";
        m_job.m_strParameters = L"-shed";
        m_job.m_strAccount = L"HOST\\user";
        m_job.m_dwFlags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
        m_job.m_vcTriggers = {Daily({2026, 12, 6}),
                              MakeTrigger(TASK_EVENT_TRIGGER_AT_LOGON, {2026, 12, 6}),
                              MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, {2026, 12, 6})};
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // systemd's own check of unit files; a user-mode check needs a private runtime folder.
    int Verify(const std::vector<std::string>& units) {
        fs::create_directory(m_dir / "runtime");
        fs::permissions(m_dir / "runtime", fs::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", (m_dir / "runtime").c_str(), 1);
        std::vector<std::string> argv = {"systemd-analyze", "verify", "--user"};
        argv.insert(argv.end(), units.begin(), units.end());
        int status = Platform::RunProgram(argv);
        ::unsetenv("XDG_RUNTIME_DIR");
        return status;
    }

    CorvaneTest::CTempFolder m_temp{"corvane-jobs"};
    const fs::path m_dir = m_temp.Path();
    CFakeUserManager m_manager;
    Platform::CScheduledJob m_job;
};

TEST_F(JobFolderTest, SaveWritesTheJobAndUnitsAndStartsTheTimer) {
    Platform::CJobFolder folder(m_manager);
    ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);

    const fs::path config = m_dir / "config";
    EXPECT_EQ(folder.JobPath(L"Corvane"), (config / "corvane/tasks/Corvane.job").string());
    EXPECT_EQ(folder.TimerPath(L"Corvane"), (config / "systemd/user/corvane-scan.timer").string());
    EXPECT_TRUE(fs::exists(folder.JobPath(L"Corvane")));
    const std::string timer = CorvaneTest::ReadAll(folder.TimerPath(L"Corvane"));
    EXPECT_NE(timer.find("OnCalendar=2026-12-06..31 09:00:00\nOnCalendar=2027/1-*-* 09:00:00\n"),
              std::string::npos)
        << timer;
    EXPECT_NE(timer.find("OnStartupSec=1min\n"), std::string::npos);
    EXPECT_NE(timer.find("Persistent=true\n"), std::string::npos);
    EXPECT_NE(timer.find("# Trigger 2 (When the computer has been idle for 10 minutes (runs only "
                         "while Corvane is running)) is checked by Corvane itself."),
              std::string::npos);
    const std::string service = CorvaneTest::ReadAll(folder.ServicePath(L"Corvane"));
    EXPECT_NE(service.find("ExecStart=\"/bin/true\" \"-shed\"\n"), std::string::npos) << service;
    EXPECT_NE(service.find("WorkingDirectory=/bin\n"), std::string::npos);
    EXPECT_EQ(fs::read_symlink(config / "systemd/user/timers.target.wants/corvane-scan.timer"),
              folder.TimerPath(L"Corvane"));
    EXPECT_EQ(m_manager.m_vcCalls, std::vector<std::string>{"enable corvane-scan.timer"});
    EXPECT_EQ(Verify({folder.TimerPath(L"Corvane"), folder.ServicePath(L"Corvane")}), 0);
}

TEST_F(JobFolderTest, WithoutAUserManagerTheFilesAreStillWritten) {
    m_manager.m_bRunning = false;
    Platform::CJobFolder folder(m_manager);
    EXPECT_EQ(folder.Save(L"Corvane", m_job), SCHED_E_SERVICE_NOT_RUNNING);
    EXPECT_TRUE(fs::exists(folder.JobPath(L"Corvane")));
    EXPECT_TRUE(fs::exists(folder.TimerPath(L"Corvane")));
    EXPECT_TRUE(
        fs::is_symlink(m_dir / "config/systemd/user/timers.target.wants/corvane-scan.timer"));
    EXPECT_TRUE(m_manager.m_vcCalls.empty());
}

TEST_F(JobFolderTest, AManagerThatRefusesIsAnError) {
    m_manager.m_lResult = ERROR_NOT_READY;
    Platform::CJobFolder folder(m_manager);
    EXPECT_EQ(folder.Save(L"Corvane", m_job), HresultFromWin32(ERROR_NOT_READY));
    EXPECT_TRUE(fs::exists(folder.JobPath(L"Corvane")));
}

TEST_F(JobFolderTest, NoTriggerForSystemdRemovesTheUnits) {
    Platform::CJobFolder folder(m_manager);
    ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);
    m_job.m_vcTriggers = {MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, {2026, 12, 6}),
                          Daily({2026, 12, 6}, 2)};
    m_manager.m_vcCalls.clear();
    ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);
    EXPECT_FALSE(fs::exists(folder.TimerPath(L"Corvane")));
    EXPECT_FALSE(fs::exists(folder.ServicePath(L"Corvane")));
    EXPECT_FALSE(
        fs::is_symlink(m_dir / "config/systemd/user/timers.target.wants/corvane-scan.timer"));
    EXPECT_EQ(m_manager.m_vcCalls, std::vector<std::string>{"disable corvane-scan.timer"});
    Platform::CScheduledJob loaded;
    ASSERT_EQ(folder.Load(L"Corvane", loaded), S_OK);
    EXPECT_TRUE(SameRecords(loaded.m_vcTriggers, m_job.m_vcTriggers)) << "the job keeps them";
}

TEST_F(JobFolderTest, EveryKindOfTriggerSurvivesTheJobFile) {
    const Platform::CivilDate dec6{2026, 12, 6};
    TASK_TRIGGER disabled = Daily(dec6);
    disabled.rgFlags |= TASK_TRIGGER_FLAG_DISABLED;
    TASK_TRIGGER random = Daily(dec6);
    random.wRandomMinutesInterval = 7;
    m_job.m_vcTriggers = {
        MakeTrigger(TASK_TIME_TRIGGER_ONCE, {2027, 3, 14}, 9, 30),
        WithEnd(WithRepeat(Daily(dec6, 4), 30, 120), {2027, 1, 1}),
        Weekly(dec6, TASK_SUNDAY | TASK_SATURDAY, 3),
        MonthlyDate(dec6, 0x40000001u, 0x801),
        MonthlyDow(dec6, TASK_LAST_WEEK, TASK_FRIDAY, 0x0F0),
        MakeTrigger(TASK_EVENT_TRIGGER_ON_IDLE, dec6),
        MakeTrigger(TASK_EVENT_TRIGGER_AT_SYSTEMSTART, dec6),
        MakeTrigger(TASK_EVENT_TRIGGER_AT_LOGON, dec6),
        disabled,
        random,
    };
    m_job.m_wIdleMinutes = 25;
    m_job.m_wDeadlineMinutes = 0;
    m_job.m_strApplication = L"/opt/Corvane dir/corvane ünïcode";
    Platform::CJobFolder folder(m_manager);
    ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);

    Platform::CScheduledJob loaded;
    ASSERT_EQ(folder.Load(L"Corvane", loaded), S_OK);
    EXPECT_TRUE(SameRecords(loaded.m_vcTriggers, m_job.m_vcTriggers));
    EXPECT_EQ(loaded.m_strApplication, m_job.m_strApplication);
    EXPECT_EQ(loaded.m_strWorkingDirectory, L"/bin");
    EXPECT_EQ(loaded.m_strParameters, L"-shed");
    EXPECT_EQ(loaded.m_strAccount, L"HOST\\user");
    EXPECT_EQ(loaded.m_dwFlags, TASK_FLAG_RUN_ONLY_IF_LOGGED_ON);
    EXPECT_EQ(loaded.m_dwPriority, NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(loaded.m_wIdleMinutes, 25);
    EXPECT_EQ(loaded.m_wDeadlineMinutes, 0);
}

TEST_F(JobFolderTest, ADamagedJobFileYieldsWhatItCan) {
    Platform::CJobFolder folder(m_manager);
    ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);
    std::string text = CorvaneTest::ReadAll(folder.JobPath(L"Corvane"));
    size_t cut = text.find("<trigger", text.find("<trigger") + 1) + 20;
    std::ofstream(folder.JobPath(L"Corvane"), std::ios::trunc) << text.substr(0, cut);

    Platform::CScheduledJob loaded;
    ASSERT_EQ(folder.Load(L"Corvane", loaded), S_OK);
    EXPECT_EQ(loaded.m_strApplication, L"/bin/true");
    ASSERT_EQ(loaded.m_vcTriggers.size(), 1u);
    EXPECT_TRUE(SameRecords(loaded.m_vcTriggers, {m_job.m_vcTriggers[0]}));

    std::ofstream(folder.JobPath(L"Corvane"), std::ios::trunc) << "\x01 not xml at all";
    ASSERT_EQ(folder.Load(L"Corvane", loaded), S_OK);
    EXPECT_TRUE(loaded.m_strApplication.empty());
    EXPECT_TRUE(loaded.m_vcTriggers.empty());
    EXPECT_EQ(loaded.m_wIdleMinutes, 10);
}

TEST_F(JobFolderTest, MissingJobAndBadNames) {
    Platform::CJobFolder folder(m_manager);
    Platform::CScheduledJob job;
    EXPECT_FALSE(folder.Exists(L"Corvane"));
    EXPECT_EQ(folder.Load(L"Corvane", job), HresultFromWin32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(folder.Save(L"../x", m_job), E_INVALIDARG);
    EXPECT_EQ(folder.Save(L"", m_job), E_INVALIDARG);
}

TEST_F(JobFolderTest, ServiceQuotesWhatSystemdWouldOtherwiseExpand) {
    struct Case {
        const char* file;
        const char* execStart;
    };
    const Case cases[] = {
        {"run 100%$x.sh", "\"DIR/run 100%%$x.sh\" \"-shed\" \"50%%$$HOME\""},
        // systemd refuses quotes and backslashes in a program path.
        {"run \"q\"\\.sh", "/usr/bin/env \"DIR/run \\\"q\\\"\\\\.sh\" \"-shed\" \"50%%$$HOME\""},
    };
    const fs::path dir = m_dir / "a dir";
    fs::create_directories(dir);
    for (const Case& c : cases) {
        const fs::path program = dir / c.file;
        std::ofstream(program) << "#!/bin/sh\n";
        fs::permissions(program, fs::perms::owner_all);
        const std::string path = program.string();
        m_job.m_strApplication = std::wstring(path.begin(), path.end());
        m_job.m_strParameters = L"-shed  50%$HOME";
        Platform::CJobFolder folder(m_manager);
        ASSERT_EQ(folder.Save(L"Corvane", m_job), S_OK);
        const std::string service = CorvaneTest::ReadAll(folder.ServicePath(L"Corvane"));
        std::string expected = c.execStart;
        expected.replace(expected.find("DIR"), 3, dir.string());
        EXPECT_NE(service.find("ExecStart=" + expected + "\n"), std::string::npos) << service;
        EXPECT_EQ(Verify({folder.TimerPath(L"Corvane"), folder.ServicePath(L"Corvane")}), 0)
            << service;
    }
}

TEST(AccountName, IsDomainBackslashUser) {
    std::wstring account;
    ASSERT_EQ(Platform::GetAccountName(account), ERROR_SUCCESS);
    const size_t slash = account.find(L'\\');
    ASSERT_NE(slash, std::wstring::npos);
    EXPECT_GT(slash, 0u);
    EXPECT_LT(slash + 1, account.size());
}

}  // namespace
}  // namespace Branwick::Testing
