// Scans of junk files and program shortcuts through the loaded library, and fix runs of what they
// found: which files are reported, that links leading out of a folder are never followed, and that
// a fix deletes only the file that was scanned.
#include <sys/stat.h>

#include "platform/shelllink/shelllink.h"
#include "tests/fendral/finding_fixture.h"
#include "tests/support/lnk_builder.h"

using namespace Branwick;
using namespace Branwick::Testing;
namespace fs = std::filesystem;

namespace {

constexpr char kUser[] = R"reg(
[Environment]
"TEMP"="C:\\Temp"
[Volatile Environment]
"USERPROFILE"="C:\\users\\me"
)reg";

class FileScannersTest : public FindingFixture {
protected:
    FileScannersTest() : m_target(false, kDataFolder, kUser) {
        m_outside = m_target.Folder().string() + "-outside";
        fs::create_directories(m_outside);
    }
    ~FileScannersTest() override {
        fs::remove_all(m_outside);
    }

    void MakeLink(const std::string& strRelative, const std::wstring& strTarget) const {
        m_target.MakeFile(strRelative, Platform::MakeShellLink(strTarget));
    }
    bool Exists(const std::string& strRelative) const {
        return fs::symlink_status(m_target.Folder() / strRelative).type() !=
               fs::file_type::not_found;
    }

    CTestTarget m_target;
    fs::path m_outside;  // a folder beside the target, as the Linux home is beside a prefix
};

TEST_F(FileScannersTest, JunkFilesByExtensionNeverThroughALink) {
    for (const char* name : {"a.TMP", "b.log", "c.txt", "sub/d.bak", "x.tmp.txt", "tmp"}) {
        m_target.MakeFile(std::string("Temp/") + name);
    }
    std::ofstream(m_outside / "e.tmp") << "the user's own";
    std::ofstream(m_outside / "f.tmp") << "the user's own";
    fs::create_directory_symlink("..", m_target.Folder() / "Temp/sub/loop");
    fs::create_directory_symlink(m_outside, m_target.Folder() / "Temp/out");
    fs::create_symlink(m_outside / "f.tmp", m_target.Folder() / "Temp/link.tmp");

    const std::vector<CRegError> found = Scan(JUNK_FILES, *m_target.Get());
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{L"C:\\Temp\\a.TMP", L"C:\\Temp\\b.log",
                                                       L"C:\\Temp\\sub\\d.bak"}));
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, 0u);
        EXPECT_EQ(record.m_sDescription, L"Junk file found: " + record.m_sPath);
        EXPECT_TRUE(record.m_bDeleteSelf);
        EXPECT_TRUE(record.GetFixes().empty());
    }

    FixAll(*m_target.Get(), found);
    EXPECT_FALSE(Exists("Temp/a.TMP"));
    EXPECT_FALSE(Exists("Temp/b.log"));
    EXPECT_FALSE(Exists("Temp/sub/d.bak"));
    EXPECT_TRUE(Exists("Temp/c.txt"));
    EXPECT_TRUE(Exists("Temp/link.tmp"));
    EXPECT_TRUE(fs::exists(m_outside / "e.tmp"));
    EXPECT_TRUE(fs::exists(m_outside / "f.tmp"));
}

TEST_F(FileScannersTest, JunkBelowATempThatLeadsOutOfTheTargetIsNotReported) {
    std::ofstream(m_outside / "e.tmp") << "the user's own";
    fs::create_directory_symlink(m_outside, m_target.Folder() / "Temp");
    EXPECT_TRUE(Scan(JUNK_FILES, *m_target.Get()).empty());
    EXPECT_TRUE(fs::exists(m_outside / "e.tmp"));
}

TEST_F(FileScannersTest, AFileIsDeletedOnlyIfItIsStillTheFileThatWasScanned) {
    for (const char* name : {"a.tmp", "b.log", "c.bak"}) {
        m_target.MakeFile(std::string("Temp/") + name);
    }
    const std::vector<CRegError> found = Scan(JUNK_FILES, *m_target.Get());
    ASSERT_EQ(found.size(), 3u);
    // Between the scan and the fix, a.tmp became a folder and b.log a link to the user's file.
    fs::remove(m_target.Folder() / "Temp/a.tmp");
    fs::create_directory(m_target.Folder() / "Temp/a.tmp");
    fs::remove(m_target.Folder() / "Temp/b.log");
    std::ofstream(m_outside / "b.log") << "the user's own";
    fs::create_symlink(m_outside / "b.log", m_target.Folder() / "Temp/b.log");

    FixAll(*m_target.Get(), found);
    const auto finish = m_recorder.Of<CFinishFixMessage>();
    ASSERT_EQ(finish.size(), 1u);
    EXPECT_EQ(finish[0].m_mapStatistics.at(JUNK_FILES).nFixed, 1);
    EXPECT_TRUE(fs::is_directory(m_target.Folder() / "Temp/a.tmp"));
    EXPECT_TRUE(fs::is_symlink(m_target.Folder() / "Temp/b.log"));
    EXPECT_TRUE(fs::exists(m_outside / "b.log"));
    EXPECT_FALSE(Exists("Temp/c.bak"));
}

TEST_F(FileScannersTest, ShortcutsToMissingTargets) {
    m_target.MakeFile("Tools/good.exe");
    m_target.MakeFile("Apps/A, B/app.exe");
    MakeLink("users/me/Desktop/Gone.lnk", L"C:\\Missing\\gone.exe");
    MakeLink("users/me/Desktop/Good.lnk", L"C:\\Tools\\good.exe");
    MakeLink("users/me/Desktop/Folder.lnk", L"C:\\Tools");
    MakeLink("users/me/Desktop/Comma.lnk", L"C:\\Apps\\A, B\\app.exe");
    m_target.MakeFile("users/me/Desktop/Share.lnk",
                      CorvaneTest::BuildLink({.net = "\\\\server\\share", .suffix = "tool.exe"}));
    m_target.MakeFile("users/me/Desktop/Computer.lnk", CorvaneTest::BuildLink({.bIdList = true}));
    m_target.MakeFile("users/me/Desktop/Broken.lnk", "not a shell link");
    MakeLink("users/me/Start Menu/Programs/Old/Old.lnk", L"C:\\Missing\\old.exe");
    MakeLink("users/me/Upper.LNK", L"C:\\Missing\\upper.exe");
    MakeLink("users/me/.hidden/Hidden.lnk", L"C:\\Missing\\hidden.exe");
    MakeLink("users/me/ReadOnly/ReadOnly.lnk", L"C:\\Missing\\readonly.exe");
    fs::permissions(m_target.Folder() / "users/me/ReadOnly", fs::perms::owner_write,
                    fs::perm_options::remove);
    {
        std::ofstream(m_outside / "Out.lnk") << Platform::MakeShellLink(L"C:\\Missing\\out.exe");
    }
    fs::create_directory_symlink(m_outside, m_target.Folder() / "users/me/Linked");

    const std::vector<CRegError> found = Scan(SHOTCATS, *m_target.Get());
    fs::permissions(m_target.Folder() / "users/me/ReadOnly", fs::perms::owner_write,
                    fs::perm_options::add);
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{
                                L"C:\\users\\me\\Desktop\\Gone.lnk",
                                L"C:\\users\\me\\Start Menu\\Programs\\Old\\Old.lnk",
                                L"C:\\users\\me\\Upper.LNK"}));
    EXPECT_EQ(found[0].m_sDescription,
              L"Shortcut refers to non-existing file: C:\\Missing\\gone.exe");
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, 0u);
        EXPECT_TRUE(record.m_bDeleteSelf);
        EXPECT_TRUE(record.GetFixes().empty());
    }

    // Progress for the top folder only: ".", "..", .hidden, Desktop, Linked, ReadOnly,
    // Start Menu, Upper.LNK share the 100 percent.
    std::vector<std::pair<int, std::wstring>> progress;
    for (const auto& step : ScanProgress(SHOTCATS)) {
        if (step.second != L"Starting...") {
            progress.push_back(step);
        }
    }
    const std::wstring kTop = L"C:\\users\\me\\";
    EXPECT_EQ(progress, (std::vector<std::pair<int, std::wstring>>{
                            {12, kTop + L"."},
                            {25, kTop + L".."},
                            {37, kTop + L".hidden"},
                            {50, kTop + L"Desktop"},
                            {62, kTop + L"Linked"},
                            {75, kTop + L"ReadOnly"},
                            {87, kTop + L"Start Menu"},
                            {100, kTop + L"Upper.LNK"}}));

    FixAll(*m_target.Get(), found);
    EXPECT_FALSE(Exists("users/me/Desktop/Gone.lnk"));
    EXPECT_FALSE(Exists("users/me/Start Menu/Programs/Old/Old.lnk"));
    EXPECT_FALSE(Exists("users/me/Upper.LNK"));
    for (const char* kept :
         {"Good.lnk", "Folder.lnk", "Comma.lnk", "Share.lnk", "Computer.lnk", "Broken.lnk"}) {
        EXPECT_TRUE(Exists(std::string("users/me/Desktop/") + kept)) << kept;
    }
    EXPECT_TRUE(fs::exists(m_outside / "Out.lnk"));
}

// Programs installed for every user keep their shortcuts in the all-users Start Menu and on the
// public Desktop: they are judged as the user's own are, and the same look-alikes are sound.
TEST_F(FileScannersTest, AllUsersShortcutsAreJudgedLikeTheUsers) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"Public"="C:\\users\\Public"
)reg",
                       kUser);
    ASSERT_TRUE(target.Imported());
    target.MakeFile("Tools/good.exe");
    const std::string kMenu = "ProgramData/Microsoft/Windows/Start Menu/Programs/";
    target.MakeFile(kMenu + "Gone/Gone.lnk", Platform::MakeShellLink(L"C:\\Missing\\shared.exe"));
    target.MakeFile(kMenu + "Good.lnk", Platform::MakeShellLink(L"C:\\Tools\\good.exe"));
    target.MakeFile(kMenu + "Folder.lnk", Platform::MakeShellLink(L"C:\\Tools"));
    target.MakeFile("users/Public/Desktop/Old.lnk",
                    Platform::MakeShellLink(L"C:\\Missing\\public.exe"));
    target.MakeFile("users/Public/Desktop/Web.lnk",
                    Platform::MakeShellLink(L"http://www.example.invalid/start"));
    target.MakeFile("users/Public/Desktop/Places.lnk", CorvaneTest::BuildLink({.bIdList = true}));

    const std::vector<CRegError> found = Scan(SHOTCATS, *target.Get());
    EXPECT_EQ(Paths(found),
              (std::vector<std::wstring>{
                  L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Gone\\Gone.lnk",
                  L"C:\\users\\Public\\Desktop\\Old.lnk"}));
    // The user's own scan still reports progress for the top folder alone.
    for (const auto& step : ScanProgress(SHOTCATS)) {
        EXPECT_EQ(step.second.find(L"Public"), std::wstring::npos) << WideToUtf8(step.second);
    }
}

}  // namespace
