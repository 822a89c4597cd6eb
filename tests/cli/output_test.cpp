// What corvane-cli prints: names read from the target cannot reach the terminal as escape
// sequences, and finding numbers the scan did not give are a mistake, not a silent no-op.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/Text.h"
#include "platform/demo/demo.h"
#include "platform/registry/registry.h"
#include "tests/support/cli_process.h"

namespace {

namespace fs = std::filesystem;
using CorvaneTest::CCliProcess;

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_folder / "config");
        std::wstring strError;
        ASSERT_TRUE(Branwick::Platform::MakeDemoPrefix(m_prefix, nullptr, strError)) << Branwick::WideToUtf8(strError);
    }
    CorvaneTest::SCliResult Run(std::vector<std::string> vcArgs) {
        vcArgs.insert(vcArgs.begin(), {"--prefix", m_prefix});
        return CCliProcess(m_folder, vcArgs).Wait();
    }

    CorvaneTest::CTempFolder m_temp{"corvane-output"};
    const fs::path m_folder = m_temp.Path();
    const std::string m_prefix = (m_folder / "prefix").string();
};

TEST_F(OutputTest, ControlCharactersOfKeyNamesAreShownEscaped) {
    {
        Branwick::Platform::CRegistry reg;
        ASSERT_TRUE(Branwick::Platform::CRegistry::OpenWinePrefix(m_prefix, {}, &reg).Ok());
        Branwick::Platform::CRegKey key;
        // A title change, then a C1 control sequence introducer, as a key name.
        ASSERT_EQ(reg.CreateKey(Branwick::HKEY_CURRENT_USER, L"Software\\Evil\x1b]0;owned\x07\x9b" L"2J", 0, &key), Branwick::ERROR_SUCCESS);
        ASSERT_TRUE(reg.Flush().Ok());
    }
    const CorvaneTest::SCliResult r = Run({"scan", "--categories", "empty-keys"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.strOut.find('\x07'), std::string::npos);
    EXPECT_EQ(r.strOut.find("\xc2\x9b"), std::string::npos);
    EXPECT_NE(r.strOut.find("Evil\\x1b]0;owned\\x07\\x9b2J"), std::string::npos) << r.strOut;
}

TEST_F(OutputTest, FindingNumbersTheScanDidNotGiveAreAUsageError) {
    for (const char* pszOption : {"--only", "--exclude"}) {
        const CorvaneTest::SCliResult r = Run({"fix", pszOption, "9999"});
        EXPECT_EQ(r.nStatus, 2) << pszOption << ": " << r.strOut << r.strErr;
        EXPECT_NE(r.strErr.find("There is no finding 9999"), std::string::npos) << r.strErr;
        EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 1) << r.strErr;
        EXPECT_EQ(r.strOut.find("fixed"), std::string::npos) << "nothing was fixed: " << r.strOut;
    }
}

// Drive c: linked to a folder beside the prefix: its files may be the user's own, so a fix lists
// them and leaves them alone until the user names the drive.
TEST_F(OutputTest, FindingsOnADriveOutsideThePrefixAreLeftAloneUntilAllowed) {
    const fs::path beside = m_folder / "beside";
    fs::rename(fs::path(m_prefix) / "drive_c", beside);
    fs::remove(fs::path(m_prefix) / "dosdevices" / "c:");
    fs::create_symlink(beside, fs::path(m_prefix) / "dosdevices" / "c:");

    CorvaneTest::SCliResult r = Run({"scan", "--categories", "junk-files"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const auto nFound = std::count(r.strOut.begin(), r.strOut.end(), '\n');
    ASSERT_NE(r.strOut.find("left alone by fix"), std::string::npos) << r.strOut;
    r = Run({"fix", "--categories", "junk-files"});
    EXPECT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("Total: 0 of 0 selected"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("left alone"), std::string::npos) << r.strOut;
    r = Run({"scan", "--categories", "junk-files"});
    EXPECT_EQ(std::count(r.strOut.begin(), r.strOut.end(), '\n'), nFound) << "nothing was deleted:\n" << r.strOut;

    r = Run({"--allow-drive", "C:", "fix", "--categories", "junk-files"});
    EXPECT_EQ(r.nStatus, 0) << r.strOut << r.strErr;
    EXPECT_EQ(r.strOut.find("left alone"), std::string::npos) << r.strOut;
    EXPECT_EQ(Run({"--allow-drive", "Z:", "scan"}).nStatus, 2) << "the host root is never allowed";
}

}  // namespace
