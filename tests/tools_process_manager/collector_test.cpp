// The collector and the end of a process, on real child processes.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/pe_builder.h"
#include "tests/support/temp_folder.h"
#include "tools/ProcessManager/CppSQLite3.h"
#include "tools/ProcessManager/ProcessManager.h"

namespace {

using namespace Branwick;
using CorvaneTest::CChild;
using CorvaneTest::CTempFolder;
using CorvaneTest::SleepAs;
using CorvaneTest::ReadAll;

std::map<DWORD, CProcessInfo> Sample(CProcessCollector& collector) {
    std::map<DWORD, CProcessInfo> map;
    EXPECT_TRUE(collector.Sample(map));
    return map;
}

void WaitForState(DWORD dwPid, char chState) {
    for (int i = 0; i < 500; ++i) {
        const std::string stat = ReadAll("/proc/" + std::to_string(dwPid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == chState) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "process " << dwPid << " never reached state " << chState;
}

TEST(ProcessCollector, CpuShareIsZeroAtFirstSightThenMeasured) {
    CTempFolder dir("corvane-proc");
    CProcessCollector collector((dir / "none.db").string());
    Sample(collector);
    CChild busy("/bin/sh", {"sh", "-c", "while :; do :; done"});
    ASSERT_GT(busy.Pid(), 0U);
    const auto first = Sample(collector);
    ASSERT_TRUE(first.count(busy.Pid()));
    EXPECT_EQ(first.at(busy.Pid()).m_dCpuUsage, 0.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto second = Sample(collector);
    ASSERT_TRUE(second.count(busy.Pid()));
    const CProcessInfo& info = second.at(busy.Pid());
    EXPECT_GT(info.m_dCpuUsage, 0.0);
    EXPECT_LE(info.m_dCpuUsage, 100.0);
    EXPECT_GT(info.m_nUserTime + info.m_nKernelTime, 0U);
    EXPECT_GT(info.m_nMemory, 0U);
    EXPECT_EQ(info.m_strPath.find(L'/'), 0U);  // a native process shows its host executable
    EXPECT_EQ(info.m_strSigner, kNotSigned);
    if (std::filesystem::exists("/var/lib/dpkg/status")) {
        EXPECT_NE(info.m_strDescription, L"");  // the summary of the shell's package
    }
}

TEST(ProcessCollector, ProcessWithoutExecutableShowsItsCommandName) {
    CTempFolder dir("corvane-proc");
    CChild zombie("/bin/true", {"true"});  // not reaped: a zombie has no executable any more
    ASSERT_GT(zombie.Pid(), 0U);
    WaitForState(zombie.Pid(), 'Z');
    CProcessCollector collector((dir / "none.db").string());
    const auto map = Sample(collector);
    ASSERT_TRUE(map.count(zombie.Pid()));
    const CProcessInfo& info = map.at(zombie.Pid());
    EXPECT_EQ(info.m_strName, L"true");
    EXPECT_EQ(info.m_strPath, L"");
    EXPECT_EQ(info.m_strSigner, kNotSigned);
}

TEST(ProcessCollector, StatusComesFromTheReputationTables) {
    CTempFolder dir("corvane-proc");
    const std::string strDb = (dir / "Processes.db").string();
    {
        CppSQLite3DB db;
        db.open(strDb, true);
        db.execDML("CREATE TABLE unwanted (process_name TEXT); CREATE TABLE malicious (process_name TEXT);"
                   "INSERT INTO unwanted VALUES ('listed-both'); INSERT INTO malicious VALUES ('listed-both');"
                   "INSERT INTO malicious VALUES ('listed-bad'); INSERT INTO unwanted VALUES ('LISTED-CASE');");
    }
    CChild both(SleepAs(dir, "listed-both"), {"listed-both", "30"});
    CChild bad(SleepAs(dir, "listed-bad"), {"listed-bad", "30"});
    CChild other(SleepAs(dir, "listed-case"), {"listed-case", "30"});
    CProcessCollector collector(strDb);
    EXPECT_EQ(collector.DatabaseError(), L"");
    const auto map = Sample(collector);
    EXPECT_EQ(map.at(both.Pid()).m_eStatus, ProcessStatus::Unwanted);  // "unwanted" is asked first
    EXPECT_EQ(map.at(bad.Pid()).m_eStatus, ProcessStatus::Malicious);
    EXPECT_EQ(map.at(other.Pid()).m_eStatus, ProcessStatus::NotListed);  // names match exactly
    EXPECT_EQ(map.at(bad.Pid()).m_strName, L"listed-bad");
}

TEST(ProcessCollector, MissingOrEmptyDatabaseMarksNothingAndSaysWhy) {
    CTempFolder dir("corvane-proc");
    const std::filesystem::path missing = dir / "Processes.db";
    CProcessCollector without(missing.string());
    EXPECT_NE(without.DatabaseError().find(L"unavailable"), std::wstring::npos);
    EXPECT_NE(without.DatabaseError().find(L"SQLITE_CANTOPEN[14]"), std::wstring::npos) << without.DatabaseError();
    EXPECT_FALSE(std::filesystem::exists(missing));  // looking never creates the file
    EXPECT_FALSE(Sample(without).empty());

    const std::string strEmpty = (dir / "empty.db").string();
    {
        CppSQLite3DB db;
        db.open(strEmpty, true);
        db.execDML("CREATE TABLE something (x TEXT);");
    }
    CProcessCollector empty(strEmpty);
    EXPECT_NE(empty.DatabaseError().find(L"SQLITE_ERROR[1]: no such table: unwanted"), std::wstring::npos)
        << empty.DatabaseError();
    for (const auto& [dwPid, info] : Sample(empty)) {
        EXPECT_EQ(info.m_eStatus, ProcessStatus::NotListed) << dwPid;
    }
}

TEST(ProcessCollector, ShippedDatabaseIsBuiltAndReadable) {
    CProcessCollector collector(std::string(CORVANE_BIN_DIR) + "/../share/corvane/Processes.db");
    EXPECT_EQ(collector.DatabaseError(), L"");
}

// A Wine process runs the Wine loader, with the Windows executable as its command line.
TEST(ProcessCollector, WineProcessShowsItsWindowsExecutableAndPrefix) {
    CTempFolder dir("corvane-proc");
    const std::filesystem::path prefix = dir / "prefix";
    const std::filesystem::path folder = prefix / "drive_c/Program Files/Test";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    ASSERT_TRUE(CorvaneTest::BuildPe(dir.Path(), "app.exe", CorvaneTest::TwoLanguageVersion())) << ReadAll(dir / "commands.log");
    ASSERT_TRUE(CorvaneTest::MakeCertificate(dir.Path(), "signer", "/CN=Corvane Test Signer"));
    ASSERT_TRUE(CorvaneTest::SignPe(dir.Path(), "signer", dir / "app.exe", folder / "app.exe"));
    const std::string loader = SleepAs(dir, "wine64-preloader");
    const std::string env = "WINEPREFIX=" + prefix.string();

    CChild windows(loader, {"C:\\Program Files\\Test\\app.exe", "30"}, {env});
    CChild host(loader, {(folder / "app.exe").string(), "30"}, {env});
    CChild bare(loader, {"app", "30"}, {env});
    CProcessCollector collector((dir / "none.db").string());
    const auto map = Sample(collector);

    for (const CChild* pChild : {&windows, &host}) {
        const CProcessInfo& info = map.at(pChild->Pid());
        EXPECT_EQ(info.m_strPath, L"C:\\Program Files\\Test\\app.exe");
        EXPECT_EQ(info.m_strName, L"app.exe");
        EXPECT_EQ(info.m_strPrefix, prefix.wstring());
        EXPECT_EQ(info.m_strDescription, L"Testprogramm");
        EXPECT_EQ(info.m_strSigner, L"Corvane Test Signer");
    }
    const CProcessInfo& info = map.at(bare.Pid());
    EXPECT_EQ(info.m_strPath, L"app");
    EXPECT_EQ(info.m_strDescription, L"");
}

TEST(EndProcess, EndsOnlyTheProcessItWasShown) {
    CTempFolder dir("corvane-proc");
    CChild sleeper(SleepAs(dir, "sleeper"), {"sleeper", "30"});
    CProcessCollector collector((dir / "none.db").string());
    CProcessInfo info = Sample(collector).at(sleeper.Pid());

    CProcessInfo reused = info;  // the same id with another start time: a new process
    reused.m_nStartTime += 1;
    EXPECT_NE(EndProcess(reused).find(L"has already ended"), std::wstring::npos);
    EXPECT_TRUE(sleeper.Running());

    EXPECT_EQ(EndProcess(info), L"");
    const int nStatus = sleeper.Reap();
    EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL);
    EXPECT_EQ(EndProcess(info), L"The process " + std::to_wstring(info.m_dwProcessId) + L" (sleeper) has already ended.");
}

TEST(EndProcess, AnotherUsersProcessIsRefusedWithTheReason) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a process as another user";
    }
    CTempFolder dir("corvane-proc");
    CChild sleeper(SleepAs(dir, "sleeper"), {"sleeper", "30"});
    CProcessCollector collector((dir / "none.db").string());
    const CProcessInfo info = Sample(collector).at(sleeper.Pid());
    const pid_t pid = fork();
    if (pid == 0) {
        const bool bRefused = setuid(65534) == 0 && EndProcess(info).find(L"belongs to another user") != std::wstring::npos;
        _exit(bRefused ? 0 : 1);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_TRUE(sleeper.Running());
}

}  // namespace
