#include "platform/shelllink/shelllink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/lnk_builder.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;
using namespace Branwick::Platform;
using CorvaneTest::BuildLink;

namespace {

// A temp folder as drive C: of a test target; each link is written there and read back.
class ShellLink : public ::testing::Test {
protected:
    ShellLink() {
        CDriveMap map;
        map.m_mapDrives[L'C'] = m_dir.Path().string();
        map.m_vcOwnRoots.push_back(m_dir.Path().string());
        m_pFiles = std::make_unique<CFileSystem>(map);
    }
    HRESULT PathOf(const std::string& bytes, std::wstring& path) {
        std::ofstream(m_dir / "Test.lnk", std::ios::binary | std::ios::trunc) << bytes;
        return GetLinkPath(*m_pFiles, L"C:\\test.LNK", path);
    }

    CorvaneTest::CTempFolder m_dir{"corvane-lnk"};
    std::unique_ptr<CFileSystem> m_pFiles;
};

}  // namespace

TEST_F(ShellLink, LocalTargetsJoinBasePathAndSuffix) {
    std::wstring path;
    EXPECT_EQ(PathOf(BuildLink({.local = "C:\\Apps\\", .suffix = "tool.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\Apps\\tool.exe");
    EXPECT_EQ(PathOf(BuildLink({.local = "C:\\Apps\\tool.exe", .suffix = "", .bUnicode = true}), path), S_OK);
    EXPECT_EQ(path, L"C:\\Apps\\tool.exe");
    // ANSI paths are Windows-1252.
    EXPECT_EQ(PathOf(BuildLink({.local = "C:\\\xdc" "ber\\", .suffix = "x.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\\u00dcber\\x.exe");
    // A link to a file that does not exist still gives its path: existence is the caller's test.
    EXPECT_EQ(PathOf(BuildLink({.local = "C:\\does\\not\\exist.exe", .bIdList = true}), path), S_OK);
    EXPECT_EQ(path, L"C:\\does\\not\\exist.exe");
}

TEST_F(ShellLink, NetworkAndEnvironmentTargets) {
    std::wstring path;
    EXPECT_EQ(PathOf(BuildLink({.net = "\\\\server\\share", .device = "Z:", .suffix = "dir\\tool.exe"}), path), S_OK);
    EXPECT_EQ(path, L"\\\\server\\share\\dir\\tool.exe");
    EXPECT_EQ(PathOf(BuildLink({.env = "%ProgramFiles%\\App\\app.exe", .bIdList = true}), path), S_OK);
    EXPECT_EQ(path, L"%ProgramFiles%\\App\\app.exe");
    // The local path wins when both are there.
    EXPECT_EQ(PathOf(BuildLink({.local = "C:\\P\\", .env = "%X%\\a.exe", .suffix = "a.exe"}), path), S_OK);
    EXPECT_EQ(path, L"C:\\P\\a.exe");
}

TEST_F(ShellLink, LinksWithoutAFileSystemTargetGiveNoPath) {
    std::wstring path = L"stale";
    EXPECT_EQ(PathOf(BuildLink({.bIdList = true}), path), S_FALSE);  // a shell folder
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(PathOf(BuildLink({.relative = "..\\x.exe"}), path), S_FALSE);
}

TEST_F(ShellLink, BrokenInputGivesNoPathAndNoCrash) {
    std::wstring path;
    EXPECT_EQ(GetLinkPath(*m_pFiles, L"C:\\missing.lnk", path), E_FAIL);
    EXPECT_EQ(GetLinkPath(*m_pFiles, L"C:\\", path), E_FAIL);
    EXPECT_EQ(PathOf("", path), E_FAIL);
    EXPECT_EQ(PathOf("not a link at all, just some text of a decent length for a header.........", path), E_FAIL);
    std::string bad = BuildLink({.local = "C:\\a\\", .suffix = "b.exe"});
    bad[4] ^= 0x55;  // the class identifier
    EXPECT_EQ(PathOf(bad, path), E_FAIL);

    // Every truncation either fails or still names the right target: never a wrong path.
    const std::string good = BuildLink({.local = "C:\\Apps\\", .env = "%A%\\t.exe", .suffix = "tool.exe", .bUnicode = true});
    for (std::size_t n = 0; n < good.size(); ++n) {
        const HRESULT hr = PathOf(good.substr(0, n), path);
        if (hr == S_OK) {
            EXPECT_TRUE(path == L"C:\\Apps\\tool.exe" || path == L"%A%\\t.exe") << n;
        } else {
            EXPECT_TRUE(path.empty()) << n;
        }
    }
    EXPECT_EQ(PathOf(good.substr(0, 40), path), E_FAIL);
    EXPECT_TRUE(path.empty());

    // LinkInfo claiming to be larger than the file.
    std::string lying = BuildLink({.local = "C:\\a\\", .suffix = "b.exe"});
    lying[0x4C] = '\xff', lying[0x4D] = '\x7f';
    EXPECT_NE(PathOf(lying, path), S_OK);
}

TEST_F(ShellLink, MakeShellLinkRoundTrips) {
    std::wstring path;
    for (const std::wstring target : {L"C:\\Program Files\\App\\app.exe", L"C:\\users\\Zo\u00eb\\\u65e5\u672c.txt",
                                      L"D:\\folder"}) {
        EXPECT_EQ(PathOf(MakeShellLink(target), path), S_OK) << target.size();
        EXPECT_EQ(path, target);
    }
}
