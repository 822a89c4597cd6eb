// corvane-cli as a user runs it: usage and exit codes, scan and fix of the demo prefix, the
// refusal to write while a wineserver serves the prefix, and the smaller commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "core/RegError.h"
#include "core/Text.h"
#include "platform/demo/demo.h"
#include "platform/target/target.h"
#include "tests/platform_registry/hive_util.h"
#include "tests/support/child_process.h"
#include "tests/support/cli_process.h"
#include "tests/support/format_data.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wine_fixture.h"
#include "tools/FileFormatHelp/FileFormatHelp.h"
#include "tools/FileFormatHelp/FormatServiceEndpoint.h"

namespace {

namespace fs = std::filesystem;

using SResult = CorvaneTest::SCliResult;

using CorvaneTest::ReadAll;

class CliTest : public ::testing::Test {
protected:
    CliTest() { fs::create_directories(m_folder / "config"); }

    // Runs corvane-cli with the arguments; its logs and configuration stay in the test's folder.
    // With fdTerminal (the slave end of a terminal), stderr goes there instead of strErr.
    SResult Run(const std::vector<std::string>& vcArgs, int fdTerminal = -1) {
        return CorvaneTest::CCliProcess(m_folder, vcArgs, fdTerminal).Wait();
    }

    std::string Prefix() {
        const std::string strPrefix = (m_folder / "prefix").string();
        if (!fs::exists(strPrefix)) {
            std::wstring strError;
            EXPECT_TRUE(Branwick::Platform::MakeDemoPrefix(strPrefix, nullptr, strError))
                << Branwick::WideToUtf8(strError);
        }
        return strPrefix;
    }

    CorvaneTest::CTempFolder m_temp{"corvane-cli"};
    const fs::path m_folder = m_temp.Path();
};

// Today as the schedule shows a trigger's first day.
std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char szDate[16];
    std::strftime(szDate, sizeof(szDate), "%d/%m/%Y", &local);
    return szDate;
}

int Lines(const std::string& strText) {
    return static_cast<int>(std::count(strText.begin(), strText.end(), '\n'));
}

Json::Value ParseJson(const SResult& r) {
    Json::Value root;
    std::istringstream in(r.strOut);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &root, nullptr)) << r.strOut;
    return root;
}

// The full paths of a JSON scan's findings that start with strStart, in the order numbered.
// A category kept quiet after a fix would hide its findings: none may be.
std::vector<std::string> FindingPaths(const Json::Value& root, const std::string& strStart = "") {
    std::vector<std::string> paths;
    for (const Json::Value& category : root["categories"]) {
        EXPECT_FALSE(category["quiet"].asBool()) << category["category"];
        for (const Json::Value& finding : category["findings"]) {
            if (finding["path"].asString().rfind(strStart, 0) == 0) {
                paths.push_back(finding["path"].asString());
            }
        }
    }
    return paths;
}

TEST_F(CliTest, HelpAndBadUsage) {
    SResult r = Run({"--help"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_NE(r.strOut.find("Exit status"), std::string::npos);
    for (const char* pszCommand :
         {"scan", "fix", "backups", "ignore", "history", "settings", "schedule"}) {
        r = Run({pszCommand, "--help"});
        EXPECT_EQ(r.nStatus, 0) << pszCommand;
        EXPECT_NE(r.strOut.find(std::string("corvane-cli [TARGET] ") + pszCommand), std::string::npos)
            << r.strOut;
    }
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"scan", "--bogus"},
                                               {"scan", "--categories", "com,nonsense"},
                                               {"fix", "--only", "x-y"},
                                               {"--prefix"},
                                               {"--windows", "/mnt"},
                                               {"--demo", "--prefix", "/x", "scan"},
                                               {"backups", "restore"},
                                               {"settings", "set", "colour", "blue"},
                                               {"schedule", "add", "daily", "25:00"},
                                               {"schedule", "add", "monthly", "30", "feb", "9:00"}}) {
        // Given a sound target, so that only the usage is wrong.
        std::vector<std::string> args = {"--prefix", Prefix()};
        if (!bad.empty() && bad[0].rfind("--", 0) == 0) {
            args.clear();
        }
        args.insert(args.end(), bad.begin(), bad.end());
        r = Run(args);
        EXPECT_EQ(r.nStatus, 2) << ::testing::PrintToString(bad) << r.strErr;
        // The scheduled task may first warn that there is no user manager to run it.
        if (bad.empty() || bad[0] != "schedule") {
            EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
            EXPECT_EQ(r.strErr.rfind("corvane-cli: ", 0), 0u) << r.strErr;
        }
        EXPECT_NE(r.strErr.find("corvane-cli: "), std::string::npos) << r.strErr;
    }
}

TEST_F(CliTest, AMissingTargetIsAFailureInOneSentence) {
    const SResult r = Run({"--prefix", (m_folder / "nowhere").string(), "scan"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
}

TEST_F(CliTest, ScanOfTheDemoAsTextAndJson) {
    SResult r = Run({"--demo", "scan"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("Total: "), std::string::npos) << r.strOut;

    r = Run({"--prefix", Prefix(), "scan", "--json", "--categories", "uninstall,junk-files"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const Json::Value root = ParseJson(r);
    ASSERT_EQ(root["categories"].size(), 2u);
    EXPECT_EQ(root["categories"][0]["category"].asString(), "uninstall");
    EXPECT_EQ(root["categories"][1]["category"].asString(), "junk-files");
    int nTotal = 0;
    for (const Json::Value& category : root["categories"]) {
        for (const Json::Value& finding : category["findings"]) {
            EXPECT_EQ(finding["id"].asInt(), ++nTotal);
            EXPECT_FALSE(finding["path"].asString().empty());
        }
    }
    EXPECT_EQ(root["total"].asInt(), nTotal);
}

// What `wine reg query` does with a printed path: opens it as written, in the native view.
TEST_F(CliTest, EveryPrintedKeyIsFoundWhereThePathSaysAndItsViewIsNamed) {
    const std::string strPrefix = Prefix();
    const SResult r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    std::wstring strError;
    const auto pTarget = Branwick::Platform::CTarget::OpenWinePrefix(strPrefix, strError);
    ASSERT_NE(pTarget, nullptr) << Branwick::WideToUtf8(strError);
    int n32 = 0;
    const Json::Value root = ParseJson(r);
    for (const Json::Value& category : root["categories"]) {
        for (const Json::Value& finding : category["findings"]) {
            const std::string strPath = finding["path"].asString();
            if (strPath.rfind("HKEY_", 0) != 0) {
                EXPECT_TRUE(finding["view"].isNull()) << strPath;
                continue;
            }
            const std::string strView = finding["view"].asString();
            EXPECT_TRUE(strView == "32-bit" || strView == "64-bit") << strPath;
            n32 += strView == "32-bit" ? 1 : 0;
            const std::size_t nSlash = std::min(strPath.find('\\'), strPath.size());
            const Branwick::HKEY hRoot =
                Branwick::GetRootKeyHandle(Branwick::Utf8ToWide(strPath.substr(0, nSlash)));
            const std::string strKey = nSlash < strPath.size() ? strPath.substr(nSlash + 1) : "";
            Branwick::Platform::CRegKey key;
            EXPECT_EQ(
                pTarget->Registry().OpenKey(hRoot, Branwick::Utf8ToWide(strKey),
                                            Branwick::KEY_READ | Branwick::KEY_WOW64_64KEY, &key),
                Branwick::ERROR_SUCCESS)
                << strPath;
        }
    }
    EXPECT_GT(n32, 0) << r.strOut;
}

TEST_F(CliTest, FixTakesABackupFirstAndAScanAfterwardsFindsNothingOfWhatWasFixed) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "fix"});
    ASSERT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("Backup: Corvanes_"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("selected problem(s) fixed"), std::string::npos) << r.strOut;
    r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(FindingPaths(ParseJson(r)).size(), 0u) << r.strOut;
}

// The host path of a Windows path on drive C: of a prefix.
fs::path DriveCPath(const std::string& strPrefix, const std::string& strWindows) {
    std::string strRelative = strWindows.substr(3);
    std::replace(strRelative.begin(), strRelative.end(), '\\', '/');
    return fs::path(strPrefix) / "drive_c" / strRelative;
}

TEST_F(CliTest, RestoringTheFixBackupBringsTheKeysAndFilesBackAndRemovesTheBackup) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::vector<std::string> keysBefore = FindingPaths(ParseJson(r), "HKEY_");
    const std::vector<std::string> files = FindingPaths(ParseJson(r), "C:\\");
    ASSERT_FALSE(keysBefore.empty()) << r.strOut;
    ASSERT_GE(files.size(), 2u) << "junk files and shortcuts";
    std::map<fs::path, std::string> contents;
    for (const std::string& strFile : files) {
        const fs::path host = DriveCPath(strPrefix, strFile);
        if (host.extension() != ".lnk") {  // a shortcut keeps its bytes: it must still load
            std::ofstream(host, std::ios::binary) << "bytes of " << strFile << '\0' << '\xff';
        }
        contents[host] = ReadAll(host);
    }
    ASSERT_EQ(Run({"--prefix", strPrefix, "fix"}).nStatus, 0);
    for (const auto& [host, strBytes] : contents) {
        EXPECT_FALSE(fs::exists(host)) << host;
    }
    r = Run({"--prefix", strPrefix, "backups", "list"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    ASSERT_EQ(Lines(r.strOut), 1) << r.strOut;
    EXPECT_NE(r.strOut.find("\t" + std::to_string(files.size()) + " file(s)\n"), std::string::npos)
        << r.strOut;
    const std::string strName = r.strOut.substr(0, r.strOut.find('\t'));

    r = Run({"--prefix", strPrefix, "backups", "restore", strName});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(Run({"--prefix", strPrefix, "backups", "list"}).strOut, "");
    for (const auto& [host, strBytes] : contents) {
        EXPECT_EQ(ReadAll(host), strBytes) << host;
    }
    // Every finding is back, the files' as well.
    r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(FindingPaths(ParseJson(r), "HKEY_"), keysBefore);
    EXPECT_EQ(FindingPaths(ParseJson(r), "C:\\"), files);
}

// A file that has appeared where a backed-up file was is never overwritten: the restore says so,
// fails, and keeps the backup with the file in it; deleting the backup deletes its files.
TEST_F(CliTest, ARestoreNeverReplacesAFileThatAppearedSince) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "scan", "--json", "--categories", "junk-files"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::vector<std::string> files = FindingPaths(ParseJson(r), "C:\\");
    ASSERT_FALSE(files.empty());
    ASSERT_EQ(Run({"--prefix", strPrefix, "fix", "--categories", "junk-files"}).nStatus, 0);
    const fs::path taken = DriveCPath(strPrefix, files[0]);
    std::ofstream(taken) << "new";
    r = Run({"--prefix", strPrefix, "backups", "list"});
    const std::string strName = r.strOut.substr(0, r.strOut.find('\t'));

    r = Run({"--prefix", strPrefix, "backups", "restore", strName});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("a file of that name has appeared since"), std::string::npos)
        << r.strErr;
    EXPECT_EQ(ReadAll(taken), "new");
    for (std::size_t i = 1; i < files.size(); ++i) {
        EXPECT_TRUE(fs::exists(DriveCPath(strPrefix, files[i]))) << files[i];
    }
    r = Run({"--prefix", strPrefix, "backups", "list"});
    EXPECT_NE(r.strOut.find(strName + "\t"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("\t1 file(s)\n"), std::string::npos) << r.strOut;

    ASSERT_EQ(Run({"--prefix", strPrefix, "backups", "delete", strName}).nStatus, 0);
    EXPECT_EQ(Run({"--prefix", strPrefix, "backups", "list"}).strOut, "");
    for (const auto& entry : fs::recursive_directory_iterator(strPrefix)) {
        EXPECT_EQ(entry.path().string().find("Backups/" + strName), std::string::npos)
            << entry.path();
    }
}

TEST_F(CliTest, AnIgnoredFindingIsLeftOutOfLaterScans) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::vector<std::string> before = FindingPaths(ParseJson(r));
    ASSERT_GE(before.size(), 2u);

    r = Run({"--prefix", strPrefix, "ignore", "add", "2"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "Ignored: " + before[1] + "\n");
    r = Run({"--prefix", strPrefix, "ignore", "list"});
    EXPECT_NE(r.strOut.find(before[1]), std::string::npos) << r.strOut;
    r = Run({"--prefix", strPrefix, "scan", "--json"});
    std::vector<std::string> expected = before;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(FindingPaths(ParseJson(r)), expected);

    ASSERT_EQ(Run({"--prefix", strPrefix, "ignore", "remove", "1"}).nStatus, 0);
    EXPECT_EQ(FindingPaths(ParseJson(Run({"--prefix", strPrefix, "scan", "--json"}))), before);
}

// Holds a wineserver's lock for the prefix, as a running server does (the prefix's
// "wineserver" file names the server's folder below /tmp).
class CServerLock {
public:
    CServerLock(const std::string& strPrefix, const fs::path& root) {
        struct stat st {};
        stat(strPrefix.c_str(), &st);
        char szName[64];
        std::snprintf(szName, sizeof(szName), "server-%lx-%lx", static_cast<unsigned long>(st.st_dev),
                      static_cast<unsigned long>(st.st_ino));
        const fs::path dir = root / szName;
        fs::create_directories(dir);
        std::ofstream(strPrefix + "/wineserver") << root.string().substr(5) << "\n";
        m_fd = open((dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_len = 1;
        m_bHeld = m_fd >= 0 && fcntl(m_fd, F_SETLK, &fl) == 0;
    }
    ~CServerLock() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    bool Held() const { return m_bHeld; }

private:
    int m_fd = -1;
    bool m_bHeld = false;
};

TEST_F(CliTest, RefusesToWriteWhileAWineserverHoldsItsLock) {
    const char* pszTmp = std::getenv("TMPDIR");
    if (pszTmp != nullptr && *pszTmp != '\0' && std::string(pszTmp) != "/tmp") {
        GTEST_SKIP() << "the server folder must lie below /tmp; TMPDIR is " << pszTmp;
    }
    const std::string strPrefix = Prefix();
    const fs::path root = fs::path("/tmp") / ("corvane-cli-server-" + std::to_string(getpid()));
    fs::remove_all(root);
    const std::string strBefore = ReadAll(strPrefix + "/system.reg");
    {
        CServerLock lock(strPrefix, root);
        ASSERT_TRUE(lock.Held());
        for (const std::vector<std::string>& write :
             std::vector<std::vector<std::string>>{{"fix"}, {"history"}, {"backups", "restore", "x"},
                                                  {"startup", "disable", "1"}}) {
            std::vector<std::string> args = {"--prefix", strPrefix};
            args.insert(args.end(), write.begin(), write.end());
            const SResult r = Run(args);
            EXPECT_EQ(r.nStatus, 1) << write[0];
            EXPECT_NE(r.strErr.find("wineserver"), std::string::npos) << r.strErr;
            EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
        }
        // Reading is allowed, with one line on what a running server means for it.
        const SResult r = Run({"--prefix", strPrefix, "scan"});
        EXPECT_EQ(r.nStatus, 0);
        EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
        EXPECT_NE(r.strErr.find("wineserver"), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("half a minute"), std::string::npos) << r.strErr;
    }
    fs::remove_all(root);
    EXPECT_EQ(ReadAll(strPrefix + "/system.reg"), strBefore);
}

TEST_F(CliTest, SettingsBackupsAndIgnoreList) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "settings", "set", "backup-before-fix", "off"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    r = Run({"--prefix", strPrefix, "settings", "set", "categories", "uninstall,fonts"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    r = Run({"--prefix", strPrefix, "settings", "show"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("backup-before-fix off"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("categories uninstall,fonts\n"), std::string::npos) << r.strOut;

    r = Run({"--prefix", strPrefix, "backups", "list"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "");
    r = Run({"--prefix", strPrefix, "backups", "delete", "Corvanes_nothing"});
    EXPECT_EQ(r.nStatus, 1);
    r = Run({"--prefix", strPrefix, "ignore", "list"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    r = Run({"--prefix", strPrefix, "ignore", "remove", "1"});
    EXPECT_EQ(r.nStatus, 1);
}

// Every file and folder below root: kind and permissions, time of change, and a file's contents.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    auto add = [&](const fs::path& path) {
        struct stat st {};
        lstat(path.c_str(), &st);
        std::string strState = std::to_string(st.st_mode) + " " +
                               std::to_string(st.st_mtim.tv_sec) + "." +
                               std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            strState += " " + ReadAll(path);
        }
        out[path.lexically_relative(root).string()] = strState;
    };
    add(root);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        add(entry.path());
    }
    return out;
}

// The names whose state differs between two snapshots.
std::vector<std::string> Changed(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
    std::vector<std::string> names;
    for (const auto& [name, state] : after) {
        const auto it = before.find(name);
        if (it == before.end() || it->second != state) {
            names.push_back(name);
        }
    }
    for (const auto& [name, state] : before) {
        if (after.count(name) == 0) {
            names.push_back(name + " (gone)");
        }
    }
    return names;
}

TEST_F(CliTest, CommandsThatOnlyReadLeaveTheTargetAsTheyFoundIt) {
    const std::string strPrefix = Prefix();
    const std::vector<std::vector<std::string>> reads = {
        {"scan"},           {"scan", "--json"},   {"backups", "list"},
        {"ignore", "list"}, {"settings", "show"}, {"schedule", "list"}};
    auto check = [&](const std::string& strState) {
        for (const std::vector<std::string>& read : reads) {
            const auto before = Snapshot(strPrefix);
            std::vector<std::string> args = {"--prefix", strPrefix};
            args.insert(args.end(), read.begin(), read.end());
            const SResult r = Run(args);
            EXPECT_EQ(r.nStatus, 0) << strState << ": " << read[0] << " " << r.strErr;
            if (read[0] == "scan") {
                EXPECT_EQ(r.strErr, "") << strState;  // no wineserver runs here
            }
            EXPECT_EQ(Changed(before, Snapshot(strPrefix)), std::vector<std::string>())
                << strState << ": " << read[0];
        }
    };
    check("new to the program");
    ASSERT_EQ(Run({"--prefix", strPrefix, "settings", "set", "fix-after-scan", "on"}).nStatus, 0);
    ASSERT_EQ(Run({"--prefix", strPrefix, "ignore", "add", "1"}).nStatus, 0);
    ASSERT_EQ(Run({"--prefix", strPrefix, "fix", "--only", "2"}).nStatus, 0);
    check("with the program's files");
}

TEST_F(CliTest, ProgressOnATerminalIsRedrawnAtMostTenTimesASecondAndNeverPasses100) {
    const std::string strPrefix = Prefix();
    int fdMaster = -1, fdSlave = -1;
    ASSERT_EQ(openpty(&fdMaster, &fdSlave, nullptr, nullptr, nullptr), 0);
    // Read while the program writes: a full terminal buffer would stop it.
    std::string strShown;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = read(fdMaster, buffer, sizeof(buffer))) > 0) {
            strShown.append(buffer, static_cast<std::size_t>(n));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const SResult r = Run({"--prefix", strPrefix, "scan"}, fdSlave);
    const double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fdSlave);  // the reader sees the end once no slave end is open
    reader.join();
    close(fdMaster);
    EXPECT_EQ(r.nStatus, 0) << strShown;
    int nDraws = 0;
    for (std::size_t n = strShown.find("\r\033[KScanning"); n != std::string::npos;
         n = strShown.find("\r\033[KScanning", n + 1)) {
        ++nDraws;
        const std::size_t nPercent = strShown.find('%', n);
        ASSERT_NE(nPercent, std::string::npos);
        const std::size_t nDigits = strShown.find_last_not_of("0123456789", nPercent - 1) + 1;
        EXPECT_LE(std::stoi(strShown.substr(nDigits, nPercent - nDigits)), 100);
    }
    EXPECT_GT(nDraws, 0) << strShown;
    EXPECT_LE(nDraws, static_cast<int>(10 * dSeconds) + 2) << dSeconds << " s";
}

TEST_F(CliTest, ScheduleAddsEveryKindOfTrigger) {
    const std::string strPrefix = Prefix();
    const std::vector<std::vector<std::string>> kinds = {
        {"once", "2031-06-30", "14:30"}, {"daily", "08:00"},
        {"weekly", "mon,sun", "9:05"},   {"monthly", "1,31", "jan,feb", "10:00"},
        {"monthly", "last", "fri", "all", "18:00"},
        {"idle", "25"},                  {"startup"},
        {"logon"}};
    for (const std::vector<std::string>& kind : kinds) {
        std::vector<std::string> args = {"--prefix", strPrefix, "schedule", "add"};
        args.insert(args.end(), kind.begin(), kind.end());
        EXPECT_EQ(Run(args).nStatus, 0) << kind[0];
    }
    const SResult r = Run({"--prefix", strPrefix, "schedule", "list"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut,
              "1. At 14:30 on 30/06/2031\n"
              "2. At 08:00 every day, starting " + Today() + "\n"
              "3. At 09:05 every Monday and Sunday, starting " + Today() + "\n"
              "4. At 10:00 on days 1 and 31 of January and February, starting " + Today() + "\n"
              "5. At 18:00 on the last Friday of every month, starting " + Today() + "\n"
              "6. When the computer has been idle for 25 minutes (runs only while Corvane is running)\n"
              "7. At system startup\n"
              "8. At logon\n");
}

// Every command on a copy of a prefix as Wine made it. Its findings are whatever Wine's own
// registry holds; what the test insists on is that each command works there and that a fix
// leaves nothing of what it fixed.
TEST_F(CliTest, EveryCommandOnACopyOfTheRealWinePrefix) {
    const fs::path fixture = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64";
    if (!fs::exists(fixture / "drive_c-listing.tsv")) {
        GTEST_SKIP() << "fixture " << fixture << " is absent";
    }
    const std::string strPrefix = (m_folder / "wine").string();
    ASSERT_TRUE(Branwick::Testing::MaterialiseWineFixture(fixture, strPrefix));
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--prefix", strPrefix});
        return Run(args);
    };
    SResult r = run({"scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::vector<std::string> found = FindingPaths(ParseJson(r));

    r = run({"fix"});
    EXPECT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    r = run({"scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    for (const std::string& strPath : FindingPaths(ParseJson(r))) {
        EXPECT_EQ(std::count(found.begin(), found.end(), strPath), 0) << "fixed, yet found: " << strPath;
    }

    r = run({"backups", "list"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    if (found.empty()) {
        EXPECT_EQ(r.strOut, "") << "nothing fixed, nothing backed up";
    } else {
        ASSERT_EQ(Lines(r.strOut), 1) << r.strOut;
        r = run({"backups", "restore", r.strOut.substr(0, r.strOut.find('\t'))});
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        EXPECT_EQ(run({"backups", "list"}).strOut, "");
        // The restored findings are back to be ignored.
        EXPECT_EQ(run({"ignore", "add", "1"}).nStatus, 0);
    }
    r = run({"ignore", "list"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(Lines(r.strOut), found.empty() ? 0 : 1) << r.strOut;
    EXPECT_EQ(run({"settings", "set", "history-items", "windows-temp,recent-documents"}).nStatus, 0);
    r = run({"settings", "show"});
    EXPECT_NE(r.strOut.find("history-items recent-documents,windows-temp\n"), std::string::npos)
        << r.strOut;
    EXPECT_EQ(run({"history"}).nStatus, 0);
    EXPECT_EQ(run({"schedule", "add", "weekly", "sat", "10:00"}).nStatus, 0);
    r = run({"schedule", "list"});
    EXPECT_EQ(r.strOut.rfind("1. At 10:00 every Saturday", 0), 0u) << r.strOut;
}

// The ids of the startup list's entries with the name, and their states, in list order.
std::vector<std::pair<int, std::string>> StartupEntries(const Json::Value& list, const std::string& strName) {
    std::vector<std::pair<int, std::string>> found;
    for (const Json::Value& entry : list) {
        if (entry["name"].asString() == strName) {
            found.emplace_back(entry["id"].asInt(), entry["state"].asString());
        }
    }
    return found;
}

TEST_F(CliTest, StartupDisablesEnablesAndDeletesEntriesOfTheDemo) {
    const std::string strPrefix = Prefix();
    const auto list = [&] { return ParseJson(Run({"--prefix", strPrefix, "startup", "list", "--json"})); };
    const auto id = [&](const std::string& strName) {
        const auto found = StartupEntries(list(), strName);
        return found.size() == 1 ? std::to_string(found[0].first) : std::string("none");
    };
    SResult r = Run({"--prefix", strPrefix, "startup", "list"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("GoneTray  [Enabled]\n     C:\\Program Files\\Gone App\\tray.exe\n"
                            "     HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run (64-bit view)\n"),
              std::string::npos)
        << r.strOut;

    r = Run({"--prefix", strPrefix, "startup", "disable", id("GoneTray") + "," + id("Notepad.lnk")});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "Disabled: GoneTray\nDisabled: Notepad.lnk\n");
    const auto disabled = StartupEntries(list(), "GoneTray");
    ASSERT_EQ(disabled.size(), 1u);
    EXPECT_EQ(disabled[0].second, "Disabled");
    EXPECT_FALSE(fs::exists(strPrefix + "/drive_c/users/demo/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/"
                                        "StartUp/Notepad.lnk"));

    EXPECT_EQ(Run({"--prefix", strPrefix, "startup", "enable", id("GoneTray")}).nStatus, 0);
    EXPECT_EQ(StartupEntries(list(), "GoneTray")[0].second, "Enabled");
    r = Run({"--prefix", strPrefix, "startup", "delete", id("Notepad.lnk"), "--json"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_TRUE(ParseJson(r)[0]["ok"].asBool());
    EXPECT_TRUE(StartupEntries(list(), "Notepad.lnk").empty());

    r = Run({"--prefix", strPrefix, "startup", "enable", "99"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
    EXPECT_EQ(Run({"--prefix", strPrefix, "startup", "pause", "1"}).nStatus, 2);
    EXPECT_EQ(Run({"--prefix", strPrefix, "startup", "disable"}).nStatus, 2);
}

using namespace Branwick;

// Whether a history trace of the demo (a Windows path or a key) is still in the prefix.
bool TraceExists(const Platform::CTarget& target, const std::wstring& strTrace) {
    const std::size_t nSlash = strTrace.find(L'\\');
    const HKEY hRoot = GetRootKeyHandle(strTrace.substr(0, nSlash));
    if (hRoot == 0) {
        return target.Files().Exists(strTrace);
    }
    Platform::CRegKey key;
    return target.Registry().OpenKey(hRoot, strTrace.substr(nSlash + 1), KEY_READ, &key) ==
           ERROR_SUCCESS;
}

TEST_F(CliTest, HistoryErasesTheTracesOfTheChosenItemsAndNothingElse) {
    const std::string strPrefix = Prefix();
    constexpr DWORD kItems = 0x4 | 0x2000;  // ie-cookies, recent-documents
    SResult r = Run({"--prefix", strPrefix, "history", "--items", "ie-cookies,recent-documents"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("item(s) erased.\n"), std::string::npos) << r.strOut;

    Platform::CDemoExpectations expect;
    std::wstring strError;
    ASSERT_TRUE(Platform::LoadDemoExpectations(strPrefix, expect, strError));
    const auto pTarget = Platform::CTarget::OpenWinePrefix(strPrefix, strError);
    ASSERT_NE(pTarget, nullptr) << WideToUtf8(strError);
    int nErased = 0;
    for (const Platform::CDemoTrace& trace : expect.m_vcHistory) {
        const bool bGone = trace.m_bErased && (trace.m_dwItems & kItems) != 0;
        nErased += bGone ? 1 : 0;
        EXPECT_NE(TraceExists(*pTarget, trace.m_strPath), bGone) << WideToUtf8(trace.m_strPath);
    }
    EXPECT_GT(nErased, 0);
}

// Without --service the program serves the look-up itself, from the data folders it is given.
TEST_F(CliTest, FormatLooksUpAnExtensionInTheProgramsOwnService) {
    const CorvaneTest::CTempFolder data;
    CorvaneTest::WriteFormatData(data.Path());
    setenv("XDG_DATA_DIRS", data.Path().c_str(), 1);
    SResult r = Run({"format", "doc"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut,
              "File type: Word document\nDeveloper: Microsoft\n"
              "Media type application/msword, a kind of OLE2 compound document storage. "
              "Extensions: .DOC, .DOT.\n  Image Viewer\n  Writer  https://writer.example.org/\n");

    r = Run({"format", ".PNG", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    Json::Value root;
    ASSERT_TRUE(Json::Reader().parse(r.strOut, root)) << r.strOut;
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0]["Developer"].asString(), "W3C");
    EXPECT_EQ(CorvaneTest::PngSize(Branwick::DecodeBase64(root[0]["Image"].asString())),
              std::pair(48, 48));
    EXPECT_TRUE(root[0]["Applications"][0]["Url"].isNull());

    r = Run({"format", "qqq"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.strErr, "corvane-cli: Information about this file format is not found.\n");
    EXPECT_EQ(Run({"format", "a/b"}).nStatus, 2);
    EXPECT_EQ(Run({"format", "doc", "--service", "ftp://formats.example.org"}).nStatus, 2);
    unsetenv("XDG_DATA_DIRS");
}

// Without --service the look-up asks the service the target's settings name, a real one on
// loopback here; --service still wins, and clearing the setting brings back the program's own.
TEST_F(CliTest, FormatAsksTheServiceTheSettingsName) {
    const CorvaneTest::CTempFolder data, nothing;
    CorvaneTest::WriteFormatData(data.Path());
    Branwick::Formats::SCatalogOptions options;
    options.vDataDirs = {data.Path()};
    Branwick::CFormatServiceEndpoint shared(L"", options);
    options.vDataDirs = {nothing.Path()};
    Branwick::CFormatServiceEndpoint empty(L"", options);
    // The program's own service knows no format either.
    setenv("XDG_DATA_DIRS", nothing.Path().c_str(), 1);
    const std::string strPrefix = Prefix();
    const std::string strShared = Branwick::WideToUtf8(shared.Url());

    ASSERT_EQ(Run({"--prefix", strPrefix, "settings", "set", "format-service", strShared}).nStatus, 0);
    SResult r = Run({"--prefix", strPrefix, "settings", "show"});
    EXPECT_NE(r.strOut.find("format-service " + strShared + "\n"), std::string::npos) << r.strOut;
    r = Run({"--prefix", strPrefix, "format", "doc"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut.rfind("File type: Word document\n", 0), 0u) << r.strOut;

    r = Run({"--prefix", strPrefix, "format", "doc", "--service", Branwick::WideToUtf8(empty.Url())});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.strErr, "corvane-cli: Information about this file format is not found.\n");

    EXPECT_EQ(Run({"--prefix", strPrefix, "settings", "set", "format-service", "ftp://x"}).nStatus, 2);
    ASSERT_EQ(Run({"--prefix", strPrefix, "settings", "set", "format-service", ""}).nStatus, 0);
    EXPECT_EQ(Run({"--prefix", strPrefix, "format", "doc"}).nStatus, 1);
    // A target named on the command line that cannot be opened is an error, not the own service.
    EXPECT_EQ(Run({"--prefix", (m_folder / "none").string(), "format", "doc"}).nStatus, 1);
    unsetenv("XDG_DATA_DIRS");
}

// A sleeping child under the name of a program the shipped reputation list marks as unwanted.
TEST_F(CliTest, ProcessesListsTheRunningProcessesWithTheirReputation) {
    const CorvaneTest::CTempFolder bin;
    CorvaneTest::CChild child(CorvaneTest::SleepAs(bin, "xmrig.exe"), {"xmrig.exe", "30"});
    SResult r = Run({"processes", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strErr, "");
    Json::Value root;
    ASSERT_TRUE(Json::Reader().parse(r.strOut, root)) << r.strOut;
    Json::Value found;
    for (const Json::Value& process : root) {
        if (process["pid"].asUInt() == child.Pid()) {
            found = process;
        }
    }
    ASSERT_TRUE(found.isObject()) << r.strOut;
    EXPECT_EQ(found["name"].asString(), "xmrig.exe");
    EXPECT_EQ(found["status"].asInt(), 1);
    EXPECT_EQ(found["path"].asString(), (bin / "bin/xmrig.exe").string());
    EXPECT_EQ(found["signer"].asString(), "Not Signed");
    EXPECT_TRUE(found["cpu_usage"].isDouble());
    EXPECT_GT(found["memory_kb"].asUInt64(), 0u);

    r = Run({"processes"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find(std::to_string(child.Pid()) + "  xmrig.exe"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("listed as unwanted"), std::string::npos);

    setenv("CORVANE_DATA_DIR", bin.Path().c_str(), 1);  // a folder without the database
    r = Run({"processes"});
    unsetenv("CORVANE_DATA_DIR");
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_NE(r.strErr.find("reputation list of processes is unavailable"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strOut.find("listed as"), std::string::npos);
    EXPECT_EQ(Run({"processes", "all"}).nStatus, 2);
}

}  // namespace

namespace {

TEST_F(CliTest, TargetsListsTheWindowsSystemsOfTheHome) {
    CorvaneTest::CTempFolder home("corvane-cli-home");
    CorvaneTest::Touch(home / ".wine/system.reg", "WINE REGISTRY Version 2\n#arch=win32\n");
    const char* pszHome = std::getenv("HOME");
    const std::string strHome = pszHome != nullptr ? pszHome : "";
    setenv("HOME", home.Path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    const SResult json = Run({"targets", "--json"});
    const SResult text = Run({"targets"});
    setenv("HOME", strHome.c_str(), 1);

    ASSERT_EQ(json.nStatus, 0) << json.strErr;
    const Json::Value list = ParseJson(json);
    ASSERT_EQ(list.size(), 1u) << json.strOut;
    EXPECT_EQ(list[0]["kind"].asString(), "wine-prefix");
    EXPECT_EQ(list[0]["path"].asString(), (home / ".wine").string());
    EXPECT_EQ(list[0]["architecture"].asString(), "32-bit");
    EXPECT_FALSE(list[0]["wineserver"].asBool());
    EXPECT_GT(list[0]["bytes"].asUInt64(), 0u);
    ASSERT_EQ(text.nStatus, 0);
    EXPECT_NE(text.strOut.find((home / ".wine").string()), std::string::npos) << text.strOut;
}

}  // namespace

namespace {

// An NT 4.0 volume (WINNT layout, no ProgramData) whose user Alice has the fixture files given as
// (fixture, file name in her profile); false when the fixture hives are absent.
bool BuildVolume(const fs::path& volume,
                 const std::vector<std::pair<std::string, std::string>>& user) {
    const fs::path hives = fs::path(CORVANE_FIXTURES_DIR) / "hives";
    if (!fs::exists(hives)) {
        return false;
    }
    std::vector<std::pair<std::string, fs::path>> files = {
        {"aiowinreg_nt4__software.reg", volume / "WINNT/system32/config/SOFTWARE"},
        {"aiowinreg_nt4__system.reg", volume / "WINNT/system32/config/SYSTEM"}};
    for (const auto& [name, file] : user) {
        files.emplace_back(name, volume / "Users/Alice" / file);
    }
    for (const auto& [name, to] : files) {
        fs::create_directories(to.parent_path());
        const std::string cmd = "xz -dc '" + (hives / (name + ".xz")).string() + "' > '" + to.string() + "'";
        if (std::system(cmd.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

// Such a volume whose user's hive is a dirty Windows 10 one with its logs.
bool BuildDirtyVolume(const fs::path& volume) {
    return BuildVolume(volume, {{"museum__Win10_NTUSER.DAT", "NTUSER.DAT"},
                                {"museum__Win10_NTUSER.DAT.LOG1", "NTUSER.DAT.LOG1"},
                                {"museum__Win10_NTUSER.DAT.LOG2", "NTUSER.DAT.LOG2"}});
}

}  // namespace

// Windows 10 keeps an empty key named with emoji; hivex could not add it back, so a fix must not
// delete it, and says so where the finding is listed.
TEST_F(CliTest, AKeyNoRestoreCouldWriteBackIsLeftAloneAndSaysWhy) {
    const fs::path volume = m_folder / "volume";
    if (!BuildVolume(volume, {{"regipy__transactions_NTUSER.DAT", "NTUSER.DAT"},
                              {"regipy__transactions_ntuser.dat.log1", "ntuser.dat.LOG1"},
                              {"regipy__transactions_ntuser.dat.log2", "ntuser.dat.LOG2"}})) {
        GTEST_SKIP() << "fixture hives are absent";
    }
    const std::vector<std::string> scan = {"--windows", volume.string(), "--user",     "Alice",
                                           "scan",      "--categories",  "empty-keys", "--json"};
    const auto globe = [&]() {
        const SResult r = Run(scan);
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        const Json::Value json = ParseJson(r);
        for (const Json::Value& category : json["categories"]) {
            for (const Json::Value& finding : category["findings"]) {
                const std::string strPath = finding["path"].asString();
                // The only empty key below International is the one named with emoji.
                if (strPath.find("\\Control Panel\\International\\") != std::string::npos) {
                    return finding;
                }
            }
        }
        return Json::Value();
    };
    const Json::Value before = globe();
    ASSERT_FALSE(before.isNull()) << "the fixture's empty key is a finding";
    EXPECT_TRUE(before["left_alone"].asBool());
    EXPECT_NE(before["left_alone_reason"].asString().find("not plain ASCII"), std::string::npos)
        << before;

    const SResult fix =
        Run({"--windows", volume.string(), "--user", "Alice", "fix", "--categories", "empty-keys"});
    EXPECT_NE(fix.strOut.find("left alone; `scan` says why for each."), std::string::npos)
        << fix.strOut << fix.strErr;
    EXPECT_FALSE(globe().isNull()) << "the key is still there";
}

TEST_F(CliTest, ScanSaysWhatItReadFromLogsOrCouldNotRead) {
    const fs::path volume = m_folder / "volume";
    if (!BuildDirtyVolume(volume)) {
        GTEST_SKIP() << "fixture hives are absent";
    }
    const std::vector<std::string> target = {"--windows", volume.string(), "--user", "Alice"};
    std::vector<std::string> args = target;
    args.insert(args.end(), {"scan", "--categories", "empty-keys"});
    const SResult text = Run(args);
    EXPECT_NE(text.strErr.find("Warning: Users/Alice/NTUSER.DAT was not shut down cleanly"),
              std::string::npos)
        << text.strErr;
    args.push_back("--json");
    const Json::Value json = ParseJson(Run(args));
    const Json::Value& notRead = json["not_read"];
    EXPECT_TRUE(std::any_of(notRead.begin(), notRead.end(), [](const Json::Value& line) {
        return line.asString().find("NTUSER.DAT was not shut down cleanly") != std::string::npos;
    })) << json;
}

// A user hive left dirty without its logs cannot be written: its findings are not fixed, and a
// fix that fixed nothing keeps no backup that would restore nothing.
TEST_F(CliTest, AFixThatChangedNothingKeepsNoBackup) {
    const fs::path volume = m_folder / "volume";
    if (!BuildVolume(volume, {{"museum__Win10_NTUSER.DAT", "NTUSER.DAT"}})) {
        GTEST_SKIP() << "fixture hives are absent";
    }
    const std::vector<std::string> target = {"--windows", volume.string(), "--user", "Alice"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), target.begin(), target.end());
        return Run(args);
    };
    int nUserFinding = 0;
    const Json::Value scan = ParseJson(run({"scan", "--categories", "empty-keys", "--json"}));
    for (const Json::Value& category : scan["categories"]) {
        for (const Json::Value& finding : category["findings"]) {
            if (nUserFinding == 0 && finding["path"].asString().starts_with("HKEY_USERS\\S-1-")) {
                nUserFinding = finding["id"].asInt();
            }
        }
    }
    ASSERT_NE(nUserFinding, 0) << "the Windows 10 user hive has empty keys";
    const SResult fix =
        run({"fix", "--categories", "empty-keys", "--only", std::to_string(nUserFinding)});
    EXPECT_NE(fix.strOut.find("Total: 0 of 1 selected problem(s) fixed."), std::string::npos)
        << fix.strOut << fix.strErr;
    EXPECT_EQ(run({"backups", "list"}).strOut, "");
}

TEST_F(CliTest, RecoverWritesBackTheDirtyHiveAndKeepsTheOriginals) {
    const fs::path volume = m_folder / "volume";
    if (!BuildDirtyVolume(volume)) {
        GTEST_SKIP() << "fixture hives are absent";
    }
    const std::string strLog1 = ReadAll(volume / "Users/Alice/NTUSER.DAT.LOG1");
    const std::vector<std::string> target = {"--windows", volume.string(), "--user", "Alice"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), target.begin(), target.end());
        return Run(args);
    };
    SResult r = run({"recover"});
    ASSERT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("Recovered Users/Alice/NTUSER.DAT: 3 log entries (sequence 229 to 231) from "
                            "NTUSER.DAT.LOG1, 1 log entry (sequence 232) from NTUSER.DAT.LOG2\n"),
              std::string::npos)
        << r.strOut;
    EXPECT_NE(r.strErr.find("C:\\Corvane\\ at the volume's root"), std::string::npos) << r.strErr;
    EXPECT_EQ(fs::file_size(volume / "Users/Alice/NTUSER.DAT.LOG1"), 0u);
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(volume / "Corvane/History")) {
        kept.push_back(entry.path());
    }
    ASSERT_EQ(kept.size(), 1u) << "one folder of originals, nothing else in the backups";
    EXPECT_EQ(ReadAll(kept[0] / "NTUSER.DAT.LOG1"), strLog1);
    EXPECT_EQ(run({"backups", "list"}).strOut, "");

    r = run({"recover"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "No hive needed recovering from its logs.\n");
    EXPECT_EQ(r.strErr.find(".cpp"), std::string::npos) << "no source file in what the user reads";
}

// Every key of a hive with its values (name, type, data) as hivex reads them. Values sorted: a
// restore may put a key's values back in another order, which no reader of the registry sees.
std::map<std::string, std::vector<std::string>> HiveContents(const fs::path& hive) {
    std::map<std::string, std::vector<std::string>> contents;
    for (auto& [strKey, strValues] : Branwick::Platform::RegTest::DumpHive(hive.string())) {
        std::vector<std::string>& values = contents[strKey];
        std::istringstream lines(strValues);
        for (std::string strLine; std::getline(lines, strLine);) {
            values.push_back(strLine);
        }
        std::sort(values.begin(), values.end());
    }
    return contents;
}

// A Windows 10 user's hives as Windows left them (dirty, with their logs): everything found is
// fixed or left alone with a reason, a rescan finds nothing more, and the restore brings back
// every key and value of every hive, names in their case.
TEST_F(CliTest, AFullFixOfARealWindows10UserComesBackExactly) {
    const fs::path volume = m_folder / "volume";
    const std::string strClasses = "AppData/Local/Microsoft/Windows/UsrClass.dat";
    if (!BuildVolume(volume, {{"museum__Win10_NTUSER.DAT", "NTUSER.DAT"},
                              {"museum__Win10_NTUSER.DAT.LOG1", "NTUSER.DAT.LOG1"},
                              {"museum__Win10_NTUSER.DAT.LOG2", "NTUSER.DAT.LOG2"},
                              {"museum__Win10_UsrClass.dat", strClasses},
                              {"museum__Win10_UsrClass.dat.LOG1", strClasses + ".LOG1"},
                              {"museum__Win10_UsrClass.dat.LOG2", strClasses + ".LOG2"}})) {
        GTEST_SKIP() << "fixture hives are absent";
    }
    const std::vector<std::string> target = {"--windows", volume.string(), "--user", "Alice"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), target.begin(), target.end());
        return Run(args);
    };
    ASSERT_EQ(run({"recover"}).nStatus, 0);
    const std::vector<fs::path> hives = {
        volume / "Users/Alice/NTUSER.DAT", volume / "Users/Alice" / strClasses,
        volume / "WINNT/system32/config/SOFTWARE", volume / "WINNT/system32/config/SYSTEM"};
    std::vector<std::map<std::string, std::vector<std::string>>> before;
    for (const fs::path& hive : hives) {
        before.push_back(HiveContents(hive));
        ASSERT_FALSE(before.back().empty()) << hive;
    }

    SResult r = run({"fix", "--json"});
    const Json::Value fixed = ParseJson(r);
    ASSERT_GT(fixed["fixed"].asInt(), 0) << r.strOut << r.strErr;
    EXPECT_EQ(fixed["fixed"].asInt(), fixed["selected"].asInt()) << r.strOut << r.strErr;

    r = run({"scan", "--json"});
    const Json::Value rescan = ParseJson(r);
    int nFound = 0;
    for (const Json::Value& category : rescan["categories"]) {
        for (const Json::Value& finding : category["findings"]) {
            nFound += finding["left_alone"].asBool() ? 0 : 1;
            EXPECT_TRUE(finding["left_alone"].asBool()) << finding;
        }
    }
    EXPECT_EQ(nFound, 0);

    r = run({"backups", "list"});
    ASSERT_EQ(Lines(r.strOut), 1) << r.strOut;
    r = run({"backups", "restore", r.strOut.substr(0, r.strOut.find('\t'))});
    ASSERT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    for (std::size_t i = 0; i < hives.size(); ++i) {
        const auto after = HiveContents(hives[i]);
        EXPECT_EQ(after.size(), before[i].size()) << hives[i];
        for (const auto& [strKey, values] : before[i]) {
            const auto found = after.find(strKey);
            if (found == after.end()) {
                ADD_FAILURE() << hives[i] << ": " << strKey << " was not restored";
            } else {
                EXPECT_EQ(found->second, values) << hives[i] << ": " << strKey;
            }
        }
    }
}
