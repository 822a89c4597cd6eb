// Fix runs through the loaded library: the selected records are backed up and fixed, counted per
// category and erased from the collection; the registry reaches the disk once, all or nothing; the
// history file keeps the backup.
#include <pugixml.hpp>

#include <stdexcept>

#include "tests/fendral/fendral_fixture.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

const char kMachine[] = R"(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"="C:\\ProgramData"
[Software\\Vendor\\R1]
"v"="1"
[Software\\Vendor\\R2]
"v"="2"
[Software\\Vendor\\R2\\Sub]
[Software\\Vendor\\R3]
[Software\\Vendor\\R4]
"v"=dword:00000004
)";

CRegError KeyRecord(std::int32_t nBit, int n, std::int32_t nState) {
    CRegError record(nBit, HKEY_LOCAL_MACHINE, L"Software\\Vendor\\R" + std::to_wstring(n),
                     L"finding " + std::to_wstring(n), KEY_WOW64_64KEY, true);
    record.m_nState = nState;
    return record;
}

CRegError FileRecord(const std::wstring& strPath, std::int32_t nState) {
    CRegError record(JUNK_FILES, 0, strPath, L"Junk file found: " + strPath, KEY_WOW64_32KEY, true);
    record.m_nState = nState;
    return record;
}

bool KeyExists(const Platform::CRegistry& registry, int n) {
    Platform::CRegKey key;
    return registry.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\R" + std::to_wstring(n),
                            KEY_READ, &key) == ERROR_SUCCESS;
}

std::vector<std::wstring> Descriptions(const std::list<CRegError>& list) {
    std::vector<std::wstring> out;
    for (const CRegError& record : list) {
        out.push_back(record.m_sDescription);
    }
    return out;
}

// The history files in a target's data folder (host paths).
std::vector<std::filesystem::path> HistoryFiles(const std::filesystem::path& driveC) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(
             driveC / "ProgramData" / "Application Data" / "Corvane" / "History", ec)) {
        out.push_back(entry.path());
    }
    return out;
}

class CleanUpTest : public FendralTest {
protected:
    // The records were made here, so their code is the program's, as after a real scan.
    DWORD Fix(CTestTarget& target, CErrorCollection& collection, DWORD dwFlags) {
        return Run(kFendralCleanUp, dwFlags, target.Get(), &collection);
    }

    SFixCount Counts(std::int32_t nBit) {
        const auto finish = m_recorder.Of<CFinishFixMessage>();
        EXPECT_EQ(finish.size(), 1u);
        return finish.empty() ? SFixCount{} : finish[0].m_mapStatistics.at(nBit);
    }
};

TEST_F(CleanUpTest, FixesTheSelectedRecordsAndKeepsTheOthers) {
    CTestTarget target(true, kMachine);
    ASSERT_TRUE(target.Imported());
    CErrorCollection collection;
    for (int n = 1; n <= 4; ++n) {
        collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, n, n % 2 == 0 ? 1 : (n == 3 ? 2 : 0)));
    }
    collection[SHARED_DLLS].push_back(KeyRecord(SHARED_DLLS, 1, 1));
    collection[SHARED_DLLS].push_back(KeyRecord(SHARED_DLLS, 3, 1));
    const std::size_t nLog = LogSize("Cleanup.log");
    Fix(target, collection, UNINSTALL | FONTS);

    std::vector<std::tuple<int, std::wstring, std::int32_t, int>> progress;
    for (const auto& m : m_recorder.Of<CFixProgressMessage>()) {
        progress.emplace_back(m.m_nProgress, m.m_strScanDescription, m.m_nScanType, m.m_nErrorCount);
    }
    EXPECT_EQ(progress, (std::vector<std::tuple<int, std::wstring, std::int32_t, int>>{
                            {0, L"Starting...", UNINSTALL, 0},
                            {50, L"finding 2", UNINSTALL, 1},
                            {100, L"finding 4", UNINSTALL, 2},
                            {100, L"Starting...", UNINSTALL, 2}}));
    EXPECT_EQ(Counts(UNINSTALL).nFound, 4);
    EXPECT_EQ(Counts(UNINSTALL).nFixed, 2);
    // A category outside the flags is counted but not fixed; one with no records is all zero.
    EXPECT_EQ(Counts(SHARED_DLLS).nFound, 2);
    EXPECT_EQ(Counts(SHARED_DLLS).nFixed, 0);
    EXPECT_EQ(Counts(FONTS).nFound, 0);
    EXPECT_EQ(Descriptions(collection[UNINSTALL]),
              (std::vector<std::wstring>{L"finding 1", L"finding 3"}));
    EXPECT_EQ(collection[SHARED_DLLS].size(), 2u);

    EXPECT_TRUE(KeyExists(target.Registry(), 1));
    EXPECT_FALSE(KeyExists(target.Registry(), 2));
    EXPECT_TRUE(KeyExists(target.Registry(), 3));
    EXPECT_FALSE(KeyExists(target.Registry(), 4));
    EXPECT_FALSE(target.Registry().IsDirty()) << "the run ends with its one flush";

    const auto files = HistoryFiles(target.Folder());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("Corvanes_history_", 0), 0u);
    EXPECT_EQ(files[0].extension(), ".his");
    pugi::xml_document history;
    ASSERT_TRUE(history.load_file(files[0].c_str()));
    std::vector<std::string> saved;
    for (const pugi::xml_node key : history.child("Backup").children("Registry_Key")) {
        saved.push_back(key.attribute("Path").value());
        EXPECT_STREQ(key.attribute("RegSam").value(), "256");
    }
    EXPECT_EQ(saved, (std::vector<std::string>{"Software\\Vendor\\R2", "Software\\Vendor\\R4"}));
    EXPECT_TRUE(history.child("Backup").first_child().child("Sub_key"));

    EXPECT_EQ(LogLines("Cleanup.log", nLog),
              (std::vector<std::wstring>{L"Fixing is started",
                                         L"HKEY_LOCAL_MACHINE\\Software\\Vendor\\R2 is fixed",
                                         L"HKEY_LOCAL_MACHINE\\Software\\Vendor\\R4 is fixed",
                                         L"Fixing is finished", L"Saving backup", L"Backup is saved",
                                         L"Sending FixFinished message",
                                         L"Sending ThreadFinished message", L"Finishing Thread"}));
    EXPECT_TRUE(m_box.GetShown().empty());
}

TEST_F(CleanUpTest, AJunkFileIsDeletedWithoutABackupAndNothingSelectedStillSavesTheHistory) {
    CTestTarget target(true, kMachine);
    target.MakeFile("temp/a.tmp");
    target.MakeFile("temp/b.tmp");
    CErrorCollection collection;
    collection[JUNK_FILES].push_back(FileRecord(L"C:\\temp\\a.tmp", 1));
    collection[JUNK_FILES].push_back(FileRecord(L"C:\\temp\\b.tmp", 0));
    Fix(target, collection, JUNK_FILES);
    EXPECT_FALSE(target.HostExists("temp/a.tmp"));
    EXPECT_TRUE(target.HostExists("temp/b.tmp"));
    EXPECT_EQ(Counts(JUNK_FILES).nFixed, 1);
    EXPECT_EQ(collection[JUNK_FILES].size(), 1u);

    // The same run again with nothing selected: a second history file, empty.
    m_recorder.Clear();
    Fix(target, collection, 0xFFF);
    EXPECT_EQ(Counts(JUNK_FILES).nFound, 1);
    EXPECT_EQ(Counts(JUNK_FILES).nFixed, 0);
    const auto files = HistoryFiles(target.Folder());
    ASSERT_EQ(files.size(), 2u) << "each run keeps its own history file";
    for (const auto& file : files) {
        pugi::xml_document history;
        ASSERT_TRUE(history.load_file(file.c_str()));
        ASSERT_TRUE(history.child("Backup"));
        EXPECT_FALSE(history.child("Backup").first_child()) << file;
    }
}

TEST_F(CleanUpTest, WithoutADataFolderNothingIsDeleted) {
    // No ProfileList: the target has neither ALLUSERSPROFILE nor PROGRAMDATA.
    CTestTarget target(true, "[Software\\\\Vendor\\\\R1]\n");
    target.MakeFile("temp/a.tmp");
    CErrorCollection collection;
    collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, 1, 1));
    collection[JUNK_FILES].push_back(FileRecord(L"C:\\temp\\a.tmp", 1));
    Fix(target, collection, 0xFFF);
    EXPECT_TRUE(KeyExists(target.Registry(), 1));
    EXPECT_TRUE(target.HostExists("temp/a.tmp"));
    EXPECT_EQ(Counts(UNINSTALL).nFound, 1);
    EXPECT_EQ(Counts(UNINSTALL).nFixed, 0);
    EXPECT_EQ(Counts(JUNK_FILES).nFixed, 0);
    EXPECT_EQ(collection[UNINSTALL].size(), 1u);
    EXPECT_EQ(collection[JUNK_FILES].size(), 1u);
    const auto shown = m_box.GetShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].strText, L"Can't get USERPROFILE path");
    EXPECT_NE(shown[1].strText.find(L"nothing is fixed"), std::wstring::npos);
    EXPECT_TRUE(m_recorder.Of<CFixProgressMessage>().empty());
    EXPECT_EQ(m_recorder.Of<CFinishThreadMessage>().size(), 1u);
}

TEST_F(CleanUpTest, WithoutACollectionTheFailureIsReportedAndTheRunStillFinishes) {
    CTestTarget target(true, kMachine);
    Run(kFendralCleanUp, 0xFFF, target.Get(), nullptr);
    ASSERT_EQ(m_box.GetShown().size(), 1u);
    EXPECT_EQ(m_box.GetShown()[0].strText.rfind(L"Cause: ", 0), 0u);
    EXPECT_EQ(m_recorder.Of<CFinishFixMessage>().size(), 1u);
    EXPECT_TRUE(HistoryFiles(target.Folder()).empty());
}

// A fix that fails in a way no fix should: by throwing.
class CThrowingFix : public IFix {
public:
    std::unique_ptr<IFix> Clone() const override { return std::make_unique<CThrowingFix>(); }
    int Fix(const SFixContext&) override { throw std::runtime_error("the fix broke down"); }
    std::wstring GetDescription() const override { return {}; }
    void Backup(pugi::xml_node, const Platform::CRegistry&) const override {}
};

TEST_F(CleanUpTest, AnExceptionInTheMiddleUndoesTheRunsRegistryChanges) {
    CTestTarget target(true, kMachine);
    CErrorCollection collection;
    collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, 2, 1));
    collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, 4, 1));
    collection[UNINSTALL].back().AddFix(std::make_unique<CThrowingFix>());
    collection[FONTS].push_back(KeyRecord(FONTS, 1, 1));
    Fix(target, collection, 0xFFF);
    ASSERT_EQ(m_box.GetShown().size(), 1u);
    EXPECT_NE(m_box.GetShown()[0].strText.find(L"the fix broke down"), std::wstring::npos);
    EXPECT_TRUE(KeyExists(target.Registry(), 2)) << "the first fix is undone";
    EXPECT_TRUE(KeyExists(target.Registry(), 4));
    EXPECT_TRUE(KeyExists(target.Registry(), 1)) << "later categories are not fixed";
    EXPECT_EQ(Counts(UNINSTALL).nFixed, 0);
    EXPECT_EQ(Counts(FONTS).nFound, 1);
    EXPECT_EQ(collection[UNINSTALL].size(), 2u);
    EXPECT_TRUE(HistoryFiles(target.Folder()).empty());
    EXPECT_EQ(m_recorder.Of<CFinishThreadMessage>().size(), 1u);
}

// A Wine prefix whose system.reg has a line that cannot be read: the store refuses to write it.
class CBrokenPrefix {
public:
    CBrokenPrefix() {
        std::filesystem::create_directories(m_folder / "dosdevices");
        std::filesystem::create_directories(m_folder / "drive_c" / "windows" / "system32");
        std::filesystem::create_directories(m_folder / "drive_c" / "temp");
        std::filesystem::create_symlink("../drive_c", m_folder / "dosdevices" / "c:");
        std::ofstream(m_folder / "drive_c" / "temp" / "a.tmp") << "junk";
        std::ofstream(m_folder / "system.reg") << R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1700000000
"ProgramData"="C:\\ProgramData"

[Software\\Vendor\\R1] 1700000000
"v"="1"
this line cannot be read

[Software\\Vendor\\R2] 1700000000
"v"="2"
)";
        std::ofstream(m_folder / "user.reg") << "WINE REGISTRY Version 2\n\n#arch=win64\n";
        m_systemReg = CorvaneTest::ReadAll(m_folder / "system.reg");
    }

    CorvaneTest::CTempFolder m_folder{"corvane-broken-prefix"};
    std::string m_systemReg;
};

TEST_F(CleanUpTest, AFailedFlushChangesNoRegistryFileAndKeepsTheRegistryRecords) {
    CBrokenPrefix prefix;
    std::wstring strError;
    std::unique_ptr<Platform::CTarget> pTarget =
        Platform::CTarget::OpenWinePrefix(prefix.m_folder.Path().string(), strError);
    ASSERT_NE(pTarget, nullptr) << WideToUtf8(strError);
    ASSERT_FALSE(pTarget->Registry().LoadWarnings().empty());
    CErrorCollection collection;
    collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, 1, 1));
    collection[UNINSTALL].push_back(KeyRecord(UNINSTALL, 2, 1));
    collection[JUNK_FILES].push_back(FileRecord(L"C:\\temp\\a.tmp", 1));
    Run(kFendralCleanUp, UNINSTALL | JUNK_FILES, pTarget.get(), &collection);
    EXPECT_EQ(CorvaneTest::ReadAll(prefix.m_folder / "system.reg"), prefix.m_systemReg);
    EXPECT_TRUE(KeyExists(pTarget->Registry(), 1)) << "the registry in memory is what is on disk";
    EXPECT_TRUE(KeyExists(pTarget->Registry(), 2));
    EXPECT_FALSE(pTarget->Registry().IsDirty());
    EXPECT_EQ(Counts(UNINSTALL).nFound, 2);
    EXPECT_EQ(Counts(UNINSTALL).nFixed, 0);
    EXPECT_EQ(collection[UNINSTALL].size(), 2u);
    // The junk file is really gone, and counted.
    EXPECT_FALSE(std::filesystem::exists(prefix.m_folder / "drive_c" / "temp" / "a.tmp"));
    EXPECT_EQ(Counts(JUNK_FILES).nFixed, 1);
    EXPECT_TRUE(collection[JUNK_FILES].empty());

    ASSERT_EQ(m_box.GetShown().size(), 1u);
    const std::wstring strShown = m_box.GetShown()[0].strText;
    EXPECT_NE(strShown.find(L"The registry could not be saved"), std::wstring::npos);
    bool bLogged = false;
    for (const auto& log : m_recorder.Of<CLogMessage>()) {
        bLogged |= log.m_strText.find(strShown) != std::wstring::npos;
    }
    EXPECT_TRUE(bLogged);
    // The history holds no backup of what was not changed.
    const auto files = HistoryFiles(prefix.m_folder / "drive_c");
    ASSERT_EQ(files.size(), 1u);
    pugi::xml_document history;
    ASSERT_TRUE(history.load_file(files[0].c_str()));
    EXPECT_FALSE(history.child("Backup").first_child());
}

}  // namespace
