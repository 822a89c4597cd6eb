// Scans of file associations, application paths, help files, file/path references and empty keys
// through the loaded library, and fix runs of what they found: each finding's record, what its
// fixes delete, and what a fix run removes and keeps.
#include "tests/fendral/finding_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

const std::wstring kMissing = L"Specified file doesn't exist.";

class ReferenceScannersTest : public FindingFixture {};

TEST_F(ReferenceScannersTest, FileAssociations) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Classes\\.abc]
@="Missing.Class"
"PerceivedType"="gonetype"
[Software\\Classes\\.txt]
@="txtfile"
"PerceivedType"="text"
[Software\\Classes\\.noclass]
@=""
[Software\\Classes\\SystemFileAssociations\\text]
[Software\\Classes\\txtfile]
@="Text"
[Software\\Classes\\txtfile\\shell\\open\\command]
@=str(2):"%SystemRoot%\\system32\\notepad.exe %1"
[Software\\Classes\\Broken.Class]
@="Broken"
[Software\\Classes\\Broken.Class\\shell\\edit\\command]
@="C:\\Tools\\edit.exe \"%1\""
[Software\\Classes\\Broken.Class\\shell\\open\\command]
@="\"C:\\Missing\\App.EXE\" \"%1\""
[Software\\Classes\\Broken.Class\\shell\\print\\command]
@="\"C:\\Missing\\print.exe\" /p \"%1\""
[Software\\Classes\\NoDefault.Class\\shell\\open\\command]
@="C:\\Missing\\nodefault.exe"
[Software\\Classes\\NoVerbs.Class]
@="Nothing to run"
)reg");
    ASSERT_TRUE(target.Imported());
    target.MakeFile("windows/system32/notepad.exe");
    target.MakeFile("Tools/edit.exe");

    const std::vector<CRegError> found = Scan(FILE_ASSOCIATIONS, *target.Get());
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{L".abc", L".abc", L"Broken.Class\\shell\\open",
                                                       L"Broken.Class\\shell\\print"}));
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, HKEY_CLASSES_ROOT);
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
        EXPECT_EQ(record.m_nScanType, FILE_ASSOCIATIONS);
    }
    EXPECT_EQ(found[0].m_sDescription,
              L"Associated class \"HKEY_CLASSES_ROOT\\Missing.Class\" doesn't exist");
    EXPECT_FALSE(found[0].m_bDeleteSelf);
    EXPECT_EQ(found[0].GetDescription(), L"(Default) = Missing.Class;");
    EXPECT_EQ(found[1].m_sDescription,
              L"Associated class \"HKEY_CLASSES_ROOT\\SystemFileAssociations\\gonetype\" doesn't "
              L"exist");
    EXPECT_EQ(found[1].GetDescription(), L"PerceivedType = gonetype;");
    for (std::size_t i : {2u, 3u}) {
        EXPECT_EQ(found[i].m_sDescription, L"Shell command refers to the non-existing file.");
        EXPECT_TRUE(found[i].m_bDeleteSelf);
    }

    FixAll(*target.Get(), found);
    const Platform::CRegistry& reg = target.Registry();
    EXPECT_FALSE(HasValue(reg, HKEY_CLASSES_ROOT, L".abc", L""));
    EXPECT_FALSE(HasValue(reg, HKEY_CLASSES_ROOT, L".abc", L"PerceivedType"));
    EXPECT_TRUE(HasKey(reg, HKEY_CLASSES_ROOT, L".abc"));
    EXPECT_FALSE(HasKey(reg, HKEY_CLASSES_ROOT, L"Broken.Class\\shell\\open"));
    EXPECT_FALSE(HasKey(reg, HKEY_CLASSES_ROOT, L"Broken.Class\\shell\\print"));
    EXPECT_TRUE(HasKey(reg, HKEY_CLASSES_ROOT, L"Broken.Class\\shell\\edit\\command"));
    EXPECT_TRUE(HasValue(reg, HKEY_CLASSES_ROOT, L".txt", L"PerceivedType"));
    EXPECT_TRUE(HasKey(reg, HKEY_CLASSES_ROOT, L"NoDefault.Class\\shell\\open"));
    EXPECT_TRUE(Scan(FILE_ASSOCIATIONS, *target.Get()).empty());
}

// Only the keys right below the root are extensions: what lies below one names CLSIDs and
// commands, not classes. The perceived types Windows defines need no key of their own.
TEST_F(ReferenceScannersTest, ExtensionsAreTheKeysRightBelowTheRoot) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Classes\\.fluid\\shell\\open\\command]
@="\"C:\\Tools\\fluid.exe\" \"%1\""
[Software\\Classes\\.xyz]
"PerceivedType"="Text"
[Software\\Classes\\.xyz\\PersistentHandler]
@="{5E941D80-BF96-11CD-B579-08002B30BFEB}"
[Software\\Classes\\.xyz\\ShellEx\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}]
@="{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}"
[Software\\Classes\\.pic]
"PerceivedType"="image"
[Software\\Classes\\.odd]
"PerceivedType"="textual"
[Software\\Classes\\.gone]
@="Gone.Class"
)reg");
    ASSERT_TRUE(target.Imported());
    target.MakeFile("Tools/fluid.exe");

    const std::vector<CRegError> found = Scan(FILE_ASSOCIATIONS, *target.Get());
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{L".gone", L".odd"}));
    EXPECT_EQ(found[1].m_sDescription,
              L"Associated class \"HKEY_CLASSES_ROOT\\SystemFileAssociations\\textual\" doesn't "
              L"exist");
}

TEST_F(ReferenceScannersTest, ApplicationPaths) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe]
@="C:\\Gone\\gone.exe"
"UseUrl"=dword:00000001
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\novalues.exe]
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\pathonly.exe]
@="C:\\Missing\\pathonly.exe"
"Path"="C:\\Tools"
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quoted.exe]
@="'C:\\Tools\\quoted.exe'"
[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\windows.exe]
@="notepad.exe"
)reg");
    ASSERT_TRUE(target.Imported());
    target.MakeFile("Tools/quoted.exe");
    target.MakeFile("windows/notepad.exe");

    const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    const std::vector<CRegError> found = Scan(APP_PATH, *target.Get());
    ASSERT_EQ(Paths(found),
              (std::vector<std::wstring>{kAppPaths + L"gone.exe", kAppPaths + L"novalues.exe"}));
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, HKEY_LOCAL_MACHINE);
        EXPECT_EQ(record.m_sDescription, L"There is no file associated.");
        EXPECT_TRUE(record.m_bDeleteSelf);
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
    }

    FixAll(*target.Get(), found);
    EXPECT_FALSE(HasKey(target.Registry(), HKEY_LOCAL_MACHINE, kAppPaths + L"gone.exe"));
    EXPECT_FALSE(HasKey(target.Registry(), HKEY_LOCAL_MACHINE, kAppPaths + L"novalues.exe"));
    EXPECT_TRUE(HasKey(target.Registry(), HKEY_LOCAL_MACHINE, kAppPaths + L"pathonly.exe"));
}

TEST_F(ReferenceScannersTest, HelpFilesAreLookedForInTheirFolderOnly) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Microsoft\\Windows\\Help]
"there.hlp"="C:\\Help"
"gone.hlp"="C:\\Help"
"notepad.exe"="C:\\Other\\"
"unset.hlp"=""
[Software\\Microsoft\\Windows\\Html Help]
"slash.chm"="C:\\Help\\"
)reg");
    ASSERT_TRUE(target.Imported());
    target.MakeFile("Help/there.hlp");
    target.MakeFile("Help/slash.chm");
    target.MakeFile("windows/notepad.exe");

    const std::vector<CRegError> found = Scan(HELP_FILES, *target.Get());
    ASSERT_EQ(found.size(), 2u);
    const std::wstring kHelp = L"SOFTWARE\\Microsoft\\Windows\\Help";
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_sPath, kHelp);
        EXPECT_EQ(record.m_sDescription, kMissing);
        EXPECT_FALSE(record.m_bDeleteSelf);
    }
    // The fix carries the folder as it was tested, with the backslash added.
    EXPECT_EQ(found[0].GetDescription(), L"gone.hlp = C:\\Help\\;");
    EXPECT_EQ(found[1].GetDescription(), L"notepad.exe = C:\\Other\\;");

    FixAll(*target.Get(), found);
    EXPECT_FALSE(HasValue(target.Registry(), HKEY_LOCAL_MACHINE, kHelp, L"gone.hlp"));
    EXPECT_TRUE(HasValue(target.Registry(), HKEY_LOCAL_MACHINE, kHelp, L"there.hlp"));
    EXPECT_TRUE(HasValue(target.Registry(), HKEY_LOCAL_MACHINE, kHelp, L"unset.hlp"));
}

TEST_F(ReferenceScannersTest, FilePathReferences) {
    CTestTarget target(false, kDataFolder + R"reg(
[Software\\Vendor\\App]
"SecondExists"="C:\\a.dll,C:\\Tools\\b.dll"
"Switch"="C:\\missing\\x.dll /s"
"Both"="C:\\gone\\1.dll;;C:\\gone\\2.dll"
"Folder"="C:\\Tools"
"MissingFolder"="C:\\No Such Folder"
"Url"="http://example.invalid/x.dll"
"Number"=dword:00000007
"Relative"="gone.dll"
"Command"="\"C:\\Gone Dir\\app.exe\" -check"
"GoodCommand"="\"C:\\Tools\\b.dll\" -check, or so"
"QuotedAlone"="\"C:\\Tools\\b.dll\""
"QuotedFolder"="\"C:\\No Such Folder\" -x"
"QuotedList"="\"C:\\gone\\3.dll\",\"C:\\Tools\\b.dll\""
[Software\\Vendor\\VirtualStore\\App]
"Gone"="C:\\gone\\virtual.dll"
[System\\CurrentControlSet\\Services\\Gone]
"ImagePath"="C:\\gone\\service.sys"
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Gone"="C:\\gone\\run.exe"
)reg");
    ASSERT_TRUE(target.Imported());
    target.MakeFile("Tools/b.dll");

    const std::vector<CRegError> found = Scan(FILE_PATH, *target.Get());
    ASSERT_EQ(found.size(), 3u);
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, HKEY_LOCAL_MACHINE);
        EXPECT_EQ(record.m_sPath, L"Software\\Vendor\\App");
        EXPECT_EQ(record.m_sDescription, kMissing);
        EXPECT_FALSE(record.m_bDeleteSelf);
    }
    EXPECT_EQ(found[0].GetDescription(), L"Switch = C:\\missing\\x.dll /s;");
    EXPECT_EQ(found[1].GetDescription(), L"Both = C:\\gone\\1.dll;;C:\\gone\\2.dll;");
    // A quoted command is judged by its program, as a Run entry is.
    EXPECT_EQ(found[2].GetDescription(), L"Command = \"C:\\Gone Dir\\app.exe\" -check;");

    FixAll(*target.Get(), found);
    const Platform::CRegistry& reg = target.Registry();
    EXPECT_FALSE(HasValue(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App", L"Switch"));
    EXPECT_FALSE(HasValue(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App", L"Both"));
    EXPECT_TRUE(HasValue(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App", L"SecondExists"));
    EXPECT_TRUE(HasValue(reg, HKEY_LOCAL_MACHINE, L"Software\\Vendor\\App", L"MissingFolder"));
}

TEST_F(ReferenceScannersTest, EmptyKeysAreReportedUnderTheirTopEmptyAncestor) {
    CTestTarget target(false, kDataFolder, R"reg(
[Software\\Vendor\\App\\Sub]
[Software\\Other]
"Kept"="1"
[Software\\Lone]
[Software\\Valued]
"Setting"="keep me"
[Software\\Valued\\Chain\\Empty]
[Software\\Microsoft\\Empty]
[Software\\Classes\\.empty]
[Environment]
"TEMP"="C:\\Temp"
[Printers\\Empty]
)reg");
    ASSERT_TRUE(target.Imported());

    // Wine's default user is ".Default", Windows's ".DEFAULT": the same key, left alone.
    const Platform::CRegistry& reg = target.Registry();
    Platform::CRegKey keep;
    ASSERT_EQ(reg.CreateKey(HKEY_USERS, L".Default\\Software\\Empty", KEY_WRITE, &keep), 0);
    keep.Close();

    const std::wstring kUser = L"S-1-5-21-0-0-0-1000\\";
    const std::vector<CRegError> found = Scan(EMPTY_KEYS, *target.Get());
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{kUser + L"Software\\Lone",
                                                       kUser + L"Software\\Valued\\Chain",
                                                       kUser + L"Software\\Vendor"}));
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, HKEY_USERS);
        EXPECT_EQ(record.m_sDescription, L"The key is empty.");
        EXPECT_TRUE(record.m_bDeleteSelf);
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
    }

    // The record names the top of the chain, its fix the empty key itself: with the empty key gone
    // and a sibling made before the fix, the fix fails and the record's own deletion of
    // Software\Vendor is not tried.
    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L"Software\\Vendor\\App\\Sub"), 0);
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Vendor\\App\\Keep", KEY_WRITE, &keep), 0);
    keep.Close();
    FixAll(*target.Get(), found);
    EXPECT_TRUE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Vendor\\App\\Keep"));
    EXPECT_FALSE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Lone"));
    EXPECT_FALSE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Valued\\Chain"));
    EXPECT_TRUE(HasValue(reg, HKEY_CURRENT_USER, L"Software\\Valued", L"Setting"));
    EXPECT_TRUE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Microsoft\\Empty"));
    EXPECT_TRUE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Classes\\.empty"));
    EXPECT_TRUE(HasKey(reg, HKEY_CURRENT_USER, L"Printers\\Empty"));
    EXPECT_TRUE(HasKey(reg, HKEY_USERS, L".Default\\Software\\Empty"));
    EXPECT_TRUE(HasValue(reg, HKEY_CURRENT_USER, L"Software\\Other", L"Kept"));
    // What the fix left behind: Software\Valued keeps its values, Software\Vendor\App\Keep
    // is empty now.
    EXPECT_EQ(Paths(Scan(EMPTY_KEYS, *target.Get())),
              (std::vector<std::wstring>{kUser + L"Software\\Vendor"}));
}

// A key the fix leaves empty, because every key below it was an empty key, goes with them: one
// record for the whole tree, and a rescan after the fix finds nothing the fix caused. Keys that
// are never reported (skip words) and values stop the climb.
TEST_F(ReferenceScannersTest, AFixOfEmptyKeysLeavesNoEmptyKeyBehind) {
    CTestTarget target(false, kDataFolder, R"reg(
[Software\\Tallow Labs\\Candlewick Viewer\\Recent]
[Software\\Tallow Labs\\Candlewick Viewer\\Window\\Placement]
[Software\\Kept Vendor\\App\\Empty]
[Software\\Kept Vendor\\App\\Settings]
"Size"="1"
[Software\\Guarded\\Gone]
[Software\\Guarded\\Microsoft]
[Software\\Other]
"x"="1"
)reg");
    ASSERT_TRUE(target.Imported());
    const std::wstring kUser = L"S-1-5-21-0-0-0-1000\\Software\\";
    const std::vector<CRegError> found = Scan(EMPTY_KEYS, *target.Get());
    ASSERT_EQ(Paths(found), (std::vector<std::wstring>{kUser + L"Guarded\\Gone",
                                                       kUser + L"Kept Vendor\\App\\Empty",
                                                       kUser + L"Tallow Labs"}));
    EXPECT_EQ(found[2].GetFixes().size(), 1u);

    EXPECT_EQ(FixAll(target, found), 3);
    const Platform::CRegistry& reg = target.Registry();
    EXPECT_FALSE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Tallow Labs"));
    EXPECT_TRUE(HasValue(reg, HKEY_CURRENT_USER, L"Software\\Kept Vendor\\App\\Settings", L"Size"));
    EXPECT_TRUE(HasKey(reg, HKEY_CURRENT_USER, L"Software\\Guarded\\Microsoft"));
    EXPECT_TRUE(Scan(EMPTY_KEYS, *target.Get()).empty());
}

}  // namespace
