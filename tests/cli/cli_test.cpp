// corvane-cli as a user runs it: usage and exit codes, scan and fix of the demo prefix, the
// refusal to write while a wineserver serves the prefix, and the smaller commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <json/json.h>

#include "core/Text.h"
#include "platform/demo/demo.h"

namespace {

namespace fs = std::filesystem;

struct SResult {
    int nStatus = -1;
    std::string strOut;
    std::string strErr;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        m_folder = fs::temp_directory_path() /
                   ("corvane-cli-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder / "config");
    }
    ~CliTest() override { fs::remove_all(m_folder); }

    // Runs corvane-cli with the arguments; its logs and configuration stay in the test's folder.
    SResult Run(const std::vector<std::string>& vcArgs) {
        const fs::path out = m_folder / "out", err = m_folder / "err";
        const pid_t child = fork();
        if (child == 0) {
            setenv("CORVANE_LOG_DIR", (m_folder / "Logs").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (m_folder / "config").c_str(), 1);
            unsetenv("WINEPREFIX");
            const int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fdOut, 1);
            dup2(fdErr, 2);
            std::vector<std::string> args = {CORVANE_BIN_DIR "/corvane-cli"};
            args.insert(args.end(), vcArgs.begin(), vcArgs.end());
            std::vector<char*> argv;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        SResult result;
        result.nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.strOut = ReadAll(out);
        result.strErr = ReadAll(err);
        return result;
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

    fs::path m_folder;
};

int Lines(const std::string& strText) {
    return static_cast<int>(std::count(strText.begin(), strText.end(), '\n'));
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
                                               {"schedule", "add", "daily", "25:00"}}) {
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
    Json::Value root;
    std::istringstream in(r.strOut);
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &root, nullptr)) << r.strOut;
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

TEST_F(CliTest, FixTakesABackupFirstAndAScanAfterwardsFindsNothingOfWhatWasFixed) {
    const std::string strPrefix = Prefix();
    SResult r = Run({"--prefix", strPrefix, "fix"});
    // A record whose key another record's fix already removed counts as not fixed (status 1),
    // although the problem is gone; the rescan below is what tells.
    ASSERT_TRUE(r.nStatus == 0 || r.nStatus == 1) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("Backup: Corvanes_"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("selected problem(s) fixed"), std::string::npos) << r.strOut;
    r = Run({"--prefix", strPrefix, "scan", "--json"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("\"total\" : 0"), std::string::npos) << r.strOut;
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
             std::vector<std::vector<std::string>>{{"fix"}, {"history"}, {"backups", "restore", "x"}}) {
            std::vector<std::string> args = {"--prefix", strPrefix};
            args.insert(args.end(), write.begin(), write.end());
            const SResult r = Run(args);
            EXPECT_EQ(r.nStatus, 1) << write[0];
            EXPECT_NE(r.strErr.find("wineserver"), std::string::npos) << r.strErr;
            EXPECT_EQ(Lines(r.strErr), 1) << r.strErr;
        }
        // Reading is allowed.
        EXPECT_EQ(Run({"--prefix", strPrefix, "scan"}).nStatus, 0);
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

}  // namespace
