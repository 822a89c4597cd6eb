// A Wine prefix's registry on disk: reading the real files, writing only what changed in Wine's
// form, atomically, and never under a running wineserver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform {
namespace {

using RegTest::CTempDir;
using RegTest::ReadAll;
using RegTest::ReadSz;
using RegTest::SubKeys;
using RegTest::Sz;
using RegTest::Touch;

std::string Narrow(const std::wstring& s) {
    return std::string(s.begin(), s.end());
}

void CopyPrefix(const std::string& from, const std::string& to) {
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        Touch(to + "/" + name, ReadAll(from + "/" + name));
    }
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

TEST(WinePrefix, ReadsTheRealPrefix) {
    const std::string dir = RegTest::WineFixture("wine8-win64");
    if (dir.empty()) {
        GTEST_SKIP() << "fixtures not present: " << CORVANE_FIXTURES_DIR;
    }
    CRegistry reg;
    const CStatus status = CRegistry::OpenWinePrefix(dir, {}, &reg);
    ASSERT_TRUE(status.Ok()) << Narrow(status.m_strText);
    EXPECT_TRUE(reg.Is64Bit());
    EXPECT_TRUE(reg.LoadWarnings().empty());
    EXPECT_EQ(ReadSz(reg, HKEY_CURRENT_USER, L"Volatile Environment", L"USERPROFILE"),
              L"C:\\users\\wineuser");
    EXPECT_EQ(
        ReadSz(reg, HKEY_USERS,
               L".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
               L"AppData"),
        L"C:\\users\\wineuser\\AppData\\Roaming");
    // A link key: Time Zones under Windows\CurrentVersion is the one under Windows NT.
    CRegKey tz;
    ASSERT_EQ(
        reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Time Zones",
                    KEY_READ, &tz),
        ERROR_SUCCESS);
    EXPECT_EQ(tz.GetPath(),
              L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones");
    // The 32-bit view: Software\Classes reached through Wow6432Node is a link to
    // Classes\Wow6432Node.
    CRegKey classes32;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_WOW64_32KEY, &classes32),
              ERROR_SUCCESS);
    EXPECT_EQ(classes32.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Classes");
    CRegKey clsid32;
    ASSERT_EQ(reg.OpenKey(HKEY_CLASSES_ROOT, L"CLSID", KEY_WOW64_32KEY, &clsid32), ERROR_SUCCESS);
    EXPECT_EQ(clsid32.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\CLSID");
    CRegKeyInfo info64;
    CRegKeyInfo info32;
    CRegKey clsid64;
    ASSERT_EQ(reg.OpenKey(HKEY_CLASSES_ROOT, L"CLSID", KEY_WOW64_64KEY, &clsid64), ERROR_SUCCESS);
    ASSERT_EQ(clsid64.QueryInfo(&info64), ERROR_SUCCESS);
    ASSERT_EQ(clsid32.QueryInfo(&info32), ERROR_SUCCESS);
    EXPECT_GT(info64.m_dwSubKeys, 100u);
    EXPECT_GT(info32.m_dwSubKeys, 100u);
    // Wine 8 keeps CurrentControlSet as a real key.
    EXPECT_FALSE(SubKeys(reg, HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control").empty());
}

TEST(WinePrefix, FlushWritesOnlyTheChangedFileInWinesForm) {
    const std::string fixture = RegTest::WineFixture("wine8-win64");
    if (fixture.empty()) {
        GTEST_SKIP() << "fixtures not present: " << CORVANE_FIXTURES_DIR;
    }
    CTempDir tmp;
    CopyPrefix(fixture, tmp.Path());
    chmod((tmp.Path() + "/user.reg").c_str(), 0640);
    const struct stat systemBefore = StatOf(tmp.Path() + "/system.reg");
    const std::string userBefore = ReadAll(tmp.Path() + "/user.reg");

    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    CRegKey env;
    ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, L"Environment", KEY_SET_VALUE, &env), ERROR_SUCCESS);
    ASSERT_EQ(env.SetValue(L"ZZ_CORVANE", REG_SZ, Sz(L"x")), ERROR_SUCCESS);
    const CStatus flushed = reg.Flush();
    ASSERT_TRUE(flushed.Ok()) << Narrow(flushed.m_strText);
    EXPECT_FALSE(reg.IsDirty());

    const struct stat systemAfter = StatOf(tmp.Path() + "/system.reg");
    EXPECT_EQ(systemAfter.st_ino, systemBefore.st_ino);
    EXPECT_EQ(systemAfter.st_mtim.tv_nsec, systemBefore.st_mtim.tv_nsec);
    EXPECT_EQ(StatOf(tmp.Path() + "/user.reg").st_mode & 07777, 0640u);

    // The new file is the old one with the key's two time lines renewed and the value added in
    // its sorted place (last here).
    const std::string userAfter = ReadAll(tmp.Path() + "/user.reg");
    const std::size_t section = userBefore.find("\n[Environment] ");
    ASSERT_NE(section, std::string::npos);
    const std::size_t timeLineEnd = userBefore.find('\n', userBefore.find("#time=", section)) + 1;
    const std::size_t sectionEnd = userBefore.find("\n\n", section + 1) + 1;
    EXPECT_EQ(userAfter.substr(0, section), userBefore.substr(0, section));
    EXPECT_EQ(userAfter.substr(userAfter.find('\n', userAfter.find("#time=", section)) + 1,
                               sectionEnd - timeLineEnd),
              userBefore.substr(timeLineEnd, sectionEnd - timeLineEnd));
    EXPECT_NE(userAfter.find("\"ZZ_CORVANE\"=\"x\"\n\n", section), std::string::npos);
    EXPECT_EQ(userAfter.size(), userBefore.size() + std::string("\"ZZ_CORVANE\"=\"x\"\n").size());

    CRegistry again;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &again).Ok());
    EXPECT_EQ(ReadSz(again, HKEY_CURRENT_USER, L"Environment", L"zz_corvane"), L"x");
}

TEST(WinePrefix, BadFilesAreRefusedWithTheirName) {
    CTempDir tmp;
    CRegistry reg;
    CStatus status = CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg);
    EXPECT_EQ(status.m_lCode, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(status.m_strText.find(L"no system.reg"), std::wstring::npos);

    Touch(tmp.Path() + "/system.reg", "WINE REGISTRY Version 2\n\n#arch=win64\n");
    Touch(tmp.Path() + "/userdef.reg", "\xef\xbb\xbfWINE REGISTRY Version 2\n");
    status = CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg);
    EXPECT_EQ(status.m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_NE(status.m_strText.find(L"userdef.reg"), std::wstring::npos);

    Touch(tmp.Path() + "/userdef.reg", "WINE REGISTRY Version 2\n#arch=win32\n");
    status = CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg);
    EXPECT_EQ(status.m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_NE(status.m_strText.find(L"mismatched architecture"), std::wstring::npos);

    // user.reg and userdef.reg may be missing, as in a prefix Wine has not finished.
    unlink((tmp.Path() + "/userdef.reg").c_str());
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    EXPECT_TRUE(reg.Is64Bit());
}

TEST(WinePrefix, NewPrefixFilesHaveWinesHeader) {
    CTempDir tmp;
    CRegistry reg;
    ASSERT_TRUE(
        CRegistry::OpenWinePrefix(tmp.Path(), {.m_bCreate = true, .m_b64Bit = false}, &reg).Ok());
    EXPECT_FALSE(reg.Is64Bit());
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE,
                               "[Software\\\\Corvane] 1700000000\n\"FirstRun\"=dword:1\n")
                    .Ok());
    ASSERT_TRUE(reg.Flush().Ok());
    EXPECT_EQ(
        ReadAll(tmp.Path() + "/system.reg"),
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n"
        "\n[Software\\\\Corvane] 1700000000\n#time=1da1747c66d0000\n\"FirstRun\"=dword:00000001\n");
    EXPECT_FALSE(std::filesystem::exists(tmp.Path() + "/user.reg")) << "nothing changed there";
}

TEST(WinePrefix, FileWithUnreadableLinesIsReadButNotWritten) {
    CTempDir tmp;
    const std::string system =
        "WINE REGISTRY Version 2\n#arch=win64\n[Software\\\\A]\n\"v\"=\"1\"\ngarbage\n";
    Touch(tmp.Path() + "/system.reg", system);
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    ASSERT_EQ(reg.LoadWarnings().size(), 1u);
    EXPECT_NE(reg.LoadWarnings()[0].find(L"system.reg:5: Unrecognized input 'garbage'"),
              std::wstring::npos);
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\A", L"v"), L"1");
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\B", 0, &key), ERROR_SUCCESS);
    const CStatus status = reg.Flush();
    EXPECT_EQ(status.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(status.m_strText.find(L"would be lost"), std::wstring::npos);
    EXPECT_EQ(ReadAll(tmp.Path() + "/system.reg"), system);
    EXPECT_TRUE(reg.IsDirty());
    ASSERT_TRUE(reg.Reload().Ok());
    EXPECT_FALSE(reg.IsDirty());
    EXPECT_EQ(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software"), std::vector<std::wstring>{L"A"});
}

// A registry file may be a link (a prefix assembled by a launcher), but a write through it stays in
// the prefix: one that leads elsewhere is refused and the file there is left as it was.
TEST(WinePrefix, WritesThroughALinkedFileOnlyInsideThePrefix) {
    CTempDir tmp;
    const std::string outside = tmp.Path() + "/elsewhere";
    const std::string prefix = tmp.Path() + "/prefix";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(prefix + "/shared");
    Touch(prefix + "/system.reg", "WINE REGISTRY Version 2\n");
    Touch(outside + "/user.reg", "WINE REGISTRY Version 2\n");
    Touch(prefix + "/shared/userdef.reg", "WINE REGISTRY Version 2\n");
    ASSERT_EQ(symlink((outside + "/user.reg").c_str(), (prefix + "/user.reg").c_str()), 0);
    ASSERT_EQ(symlink("shared/userdef.reg", (prefix + "/userdef.reg").c_str()), 0);
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(prefix, {}, &reg).Ok());
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Linked", 0, &key), ERROR_SUCCESS);
    const CStatus refused = reg.Flush();
    EXPECT_FALSE(refused.Ok());
    EXPECT_NE(refused.m_strText.find(L"outside"), std::wstring::npos) << Narrow(refused.m_strText);
    EXPECT_EQ(ReadAll(outside + "/user.reg"), "WINE REGISTRY Version 2\n");

    ASSERT_TRUE(reg.Reload().Ok());
    ASSERT_EQ(reg.CreateKey(HKEY_USERS, L".Default\\Software\\Linked", 0, &key), ERROR_SUCCESS);
    ASSERT_TRUE(reg.Flush().Ok());
    EXPECT_TRUE(std::filesystem::is_symlink(prefix + "/userdef.reg"));
    EXPECT_NE(ReadAll(prefix + "/shared/userdef.reg").find("[Software\\\\Linked]"), std::string::npos);
}

// Another program (a second corvane-cli, regedit under Wine) wrote the file after we read it:
// writing our picture over it would undo that change without a word.
TEST(WinePrefix, AFileChangedSinceItWasReadIsNotOverwritten) {
    CTempDir tmp;
    Touch(tmp.Path() + "/system.reg", "WINE REGISTRY Version 2\n");
    Touch(tmp.Path() + "/user.reg", "WINE REGISTRY Version 2\n");
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    EXPECT_FALSE(reg.ChangedOnDisk());
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Ours", 0, &key), ERROR_SUCCESS);
    ASSERT_TRUE(reg.Flush().Ok());
    EXPECT_FALSE(reg.ChangedOnDisk()) << "our own write is no change by another";

    const std::string theirs = ReadAll(tmp.Path() + "/user.reg") + "\n[Software\\\\Theirs] 1700000000\n";
    Touch(tmp.Path() + "/user.reg.new", theirs);
    std::filesystem::rename(tmp.Path() + "/user.reg.new", tmp.Path() + "/user.reg");
    EXPECT_TRUE(reg.ChangedOnDisk());
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Second", 0, &key), ERROR_SUCCESS);
    const CStatus refused = reg.Flush();
    EXPECT_EQ(refused.m_lCode, ERROR_CANTWRITE);
    EXPECT_EQ(ReadAll(tmp.Path() + "/user.reg"), theirs);

    ASSERT_TRUE(reg.Reload().Ok());
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Second", 0, &key), ERROR_SUCCESS);
    ASSERT_TRUE(reg.Flush().Ok());
    const std::string now = ReadAll(tmp.Path() + "/user.reg");
    EXPECT_NE(now.find("[Software\\\\Theirs]"), std::string::npos);
    EXPECT_NE(now.find("[Software\\\\Second]"), std::string::npos);
}

TEST(WinePrefix, LinesLongerThanTheReadBuffer) {
    CTempDir tmp;
    std::string text = "WINE REGISTRY Version 2\n[Big]\n\"Blob\"=hex:";
    const std::size_t bytes = 700000;  // 2.1 MB of text on one line, twice the read buffer
    for (std::size_t i = 0; i < bytes; ++i) {
        text += i + 1 < bytes ? "ab," : "ab";
    }
    text += "\n[After]\n\"v\"=\"1\"\n";
    Touch(tmp.Path() + "/system.reg", text);
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    EXPECT_TRUE(reg.LoadWarnings().empty());
    CRegKey key;
    DWORD type = 0;
    CRegBytes data;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Big", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.QueryValue(L"Blob", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data.size(), bytes);
    EXPECT_EQ(data.back(), 0xab);
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"After", L"v"), L"1");
}

// The server folder of a prefix as Debian's Wine makes it when /run/user is missing: the
// prefix's "wineserver" file names a folder in TMPDIR.
std::string MakeServerDir(const std::string& prefix, const std::string& root) {
    const struct stat st = StatOf(prefix);
    char name[64];
    std::snprintf(name, sizeof(name), "server-%lx-%lx", static_cast<unsigned long>(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    const std::string dir = root + "/" + name;
    std::filesystem::create_directories(dir);
    return dir;
}

TEST(WinePrefix, RefusesToWriteWhileAWineserverHoldsItsLock) {
    CTempDir tmp;
    CTempDir serverRoot;  // stands for TMPDIR/wine-XXXXXX
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    ASSERT_EQ(serverRoot.Path().rfind("/tmp/", 0), 0u);
    if (base != "/tmp") {
        GTEST_SKIP() << "TMPDIR is not /tmp";
    }
    Touch(tmp.Path() + "/wineserver", serverRoot.Path().substr(5) + "\n");
    Touch(tmp.Path() + "/system.reg", "WINE REGISTRY Version 2\n\n#arch=win64\n");
    const std::string lockPath = MakeServerDir(tmp.Path(), serverRoot.Path()) + "/lock";
    const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lockFd, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_len = 1;
    ASSERT_EQ(fcntl(lockFd, F_SETLK, &fl), 0);

    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok()) << "reading is allowed";
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\X", 0, &key), ERROR_SUCCESS);
    const CStatus refused = reg.Flush();
    EXPECT_EQ(refused.m_lCode, ERROR_SHARING_VIOLATION);
    EXPECT_NE(refused.m_strText.find(L"wineserver (process " + std::to_wstring(getpid()) + L")"),
              std::wstring::npos)
        << Narrow(refused.m_strText);
    EXPECT_EQ(ReadAll(tmp.Path() + "/system.reg"), "WINE REGISTRY Version 2\n\n#arch=win64\n");

    close(lockFd);  // the server has gone
    EXPECT_TRUE(reg.Flush().Ok());
    EXPECT_NE(ReadAll(tmp.Path() + "/system.reg").find("[Software\\\\X]"), std::string::npos);
}

TEST(WinePrefix, RefusesToWriteWhileAWineserverProcessServesThePrefix) {
    CTempDir tmp;
    Touch(tmp.Path() + "/system.reg", "WINE REGISTRY Version 2\n");
    // A process named wineserver whose working folder is the prefix's server folder.
    const std::string program = tmp.Path() + "/wineserver";
    std::filesystem::copy_file("/bin/sleep", program);
    chmod(program.c_str(), 0755);
    const std::string serverDir = MakeServerDir(tmp.Path(), tmp.Path() + "/servers");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(serverDir.c_str()) == 0) {
            execl(program.c_str(), "wineserver", "30", static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\X", 0, &key), ERROR_SUCCESS);
    CStatus status;
    for (int i = 0; i < 500; ++i) {  // until the child has exec'd
        status = reg.Flush();
        if (!status.Ok()) {
            break;
        }
        ASSERT_EQ(key.SetValue(L"n", REG_DWORD, RegTest::Dword(static_cast<std::uint32_t>(i))),
                  ERROR_SUCCESS);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(status.m_lCode, ERROR_SHARING_VIOLATION);
    EXPECT_NE(status.m_strText.find(L"(process " + std::to_wstring(child) + L")"),
              std::wstring::npos)
        << Narrow(status.m_strText);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(reg.Flush().Ok());
}

// Looking for a wineserver reads every process's entry in /proc; a process that ends between the
// opening and the reading of its entry once made the whole save fail.
TEST(WinePrefix, ProcessesEndingWhileTheSaveLooksForAWineserverDoNotFailIt) {
    CTempDir tmp;
    Touch(tmp.Path() + "/system.reg", "WINE REGISTRY Version 2\n");
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok());
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\X", 0, &key), ERROR_SUCCESS);
    std::atomic<bool> bStop{false};
    std::thread churn([&bStop] {
        while (!bStop) {
            const pid_t child = fork();
            if (child == 0) {
                _exit(0);
            }
            waitpid(child, nullptr, 0);
        }
    });
    int nFailed = 0;
    for (std::uint32_t i = 0; i < 500; ++i) {
        ASSERT_EQ(key.SetValue(L"n", REG_DWORD, RegTest::Dword(i)), ERROR_SUCCESS);
        try {
            nFailed += reg.Flush().Ok() ? 0 : 1;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "save " << i << " threw: " << e.what();
            break;
        }
    }
    bStop = true;
    churn.join();
    EXPECT_EQ(nFailed, 0);
}

// Flush killed at random instants: every file is the old one or a complete new one.
TEST(WinePrefix, KilledFlushLeavesOldOrNewFiles) {
    CTempDir tmp;
    {
        CRegistry reg;
        ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {.m_bCreate = true}, &reg).Ok());
        std::string text;
        for (int i = 0; i < 8000; ++i) {
            text += "[Software\\\\Bulk\\\\Key" + std::to_string(i) +
                    "]\n\"Path\"=\"C:\\\\Program Files\\\\App" + std::to_string(i) +
                    "\\\\app.exe\"\n\"Size\"=dword:" + std::to_string(i) + "\n";
        }
        ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, text).Ok());
        ASSERT_TRUE(reg.ImportText(HKEY_CURRENT_USER, "[Software\\\\Counter]\n").Ok());
        ASSERT_TRUE(reg.Flush().Ok());
    }
    const std::string files[] = {tmp.Path() + "/system.reg", tmp.Path() + "/user.reg"};
    std::string before[] = {ReadAll(files[0]), ReadAll(files[1])};

    auto runChild = [&](int round, int readyFd) {
        CRegistry reg;
        if (!CRegistry::OpenWinePrefix(tmp.Path(), {}, &reg).Ok()) {
            _exit(2);
        }
        CRegKey machine;
        CRegKey user;
        reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Bulk\\Key0", 0, &machine);
        reg.OpenKey(HKEY_CURRENT_USER, L"Software\\Counter", 0, &user);
        machine.SetValue(L"Round", REG_DWORD, RegTest::Dword(static_cast<std::uint32_t>(round)));
        user.SetValue(L"Round", REG_DWORD, RegTest::Dword(static_cast<std::uint32_t>(round)));
        const char ready = 'r';
        (void)!write(readyFd, &ready, 1);
        _exit(reg.Flush().Ok() ? 0 : 3);
    };

    std::mt19937 random(12345);
    double flushMicros = 0;
    int killed = 0;
    int changedFiles = 0;
    for (int round = 1; killed < 50 && round <= 200; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            runChild(round, pipeFds[1]);
        }
        close(pipeFds[1]);
        char ready = 0;
        ASSERT_EQ(read(pipeFds[0], &ready, 1), 1);
        close(pipeFds[0]);
        const auto start = std::chrono::steady_clock::now();
        int status = 0;
        if (round == 1) {
            waitpid(child, &status, 0);  // the first round measures how long a Flush takes
            flushMicros =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(
                    0, static_cast<int>(flushMicros * 1.2))(random)));
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            killed += WIFSIGNALED(status) ? 1 : 0;
        }
        const std::string round4 = "\"Round\"=dword:" + [round] {
            char hex[16];
            std::snprintf(hex, sizeof(hex), "%08x", round);
            return std::string(hex);
        }() + "\n";
        for (int f = 0; f < 2; ++f) {
            const std::string now = ReadAll(files[f]);
            if (now == before[f]) {
                continue;
            }
            ++changedFiles;
            if (now.empty()) {
                // Seen once under load and not reproduced since: say what the file system shows.
                struct stat st {};
                const int nStat = stat(files[f].c_str(), &st);
                const int nErrno = errno;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ADD_FAILURE() << "round " << round << ": " << files[f] << " read empty; stat "
                              << nStat << " errno " << nErrno << " size " << st.st_size
                              << "; 50 ms later " << ReadAll(files[f]).size() << " bytes";
            }
            // Not the old file: it must be the complete new one.
            EXPECT_NE(now.find(round4), std::string::npos)
                << "round " << round << " file " << files[f];
            EXPECT_EQ(now.size(), before[f].size() + (round == 1 || before[f].find("\"Round\"") ==
                                                                        std::string::npos
                                                          ? round4.size()
                                                          : 0))
                << "round " << round << " file " << files[f];
            before[f] = now;
        }
        CRegistry check;
        ASSERT_TRUE(CRegistry::OpenWinePrefix(tmp.Path(), {}, &check).Ok()) << "round " << round;
        EXPECT_TRUE(check.LoadWarnings().empty()) << "round " << round;
    }
    EXPECT_GE(killed, 50);
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.Path())) {
        leftovers +=
            entry.path().filename().string().find(".corvane-") != std::string::npos ? 1 : 0;
    }
    std::printf("killed %d flushes, %d changed files, %d temporary files left\n", killed,
                changedFiles, leftovers);
}

}  // namespace
}  // namespace Branwick::Platform
