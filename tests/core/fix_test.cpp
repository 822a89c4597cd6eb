#include "core/Fix.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/RegData.h"
#include "core/RegError.h"
#include "target_fixture.h"

using namespace Branwick;
using Branwick::Test::CTargetTest;
using Branwick::Test::Sz;

namespace {

using Log = std::vector<std::wstring>;

constexpr const char* kKeyWithValues = R"(
[Software\\Bad]
"first"="1"
"third"="3"
[Software\\Bad\\Sub]
"x"=dword:00000001
)";

TEST(FixDescription, ValueFixesWithEmptyDataTextAreEmptyWhateverTheName) {
    EXPECT_EQ(CDeleteRegistryValue(HKEY_LOCAL_MACHINE, L"K", L"Name", L"", 0).GetDescription(), L"");
    EXPECT_EQ(CDeleteRegistryValue(HKEY_LOCAL_MACHINE, L"K", L"", L"", 0).GetDescription(), L"");
    EXPECT_EQ(CDeleteRegistryValue(HKEY_LOCAL_MACHINE, L"K", L"", L"C:\\x.dll", 0).GetDescription(),
              L"(Default) = C:\\x.dll;");
    EXPECT_EQ(CDeleteRegistryKey(HKEY_CLASSES_ROOT, L"CLSID\\{1}", L"AppID", L"{2}", 0x200)
                  .GetDescription(),
              L"AppID = {2};");
    // Data texts are shown as they are, however odd.
    const std::wstring strOdd(L"50%s\0x", 6);
    EXPECT_EQ(CDeleteRegistryValue(HKEY_LOCAL_MACHINE, L"K", L"n", strOdd, 0).GetDescription(),
              L"n = " + strOdd + L";");
}

TEST(FixDescription, ContainerShowsItsFirstFix) {
    CFixContainer container;
    EXPECT_EQ(container.GetDescription(), L"");
    container.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"K", L"a", L"", 0));
    container.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"K", L"b", L"x", 0));
    EXPECT_EQ(container.GetDescription(), L"");
    container.Clear();
    container.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"K", L"b", L"x", 0));
    EXPECT_EQ(container.GetDescription(), L"b = x;");
}

using FixTest = CTargetTest;

TEST_F(FixTest, DeleteKeyRemovesTheTreeInItsViewAndLogs) {
    Import(HKEY_LOCAL_MACHINE, R"([Software\\Wow6432Node\\App\\Deep\\Er]
"v"="1"
[Software\\App]
"native"="1"
)");
    CDeleteRegistryKey fix(HKEY_LOCAL_MACHINE, L"Software\\App", L"", L"", KEY_WOW64_32KEY);
    EXPECT_EQ(Fix(fix), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\App"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\App"));
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryKey::Fix()", L"CDeleteRegistryKey::OpenKey() returns 0"}));

    EXPECT_EQ(Fix(fix), 1);
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryKey::Fix()", L"CDeleteRegistryKey::OpenKey() returns 2",
                              L"m_hKey is _T(\"\")"}));
}

TEST_F(FixTest, DeleteValueRemovesOneValueAndLogsFailures) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    CDeleteRegistryValue fix(HKEY_LOCAL_MACHINE, L"Software\\Bad", L"first", L"1", 0);
    EXPECT_EQ(Fix(fix), 0);
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryValue::Fix()", L"CDeleteRegistryKey::OpenKey() returns 0"}));
    EXPECT_EQ(m_registry.ExportText(HKEY_LOCAL_MACHINE, L"Software\\Bad"),
              "\n[]\n\"third\"=\"3\"\n\n[Sub]\n\"x\"=dword:00000001\n");

    EXPECT_EQ(Fix(fix), 1);
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryValue::Fix()", L"CDeleteRegistryKey::OpenKey() returns 0",
                              L"::RegDeleteValue( m_hKey, m_sValueName ) return : 2"}));

    CDeleteRegistryValue noKey(HKEY_LOCAL_MACHINE, L"Software\\Gone", L"first", L"1", 0);
    EXPECT_EQ(Fix(noKey), 1);
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryValue::Fix()", L"CDeleteRegistryKey::OpenKey() returns 2",
                              L"m_hKey is NULL"}));
}

TEST_F(FixTest, NoLogLinesAreComposedWhenNoOneReadsThem) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    m_sink.SetListened(CLogMessage::kType, false);
    m_sink.SetListened(CFixProgressMessage::kType, true);  // other types do not count
    CDeleteRegistryKey fix(HKEY_LOCAL_MACHINE, L"Software\\Bad", L"", L"", 0);
    EXPECT_EQ(Fix(fix), 0);  // the fix itself is the same
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    EXPECT_EQ(Fix(fix), 1);  // and so is a failure, only unlogged
    EXPECT_TRUE(m_queue.IsEmpty());
    m_sink.SetListened(CLogMessage::kType, true);
    EXPECT_EQ(Fix(fix), 1);
    EXPECT_EQ(TakeLog(), (Log{L"CDeleteRegistryKey::Fix()",
                              L"CDeleteRegistryKey::OpenKey() returns 2", L"m_hKey is _T(\"\")"}));
}

// The record of a category that deletes a key after removing values from it.
CRegError RecordWithThreeValueFixes(const std::wstring& strMissing) {
    CRegError record(UNINSTALL, HKEY_LOCAL_MACHINE, L"Software\\Bad", L"d", 0, true);
    for (const wchar_t* pszName : {L"first", strMissing.c_str(), L"third"}) {
        record.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"Software\\Bad",
                                                             pszName, L"", 0));
    }
    return record;
}

TEST_F(FixTest, RecordWhoseSecondOfThreeFixesFailsRunsAllAndKeepsTheKey) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    CRegError record = RecordWithThreeValueFixes(L"missing");
    EXPECT_EQ(Fix(record), 1);
    // The first and the third value are gone; the key itself was not deleted.
    EXPECT_EQ(m_registry.ExportText(HKEY_LOCAL_MACHINE, L"Software\\Bad"),
              "\n[Sub]\n\"x\"=dword:00000001\n");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    const Log log = TakeLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], L"CFixContainer::Fix()");
    EXPECT_EQ(log[1], L"CFixContainer::m_vcFixes size 3");
    EXPECT_EQ(std::count(log.begin(), log.end(), L"CDeleteRegistryValue::Fix()"), 3);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::wstring& s) { return s.find(L"CRegError") == 0; }),
              0);
}

TEST_F(FixTest, RecordDeletesItsKeyAfterItsFixes) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    CRegError record(UNINSTALL, HKEY_LOCAL_MACHINE, L"Software\\Bad", L"d", 0, true);
    record.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"Software\\Bad",
                                                         L"first", L"", 0));
    EXPECT_EQ(Fix(record), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    const Log log = TakeLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4], L"CRegError::Fix. RegOpenKeyEx returns 0");
    EXPECT_EQ(log[5], L"CRegError::Fix. SHDeleteKey returns 0");
}

TEST_F(FixTest, RecordWithoutDeleteSelfOrFixesChangesNothing) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    const std::string before = Export();
    CRegError record(EMPTY_KEYS, HKEY_LOCAL_MACHINE, L"Software\\Bad", L"d", 0, false);
    EXPECT_EQ(Fix(record), 0);
    CRegError noPath(EMPTY_KEYS, HKEY_LOCAL_MACHINE, L"", L"d", 0, true);
    EXPECT_EQ(Fix(noPath), 0);
    EXPECT_EQ(Export(), before);
}

// A record whose key is gone has nothing left to repair, whoever removed the key: its own
// attached fix, or another record's fix earlier in the same run.
TEST_F(FixTest, RecordWhoseKeyIsAlreadyGoneIsFixed) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    CRegError record(COM, HKEY_LOCAL_MACHINE, L"Software\\Bad", L"d", 0, true);
    record.AddFix(std::make_unique<CDeleteRegistryKey>(HKEY_LOCAL_MACHINE, L"Software\\Bad",
                                                       L"AppID", L"{x}", 0));
    EXPECT_EQ(Fix(record), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    EXPECT_EQ(TakeLog().back(), L"CRegError::Fix. RegOpenKeyEx returns 2");

    // Its value fix and its own deletion both find nothing; so does a record below it.
    CRegError again = RecordWithThreeValueFixes(L"second");
    EXPECT_EQ(Fix(again), 0);
    CRegError below(EMPTY_KEYS, HKEY_LOCAL_MACHINE, L"Software\\Bad\\Sub", L"d", 0, false);
    below.AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"Software\\Bad\\Sub",
                                                        L"x", L"", 0));
    EXPECT_EQ(Fix(below), 0);
}

TEST_F(FixTest, FileRecordDeletesTheFileAndBacksUpNothing) {
    std::ofstream(m_root / "drive_c" / "junk.tmp") << "junk";
    CRegError record(JUNK_FILES, 0, L"C:\\JUNK.TMP", L"Junk file found: C:\\JUNK.TMP",
                     KEY_WOW64_32KEY, true);
    pugi::xml_document doc;
    record.Backup(CreateBackupDocument(doc), m_registry);
    EXPECT_EQ(BackupDocumentText(doc), "<Backup/>");

    EXPECT_EQ(Fix(record), 0);
    EXPECT_FALSE(std::filesystem::exists(m_root / "drive_c" / "junk.tmp"));
    EXPECT_EQ(Fix(record), 1);  // already gone
    // A file outside the target's own folders is never deleted.
    std::ofstream(m_root / "outside.tmp") << "x";
    CRegError outside(JUNK_FILES, 0, L"C:\\..\\outside.tmp", L"", 0, true);
    EXPECT_EQ(Fix(outside), 1);
    EXPECT_TRUE(std::filesystem::exists(m_root / "outside.tmp"));
}

// A file record deletes only a plain file: what has since become a folder or a link under the
// scanned name stays, and so does what the link leads to.
TEST_F(FixTest, FileRecordLeavesAFolderOrALinkAlone) {
    const std::filesystem::path drive = m_root / "drive_c";
    std::filesystem::create_directory(drive / "now.tmp");
    std::ofstream(drive / "real.tmp") << "someone's";
    std::filesystem::create_symlink(drive / "real.tmp", drive / "link.tmp");
    CRegError folder(JUNK_FILES, 0, L"C:\\now.tmp", L"", KEY_WOW64_32KEY, true);
    CRegError link(JUNK_FILES, 0, L"C:\\link.tmp", L"", KEY_WOW64_32KEY, true);
    EXPECT_EQ(Fix(folder), 1);
    EXPECT_EQ(Fix(link), 1);
    EXPECT_TRUE(std::filesystem::is_directory(drive / "now.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(drive / "link.tmp"));
    EXPECT_TRUE(std::filesystem::exists(drive / "real.tmp"));
}

TEST_F(FixTest, CopiesOwnTheirFixes) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    auto pRecord = std::make_unique<CRegError>(UNINSTALL, HKEY_LOCAL_MACHINE, L"Software\\Bad",
                                               L"d", 0, false);
    pRecord->AddFix(std::make_unique<CDeleteRegistryValue>(HKEY_LOCAL_MACHINE, L"Software\\Bad",
                                                           L"third", L"3", 0));
    pRecord->m_nState = 1;
    const CErrorFoundMessage message(*pRecord, UNINSTALL);
    pRecord.reset();

    std::unique_ptr<CMessage> pClone = message.Clone();
    const CRegError& copy = static_cast<CErrorFoundMessage&>(*pClone).m_regError;
    EXPECT_EQ(copy.m_nState, 1);
    EXPECT_EQ(copy.GetDescription(), L"third = 3;");
    ASSERT_EQ(copy.GetFixes().size(), 1u);
    EXPECT_NE(copy.GetFixes()[0].get(), message.m_regError.GetFixes()[0].get());
    EXPECT_EQ(pClone->ToString(),
              L"CErrorFoundMessage\nScanType: 2\nCRegError path: HKEY_LOCAL_MACHINE\\Software\\Bad\n");

    std::unique_ptr<IFix> pFixCopy = copy.Clone();
    EXPECT_EQ(Fix(*pFixCopy), 0);
    EXPECT_EQ(m_registry.ExportText(HKEY_LOCAL_MACHINE, L"Software\\Bad"),
              "\n[]\n\"first\"=\"1\"\n\n[Sub]\n\"x\"=dword:00000001\n");
}

TEST(RegErrorPath, RootNameBackslashPathWithRootsLookedUpCaseSensitively) {
    auto path = [](HKEY hRoot, const wchar_t* pszPath) {
        return CRegError(COM, hRoot, pszPath, L"", 0, true).GetFullPath();
    };
    EXPECT_EQ(path(HKEY_LOCAL_MACHINE, L"Software\\X"), L"HKEY_LOCAL_MACHINE\\Software\\X");
    EXPECT_EQ(path(0, L"C:\\temp\\a.tmp"), L"C:\\temp\\a.tmp");
    EXPECT_EQ(path(HKEY_PERFORMANCE_DATA, L"Counter"), L"Counter");
    EXPECT_EQ(path(HKEY_CURRENT_CONFIG, L""), L"HKEY_CURRENT_CONFIG");
    EXPECT_EQ(GetRootKeyHandle(L"HKEY_USERS"), HKEY_USERS);
    EXPECT_EQ(GetRootKeyHandle(L"hkey_users"), 0u);
    EXPECT_EQ(GetRootKeyHandle(L"HKEY_PERFORMANCE_DATA"), 0u);
}

TEST_F(FixTest, AFixChangesTheTargetItIsGivenAndLogsToItsSink) {
    Import(HKEY_LOCAL_MACHINE, kKeyWithValues);
    const std::unique_ptr<Platform::CTarget> pOther =
        Platform::CTarget::OpenTest(m_root.string(), Platform::CRegistry::CreateInMemory());
    ASSERT_TRUE(pOther->Registry().ImportText(HKEY_LOCAL_MACHINE, kKeyWithValues).Ok());
    CDeleteRegistryKey fix(HKEY_LOCAL_MACHINE, L"Software\\Bad", L"", L"", 0);
    EXPECT_EQ(fix.Fix({*pOther, nullptr}), 0);
    Platform::CRegKey key;
    EXPECT_EQ(pOther->Registry().OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Bad", 0, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    EXPECT_TRUE(TakeLog().empty()) << "no sink, no log lines";
    EXPECT_EQ(Fix(fix), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bad"));
    EXPECT_FALSE(TakeLog().empty());
}

}  // namespace

namespace {

CRegError KeyRecord(HKEY hRoot, const std::wstring& strPath, REGSAM dwView) {
    return CRegError(COM, hRoot, strPath, L"d", dwView, true);
}

TEST_F(FixTest, ARedirected32BitKeyIsShownWhereTheNativeViewFindsIt) {
    Import(HKEY_LOCAL_MACHINE, R"(
[Software\\Wow6432Node\\Gone]
[Software\\Native]
[Software\\Classes\\Wow6432Node\\CLSID\\{A}]
[Software\\Classes\\AppID\\{B}]
)");
    EXPECT_EQ(KeyRecord(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Gone", KEY_WOW64_32KEY)
                  .GetDisplayPath(m_registry),
              L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Gone");
    EXPECT_EQ(
        KeyRecord(HKEY_CLASSES_ROOT, L"CLSID\\{A}", KEY_WOW64_32KEY).GetDisplayPath(m_registry),
        L"HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{A}");
    // Keys the view shares, keys named by their real path already, the native view, keys that
    // are gone and files keep the record's own path.
    for (const CRegError& record :
         {KeyRecord(HKEY_CLASSES_ROOT, L"AppID\\{B}", KEY_WOW64_32KEY),
          KeyRecord(HKEY_CLASSES_ROOT, L"Wow6432Node\\CLSID\\{A}", KEY_WOW64_32KEY),
          KeyRecord(HKEY_LOCAL_MACHINE, L"Software\\Native", KEY_WOW64_64KEY),
          KeyRecord(HKEY_LOCAL_MACHINE, L"Software\\Missing", KEY_WOW64_32KEY),
          CRegError(JUNK_FILES, 0, L"C:\\x.tmp", L"d", KEY_WOW64_32KEY, true)}) {
        EXPECT_EQ(record.GetDisplayPath(m_registry), record.GetFullPath());
    }
    // A 32-bit target has one view: nothing is redirected.
    Platform::CRegistry registry32 = Platform::CRegistry::CreateInMemory({.m_b64Bit = false});
    ASSERT_EQ(registry32.ImportText(HKEY_LOCAL_MACHINE, "[Software\\\\Gone]\n").m_lCode,
              ERROR_SUCCESS);
    EXPECT_EQ(KeyRecord(HKEY_LOCAL_MACHINE, L"Software\\Gone", KEY_WOW64_32KEY)
                  .GetDisplayPath(registry32),
              L"HKEY_LOCAL_MACHINE\\Software\\Gone");
}

}  // namespace
