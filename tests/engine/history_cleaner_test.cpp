#include "engine/HistoryCleaner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "platform/text/text.h"
#include "tests/support/locked_folder.h"
#include "tests/support/pending_renames.h"
#include "tests/support/temp_folder.h"
#include "tests/support/trash.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

const char kMachine[] = R"REG(
[Software\\Microsoft\\Windows NT\\CurrentVersion]
"SystemRoot"="C:\\windows"
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"=str(2):"C:\\ProgramData"
[System\\CurrentControlSet\\Control\\Session Manager\\Environment]
"windir"=str(2):"%SystemRoot%"
)REG";

// A record whose stop can be requested from inside the walk, as the user's Cancel arrives.
class CTestRecord : public CThreadComm {
public:
    bool IsRunning(DWORD dwTimeout) override {
        if (m_stopWhen && m_stopWhen()) {
            Stop();
        }
        return CThreadComm::IsRunning(dwTimeout);
    }
    std::function<bool()> m_stopWhen;
};

struct SItem {
    std::int32_t nType;
    std::wstring strEntity;
    std::int32_t nResult;
    bool operator<(const SItem& o) const { return std::tie(nType, strEntity, nResult) < std::tie(o.nType, o.strEntity, o.nResult); }
    bool operator==(const SItem& o) const = default;
};

class HistoryCleanerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_root / "c" / "windows" / "temp");
        fs::create_directories(m_root / "outside");
        fs::create_directories(m_root / "data" / "Trash");
        setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);  // never the real user's trash
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(m_root, ec)) {
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }

    // A target whose user profile is strProfile ("C:\users\tester" or an XP one).
    void MakeTarget(const std::wstring& strProfile, const std::string& strUserText = "",
                    const std::string& strMachineText = "") {
        CRegistry reg = CRegistry::CreateInMemory();
        ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, kMachine).Ok());
        ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, strMachineText).Ok());
        CRegKey key;
        ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE,
                                L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000",
                                KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(L"ProfileImagePath", REG_SZ, ToUtf16Le(strProfile)), ERROR_SUCCESS);
        ASSERT_TRUE(reg.ImportText(HKEY_CURRENT_USER, strUserText).Ok());
        ASSERT_TRUE(reg.Flush().Ok());
        m_target = CTarget::OpenTest((m_root / "c").string(), reg);
        ASSERT_EQ(m_target->Environment().Get(L"USERPROFILE"), strProfile);
    }

    // The host path of a Windows path on drive C.
    fs::path Host(const std::wstring& strPath) const {
        std::string s = ToUtf8(strPath.substr(3));
        std::replace(s.begin(), s.end(), '\\', '/');
        return m_root / "c" / s;
    }

    void Plant(const std::wstring& strPath) {
        fs::create_directories(Host(strPath).parent_path());
        std::ofstream(Host(strPath)) << "trace";
    }

    // Runs the cleaner and sorts what it posted.
    void Clean(DWORD dwItems) {
        CMessageQueue queue;
        CMessageSink sink(&queue);
        CleanHistoryItems(m_record, sink, *m_target, dwItems);
        m_vcItems.clear();
        m_vcLogs.clear();
        m_vcProgress.clear();
        m_bFinished = false;
        while (std::unique_ptr<CMessage> p = queue.PopFront()) {
            EXPECT_FALSE(m_bFinished) << "a message after the finish";
            if (auto* pItem = dynamic_cast<CHistoryCleanerMessage*>(p.get())) {
                m_vcItems.push_back({pItem->m_hcType, pItem->m_sHistoryEntity, pItem->m_hcRes});
            } else if (auto* pLog = dynamic_cast<CLogMessage*>(p.get())) {
                m_vcLogs.push_back(ToUtf8(pLog->m_strText.substr(pLog->m_strText.find(L'\n', 2) + 1)));
            } else if (auto* pProgress = dynamic_cast<CGenProgressMessage*>(p.get())) {
                EXPECT_EQ(pProgress->m_nMaxProgress, 14);
                m_vcProgress.push_back(pProgress->m_nCurProgress);
            } else if (p->m_nType == CFinishProgressMessage::kType) {
                m_bFinished = true;
            } else {
                ADD_FAILURE() << "unexpected message type " << p->m_nType;
            }
        }
        EXPECT_TRUE(m_bFinished);
        EXPECT_EQ(m_vcProgress, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    }

    std::set<SItem> Items() const { return {m_vcItems.begin(), m_vcItems.end()}; }

    std::wstring Pending() const { return CorvaneTest::PendingRenames(m_target->Registry()); }

    bool KeyExists(const std::wstring& strPath) const {
        CRegKey key;
        return m_target->Registry().OpenKey(HKEY_CURRENT_USER, strPath, KEY_READ, &key) == ERROR_SUCCESS;
    }

    CorvaneTest::CTempFolder m_temp{"corvane-history"};
    const fs::path m_root = m_temp.Path();
    CTestRecord m_record;
    std::unique_ptr<CTarget> m_target;
    std::vector<SItem> m_vcItems;
    std::vector<std::string> m_vcLogs;
    std::vector<int> m_vcProgress;
    bool m_bFinished = false;
};

const std::wstring kUser = L"C:\\users\\tester";
const std::wstring kXpUser = L"C:\\Documents and Settings\\tester";

}  // namespace

TEST_F(HistoryCleanerTest, WithNoItemItPostsTheFourteenStepsAndTheFinishOnly) {
    MakeTarget(kUser, "[Software\\\\Microsoft\\\\Internet Explorer\\\\TypedURLs]\n\"url1\"=\"http://a.invalid/\"\n");
    const std::wstring strCookie = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies\\a@b[1].txt";
    Plant(strCookie);
    Clean(0);
    EXPECT_TRUE(m_vcItems.empty());
    EXPECT_TRUE(m_vcLogs.empty());
    EXPECT_TRUE(fs::exists(Host(strCookie)));
    EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Internet Explorer\\TypedURLs"));
}

// Every item of the newer layout is shown on the demo prefix through the loaded library; here is
// what that test does not see: the folders left behind, a file named like a Firefox profile, and a
// missing SPW key.
TEST_F(HistoryCleanerTest, FoldersAreLeftAsTheItemsSayAndAFileIsNoProfile) {
    MakeTarget(kUser, R"REG(
[Software\\Microsoft\\Internet Explorer\\IntelliForms\\Storage1]
"4E0A2B1C"=hex:01,02
)REG");
    const std::wstring ie = kUser + L"\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files";
    const std::wstring profiles = kUser + L"\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\";
    const std::wstring cache = kUser + L"\\AppData\\Local\\Mozilla\\Firefox\\Profiles\\zz.default\\Cache";
    const std::set<SItem> expected = {
        {0x1, ie + L"\\Content.IE5\\Q1W2\\start[1].htm", 0},
        {0x8, L"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Internet Explorer\\IntelliForms\\Storage1", 0},
        {0x10, kUser + L"\\Favorites\\index.dat", 0},
        {0x20, cache + L"\\0\\3F\\4A1C", 0},
        {0x40, profiles + L"zz.default\\places.sqlite", 0},
    };
    for (const SItem& item : expected) {
        if (item.nType != 0x8) {
            Plant(item.strEntity);
        }
    }
    // Profiles are taken in name order: a file before the profile must not be taken for it.
    Plant(profiles + L"b.default.ini");
    Clean(0x1 | 0x8 | 0x10 | 0x20 | 0x40);
    EXPECT_EQ(Items(), expected);
    EXPECT_TRUE(m_vcLogs.empty()) << m_vcLogs.front();
    // The emptied subfolders of the unmasked cleanings went, the cleaned folders stayed.
    EXPECT_FALSE(fs::exists(Host(ie + L"\\Content.IE5\\Q1W2")));
    EXPECT_FALSE(fs::exists(Host(cache + L"\\0")));
    EXPECT_TRUE(fs::exists(Host(ie)));
    EXPECT_TRUE(fs::exists(Host(kUser + L"\\Favorites")));  // the masked cleaning keeps its folders
}

TEST_F(HistoryCleanerTest, EveryItemOfTheOlderLayout) {
    MakeTarget(kXpUser);
    const std::wstring ie = kXpUser + L"\\Local Settings\\Temporary Internet Files\\Content.IE5";
    const std::wstring history = kXpUser + L"\\Local Settings\\History\\History.IE5";
    const std::wstring profile = kXpUser + L"\\Application Data\\Mozilla\\Firefox\\Profiles\\p.default";
    const std::wstring cache =
        kXpUser + L"\\Local Settings\\Application Data\\Mozilla\\Firefox\\Profiles\\p.default\\Cache";
    const std::set<SItem> expected = {
        {0x1, ie + L"\\X\\a.htm", 0},
        {0x2, history + L"\\b.dat", 0},
        {0x4, kXpUser + L"\\Cookies\\c.txt", 0},
        {0x20, cache + L"\\d", 0},
        {0x40, profile + L"\\places.sqlite", 0},
        {0x2000, kXpUser + L"\\Recent\\e.lnk", 0},
        {0x400, kXpUser + L"\\Local Settings\\Temp\\f.tmp", 0},
    };
    for (const SItem& item : expected) {
        Plant(item.strEntity);
    }
    // The places of the newer layout are not this profile's.
    Plant(kXpUser + L"\\AppData\\Local\\Temp\\g.tmp");
    Clean(0x3FFF & ~0x1000);
    EXPECT_EQ(Items(), expected);
    EXPECT_TRUE(fs::exists(Host(kXpUser + L"\\AppData\\Local\\Temp\\g.tmp")));
}

TEST_F(HistoryCleanerTest, TheMaskComparesNameAndLastExtensionIgnoringCase) {
    MakeTarget(kUser);
    const std::wstring recent = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Recent";
    for (const wchar_t* p : {L"\\a.lnk", L"\\B.LNK", L"\\c.lnk.txt", L"\\lnk", L"\\desktop.ini", L"\\Sub\\d.Lnk"}) {
        Plant(recent + p);
    }
    Plant(kUser + L"\\AppData\\Index.DAT");
    Plant(kUser + L"\\AppData\\index.dat.old");
    Plant(kUser + L"\\AppData\\myindex.dat");
    Clean(0x2000 | 0x10);
    EXPECT_EQ(Items(), (std::set<SItem>{{0x2000, recent + L"\\a.lnk", 0},
                                        {0x2000, recent + L"\\B.LNK", 0},
                                        {0x2000, recent + L"\\Sub\\d.Lnk", 0},
                                        {0x10, kUser + L"\\AppData\\Index.DAT", 0}}));
    for (const wchar_t* p : {L"\\c.lnk.txt", L"\\lnk", L"\\desktop.ini", L"\\Sub"}) {
        EXPECT_TRUE(fs::exists(Host(recent + p))) << ToUtf8(p);
    }
    EXPECT_TRUE(fs::exists(Host(kUser + L"\\AppData\\index.dat.old")));
    EXPECT_TRUE(fs::exists(Host(kUser + L"\\AppData\\myindex.dat")));
}

TEST_F(HistoryCleanerTest, DesktopIniKeepsItsFolder) {
    MakeTarget(kUser);
    const std::wstring cookies = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies";
    Plant(cookies + L"\\Kept\\DESKTOP.INI");
    Plant(cookies + L"\\Kept\\a.txt");
    Plant(cookies + L"\\Gone\\b.txt");
    Clean(0x4);
    EXPECT_EQ(Items(), (std::set<SItem>{{0x4, cookies + L"\\Kept\\a.txt", 0}, {0x4, cookies + L"\\Gone\\b.txt", 0}}));
    EXPECT_TRUE(fs::exists(Host(cookies + L"\\Kept\\DESKTOP.INI")));
    EXPECT_FALSE(fs::exists(Host(cookies + L"\\Gone")));
}

TEST_F(HistoryCleanerTest, AFileThatCannotBeDeletedIsHandedToTheNextStart) {
    MakeTarget(kUser);
    const std::wstring cookies = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies";
    Plant(cookies + L"\\locked.txt");
    Plant(L"C:\\windows\\locked.log");
    fs::permissions(Host(cookies + L"\\locked.txt"), fs::perms::owner_read);  // read-only: Windows refuses
    fs::permissions(Host(L"C:\\windows\\locked.log"), fs::perms::owner_read);
    Clean(0x4 | 0x800);
    EXPECT_EQ(Items(), (std::set<SItem>{{0x4, cookies + L"\\locked.txt", 1}}));
    EXPECT_TRUE(m_vcLogs.empty());
    EXPECT_EQ(Pending(), L"\\??\\" + cookies + L"\\locked.txt|||");  // the log file is left alone
    EXPECT_FALSE(m_target->Registry().IsDirty()) << "the restart entry was saved";
}

TEST_F(HistoryCleanerTest, AFileInAFolderThatForbidsDeletingIsHandedToTheNextStart) {
    MakeTarget(kUser);
    const std::wstring cookies = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies";
    Plant(cookies + L"\\Locked\\in-use.txt");
    CorvaneTest::CLockedFolder locked(Host(cookies + L"\\Locked"));
    if (!locked.Locked()) {
        GTEST_SKIP() << "this file system cannot lock a folder";
    }
    Clean(0x4);
    locked.Unlock();
    EXPECT_EQ(Items(), (std::set<SItem>{{0x4, cookies + L"\\Locked\\in-use.txt", 1}}));
    EXPECT_EQ(Pending(), L"\\??\\" + cookies + L"\\Locked\\in-use.txt|||");
}

TEST_F(HistoryCleanerTest, AFileThatCannotEvenBeScheduledIsReportedAsNotErased) {
    // Session Manager lies behind a broken link key, so the restart entry cannot be written.
    MakeTarget(kUser, "", "[System\\\\CurrentControlSet]\n#link\n");
    const std::wstring temp = kUser + L"\\AppData\\Local\\Temp";
    Plant(temp + L"\\locked.tmp");
    fs::permissions(Host(temp + L"\\locked.tmp"), fs::perms::owner_read);
    Clean(0x400);
    EXPECT_EQ(Items(), (std::set<SItem>{{0x400, temp + L"\\locked.tmp", 2}}));
    EXPECT_EQ(m_vcLogs, (std::vector<std::string>{"Unable to delete file after reboot with error: 2"}));
}

TEST_F(HistoryCleanerTest, CancellingStopsTheFolderCleaningsButNotTheOtherItems) {
    MakeTarget(kUser);
    const std::wstring ie = kUser + L"\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files";
    const std::wstring profile = kUser + L"\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\p.default";
    const std::wstring cookie = kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies\\c.txt";
    const std::wstring temp = kUser + L"\\AppData\\Local\\Temp\\t.tmp";
    for (const std::wstring& s : {ie + L"\\a.htm", ie + L"\\b.htm", ie + L"\\c.htm", profile + L"\\places.sqlite",
                                  profile + L"\\cookies.sqlite", cookie, temp}) {
        Plant(s);
    }
    CorvaneTest::PutInTrash(m_root / "data", "gone.txt", (m_root / "c" / "gone.txt").string());
    // The user cancels as soon as the first temporary file is gone.
    m_record.m_stopWhen = [&] { return !fs::exists(Host(ie + L"\\a.htm")); };

    Clean(0x3FFF);

    EXPECT_EQ(Items(), (std::set<SItem>{{0x1, ie + L"\\a.htm", 0},
                                        {0x40, profile + L"\\places.sqlite", 0},
                                        {0x80, profile + L"\\cookies.sqlite", 0},
                                        {0x1000, L"Recycle Bin", 0}}));
    EXPECT_TRUE(fs::exists(Host(ie + L"\\b.htm")));
    EXPECT_TRUE(fs::exists(Host(cookie)));
    EXPECT_TRUE(fs::exists(Host(temp)));
}

TEST_F(HistoryCleanerTest, NoCleaningFollowsALinkOutOfTheTarget) {
    MakeTarget(kUser);
    // As in a Wine prefix: the user's Documents lead into the Linux home.
    fs::create_directories(m_root / "outside" / "Documents" / "Project");
    std::ofstream(m_root / "outside" / "Documents" / "index.dat") << "mine";
    std::ofstream(m_root / "outside" / "Documents" / "Project" / "notes.tmp") << "mine";
    fs::create_directories(Host(kUser));
    fs::create_directory_symlink(m_root / "outside" / "Documents", Host(kUser + L"\\Documents"));
    // A link inside a cleaned folder, and a cleaned folder that is itself a link.
    const std::wstring temp = kUser + L"\\AppData\\Local\\Temp";
    Plant(temp + L"\\own.tmp");
    fs::create_directory_symlink(m_root / "outside" / "Documents", Host(temp + L"\\Project"));
    fs::create_symlink(m_root / "outside" / "Documents" / "index.dat", Host(temp + L"\\index.dat"));
    fs::create_directories(Host(kUser + L"\\AppData\\Roaming\\Microsoft\\Windows"));
    fs::create_directory_symlink(m_root / "outside" / "Documents",
                                 Host(kUser + L"\\AppData\\Roaming\\Microsoft\\Windows\\Cookies"));

    Clean(0x10 | 0x4 | 0x400);

    EXPECT_EQ(Items(), (std::set<SItem>{{0x400, temp + L"\\own.tmp", 0}}));
    EXPECT_TRUE(fs::exists(m_root / "outside" / "Documents" / "index.dat"));
    EXPECT_TRUE(fs::exists(m_root / "outside" / "Documents" / "Project" / "notes.tmp"));
    EXPECT_TRUE(fs::is_symlink(Host(temp + L"\\Project")));
    EXPECT_TRUE(fs::is_symlink(Host(temp + L"\\index.dat")));
    EXPECT_EQ(m_vcLogs, (std::vector<std::string>{"Unable to clean folder ( " + ToUtf8(kUser) +
                                                  "\\AppData\\Roaming\\Microsoft\\Windows\\Cookies ): it is a "
                                                  "symbolic link"}));
}

TEST_F(HistoryCleanerTest, AutocompleteFallsBackToTheProtectedStorage) {
    MakeTarget(kXpUser, R"REG(
[Software\\Microsoft\\Protected Storage System Provider\\S-1-5-21-0-0-0-1000\\Data\\e161255a-37c3-11d2-bcaa-00c04fd929db\\e161255a-37c3-11d2-bcaa-00c04fd929db]
"Item"=hex:01
[Software\\Microsoft\\Protected Storage System Provider\\S-1-5-21-0-0-0-1000\\Data\\5e7e8100-9138-11d1-945a-00c04fc308ff]
"Other"=hex:02
)REG");
    Clean(0x8);
    const std::wstring strData = L"Software\\Microsoft\\Protected Storage System Provider\\S-1-5-21-0-0-0-1000\\Data";
    EXPECT_EQ(Items(), (std::set<SItem>{{0x8, L"HKEY_CURRENT_USER\\" + strData + L"\\e161255a-37c3-11d2-bcaa-00c04fd929db", 0}}));
    EXPECT_FALSE(KeyExists(strData + L"\\e161255a-37c3-11d2-bcaa-00c04fd929db"));
    EXPECT_TRUE(KeyExists(strData + L"\\5e7e8100-9138-11d1-945a-00c04fc308ff"));
}

TEST_F(HistoryCleanerTest, WithoutAProfileFolderNothingOfTheDriveRootIsTouched) {
    MakeTarget(kUser);
    CRegistry reg = CRegistry::CreateInMemory();  // no ProfileList, no Windows folder: no variables
    m_target = CTarget::OpenTest((m_root / "c").string(), reg);
    ASSERT_EQ(m_target->Environment().Get(L"USERPROFILE"), L"");
    Plant(L"C:\\index.dat");
    Plant(L"C:\\Temp\\a.tmp");
    Plant(L"C:\\AppData\\Local\\Temp\\b.tmp");
    Plant(L"C:\\setup.log");
    Clean(0x3FFF & ~0x1000);
    EXPECT_TRUE(m_vcItems.empty());
    for (const wchar_t* p : {L"C:\\index.dat", L"C:\\Temp\\a.tmp", L"C:\\AppData\\Local\\Temp\\b.tmp", L"C:\\setup.log"}) {
        EXPECT_TRUE(fs::exists(Host(p))) << ToUtf8(p);
    }
}
