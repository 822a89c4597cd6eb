// Scans of COM classes, uninstall entries, fonts, shared DLLs and startup items through the loaded
// library, and fix runs of what they found: each finding's record and fixes, and what a fix
// removes (and keeps).
#include "tests/fendral/finding_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

const std::wstring kComText = L"The following AppID or CLSID referenced doesn't exist.";
const std::wstring kMissing = L"Specified file doesn't exist.";

class SystemScannersTest : public FindingFixture {};

TEST_F(SystemScannersTest, AClassLosesOnlyItsMissingServerWhenAnotherServerIsValid) {
    auto target = MakeTarget(false, R"reg(
[Software\\Classes\\CLSID\\{A}]
@="Half gone"
[Software\\Classes\\CLSID\\{A}\\InprocServer32]
@="C:\\Program Files\\App\\app.dll"
"ThreadingModel"="Both"
[Software\\Classes\\CLSID\\{A}\\LocalServer32]
@="C:\\Program Files\\App\\gone.exe"
[Software\\Classes\\CLSID\\{A}\\ProgID]
@="App.Half"
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("Program Files/App/app.dll");
    Run(kFendralScan, COM, target->Get());

    const std::vector<CRegError> found = Findings(COM);
    ASSERT_EQ(found.size(), 1u);
    const CRegError& record = found[0];
    EXPECT_EQ(record.m_hRoot, HKEY_CLASSES_ROOT);
    EXPECT_EQ(record.m_sPath, L"CLSID\\{A}");
    EXPECT_EQ(record.m_sDescription, kComText);
    EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
    EXPECT_FALSE(record.m_bDeleteSelf);
    EXPECT_EQ(FixTexts(record),
              (std::vector<std::wstring>{L"(Default) = C:\\Program Files\\App\\gone.exe;"}));

    EXPECT_EQ(FixAll(*target, found), 1);
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{A}\\LocalServer32"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{A}\\InprocServer32"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{A}\\ProgID"));
}

TEST_F(SystemScannersTest, AClassWithoutAValidServerIsDeletedWhole) {
    auto target = MakeTarget(false, R"reg(
[Software\\Classes\\CLSID\\{B}\\InprocServer32]
@="C:\\windows\\system32\\gone.dll"
[Software\\Classes\\CLSID\\{C}]
"AppID"="{NO-SUCH-APPID}"
[Software\\Classes\\CLSID\\{C}\\LocalServer32]
@=""
[Software\\Classes\\CLSID\\{D}]
@="No servers, nothing wrong"
[Software\\Classes\\CLSID\\{D}\\ProgID]
@="D.Class"
)reg");
    ASSERT_TRUE(target->Imported());
    Run(kFendralScan, COM, target->Get());

    const std::vector<CRegError> found = Findings(COM);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].m_sPath, L"CLSID\\{B}");
    // {C}'s server names nothing, so no valid server was seen: its broken AppID takes the class.
    EXPECT_EQ(found[1].m_sPath, L"CLSID\\{C}");
    for (const CRegError& record : found) {
        EXPECT_TRUE(record.m_bDeleteSelf) << WideToUtf8(record.m_sPath);
        EXPECT_TRUE(record.GetFixes().empty()) << WideToUtf8(record.m_sPath);
    }
    EXPECT_EQ(FixAll(*target, found), 2);
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{B}"));
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{C}"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{D}\\ProgID"));
}

TEST_F(SystemScannersTest, ServerPathsAreExpandedSearchedAndCutBeforeTheirArguments) {
    auto target = MakeTarget(true, R"reg(
[Software\\Classes\\CLSID\\{E1}\\InprocServer32]
@=str(2):"%SystemRoot%\\system32\\demo.dll"
[Software\\Classes\\CLSID\\{E2}\\LocalServer32]
@="C:\\Program Files\\App\\app.exe /automation"
[Software\\Classes\\CLSID\\{E3}\\InprocServer32]
@="shell32.dll"
[Software\\Classes\\Wow6432Node\\CLSID\\{E4}\\LocalServer32]
@="\"C:\\Program Files (x86)\\Good\\srv.exe\" -Embedding"
[Software\\Classes\\Wow6432Node\\CLSID\\{G1}\\LocalServer32]
@="C:\\Program Files (x86)\\Gone\\srv.exe /automation"
[Software\\Classes\\Wow6432Node\\CLSID\\{G2}\\InprocServer32]
@="C:\\Program Files\\App"
)reg");
    ASSERT_TRUE(target->Imported());
    // The 64-bit classes' files are where a 64-bit program finds them: in system32, not syswow64.
    target->MakeFile("windows/system32/demo.dll");
    target->MakeFile("windows/system32/shell32.dll");
    target->MakeFile("Program Files/App/app.exe");
    target->MakeFile("Program Files (x86)/Good/srv.exe");
    Run(kFendralScan, COM, target->Get());

    // "C:\Program Files" is a folder on the way to the gone server of {G1}, and {G2}'s server is
    // a folder: neither is a server.
    std::vector<std::pair<std::wstring, REGSAM>> paths;
    for (const CRegError& record : Findings(COM)) {
        paths.emplace_back(record.m_sPath, record.m_dwRegSam);
        EXPECT_TRUE(record.m_bDeleteSelf);
    }
    EXPECT_EQ(paths, (std::vector<std::pair<std::wstring, REGSAM>>{
                         {L"CLSID\\{G1}", KEY_WOW64_32KEY}, {L"CLSID\\{G2}", KEY_WOW64_32KEY}}));
}

// 16-bit servers run nowhere on a 64-bit system, so there they neither prove nor break a class;
// a 32-bit target still checks them.
TEST_F(SystemScannersTest, SixteenBitServersCountOnlyOnA32BitTarget) {
    const std::string classes = R"reg(
[Software\\Classes\\CLSID\\{S1}\\InprocServer]
@="avifile.dll"
[Software\\Classes\\CLSID\\{S1}\\InprocServer32]
@="C:\\windows\\system32\\avifil32.dll"
[Software\\Classes\\CLSID\\{S2}\\LocalServer]
@="C:\\Old\\server16.exe"
[Software\\Classes\\CLSID\\{S3}\\InprocServer]
@="C:\\windows\\system32\\ole2disp.dll"
[Software\\Classes\\CLSID\\{S3}\\InprocServer32]
@="C:\\Gone\\x32.dll"
)reg";
    auto wide = MakeTarget(true, classes);
    ASSERT_TRUE(wide->Imported());
    wide->MakeFile("windows/system32/avifil32.dll");
    wide->MakeFile("windows/system32/ole2disp.dll");
    Run(kFendralScan, COM, wide->Get());
    // {S3}'s 16-bit server exists but is no server here: without a valid one the class goes.
    std::vector<std::wstring> paths;
    for (const CRegError& record : Findings(COM)) {
        paths.push_back(record.m_sPath);
        EXPECT_TRUE(record.m_bDeleteSelf);
    }
    EXPECT_EQ(paths, (std::vector<std::wstring>{L"CLSID\\{S3}"}));

    auto narrow = MakeTarget(false, classes);
    ASSERT_TRUE(narrow->Imported());
    narrow->MakeFile("windows/system32/avifil32.dll");
    narrow->MakeFile("windows/system32/ole2disp.dll");
    m_recorder.Clear();
    Run(kFendralScan, COM, narrow->Get());
    const std::vector<CRegError> found = Findings(COM);
    ASSERT_EQ(Paths(found),
              (std::vector<std::wstring>{L"CLSID\\{S1}", L"CLSID\\{S2}", L"CLSID\\{S3}"}));
    EXPECT_FALSE(found[0].m_bDeleteSelf);
    EXPECT_EQ(FixTexts(found[0]), (std::vector<std::wstring>{L"(Default) = avifile.dll;"}));
    EXPECT_TRUE(found[1].m_bDeleteSelf);
    EXPECT_FALSE(found[2].m_bDeleteSelf) << "the 16-bit server is valid on a 32-bit target";
}

TEST_F(SystemScannersTest, ApplicationIdsMustNameAnExistingApplicationId) {
    auto target = MakeTarget(false, R"reg(
[Software\\Classes\\AppID\\{AP1}]
"AppID"="{AP2}"
[Software\\Classes\\AppID\\{AP2}]
@="Exists"
[Software\\Classes\\AppID\\tool.exe]
"AppID"="{GONE-APPID}"
[Software\\Classes\\CLSID\\{F}]
"AppID"="{GONE-APPID}"
[Software\\Classes\\CLSID\\{F}\\InprocServer32]
@="C:\\windows\\system32\\f.dll"
[Software\\Classes\\CLSID\\{F}\\AppID]
@="{AP1}"
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("windows/system32/f.dll");
    Run(kFendralScan, COM, target->Get());

    const std::vector<CRegError> found = Findings(COM);
    ASSERT_EQ(found.size(), 2u);
    // The class keeps its valid server: only its AppID value goes.
    EXPECT_EQ(found[0].m_sPath, L"CLSID\\{F}");
    EXPECT_EQ(found[0].m_dwRegSam, KEY_WOW64_32KEY);
    EXPECT_FALSE(found[0].m_bDeleteSelf);
    EXPECT_EQ(FixTexts(found[0]), (std::vector<std::wstring>{L"AppID = {GONE-APPID};"}));
    // The application id goes whole. A 32-bit target walks AppID with the 64-bit view bit.
    EXPECT_EQ(found[1].m_sPath, L"AppID\\tool.exe");
    EXPECT_EQ(found[1].m_dwRegSam, KEY_WOW64_64KEY);
    EXPECT_TRUE(found[1].m_bDeleteSelf);
    EXPECT_EQ(FixTexts(found[1]), (std::vector<std::wstring>{L"AppID = {GONE-APPID};"}));

    FixAll(*target, found);
    EXPECT_FALSE(HasValue(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{F}", L"AppID"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"CLSID\\{F}\\AppID"));
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"AppID\\tool.exe"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_CLASSES_ROOT, L"AppID\\{AP1}"));
}

TEST_F(SystemScannersTest, TheComDriverPostsItsOwnStartAndEndAroundItsFourPasses) {
    auto target = MakeTarget(true, R"reg(
[Software\\Classes\\CLSID\\{N1}]
[Software\\Classes\\CLSID\\{N2}]
[Software\\Classes\\Wow6432Node\\CLSID\\{W1}]
[Software\\Classes\\AppID\\{P1}]
)reg");
    ASSERT_TRUE(target->Imported());
    const std::size_t nLog = LogSize("Scan.log");
    Run(kFendralScan, COM, target->Get());
    const std::wstring strRoot = L"HKEY_CLASSES_ROOT\\";
    EXPECT_EQ(ScanProgress(COM),
              (std::vector<std::pair<int, std::wstring>>{{0, L"Starting..."},
                                                         {30, strRoot + L"CLSID\\{W1}"},
                                                         {51, strRoot + L"AppID\\{P1}"},
                                                         {66, strRoot + L"CLSID\\{N1}"},
                                                         {81, strRoot + L"CLSID\\{N2}"},
                                                         {100, strRoot + L"AppID\\{P1}"},
                                                         {100, L"Starting..."}}));
    EXPECT_EQ(LogLines("Scan.log", nLog),
              (std::vector<std::wstring>{L"COM scannig is started", L"COM scannig is finished",
                                         L"Sending ScanFinished message",
                                         L"Sending ThreadFinished message", L"Finishing Thread"}));
    EXPECT_TRUE(Findings(COM).empty());
}

// Wine's text of a link key whose target does not exist: it is listed, but does not open.
std::string DanglingLink(const std::string& strKey) {
    std::string text = "[" + strKey + "]\n#link\n\"SymbolicLinkValue\"=hex(6):";
    const std::string strTarget = "\\Registry\\Machine\\Software\\Nowhere";
    for (std::size_t i = 0; i < strTarget.size(); ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%s%02x,00", i == 0 ? "" : ",",
                      static_cast<unsigned>(static_cast<unsigned char>(strTarget[i])));
        text += hex;
    }
    return text + "\n";
}

TEST_F(SystemScannersTest, AClassOrApplicationIdThatDoesNotOpenIsLoggedAndPassedOver) {
    auto target = MakeTarget(false, DanglingLink("Software\\\\Classes\\\\CLSID\\\\{L}") +
                                        DanglingLink("Software\\\\Classes\\\\AppID\\\\{M}") +
                                        R"reg(
[Software\\Classes\\CLSID\\{Z}\\InprocServer32]
@="C:\\gone.dll"
)reg");
    ASSERT_TRUE(target->Imported());
    Run(kFendralScan, COM, target->Get());
    // A log message starts with its time stamp.
    std::vector<std::wstring> lines;
    for (const CLogMessage& m : m_recorder.Of<CLogMessage>()) {
        lines.push_back(m.m_strText.substr(m.m_strText.find(L'\n') + 1));
        lines.back().erase(0, lines.back().find(L'\n') + 1);
    }
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"RegOpenKey key = HKEY_CLASSES_ROOT\\CLSID\\{L}\r\n return = 2",
                         L"RegOpenKey key = HKEY_CLASSES_ROOT\\AppID\\{M}\r\n return = 2"}));
    ASSERT_EQ(Findings(COM).size(), 1u) << "the next class is still scanned";
    EXPECT_EQ(Findings(COM)[0].m_sPath, L"CLSID\\{Z}");
    EXPECT_TRUE(m_box.GetShown().empty());
}

TEST_F(SystemScannersTest, UninstallEntriesWithoutANameOrUninstallerGoWhole) {
    auto target = MakeTarget(false, R"reg(
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]
@=""
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone]
"DisplayName"="Gone App"
"UninstallString"="\"C:\\Program Files\\Gone\\unins000.exe\" /SILENT"
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Good]
"DisplayName"="Good App"
"UninstallString"="C:\\Program Files\\Good\\uninstall.exe /S"
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Good\\Component]
"DisplayName"=""
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{MSI-PRODUCT}]
"DisplayName"="Runtime"
"UninstallString"="MsiExec.exe /X{MSI-PRODUCT}"
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("Program Files/Good/uninstall.exe");
    Run(kFendralScan, UNINSTALL, target->Get());

    const std::wstring strKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::vector<CRegError> found = Findings(UNINSTALL);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].m_sPath, strKey + L"Gone");
    EXPECT_EQ(found[0].m_sDescription, L"Uninstall entry refers to non-existing uninstall file.");
    // The path keeps the quotes it was written with.
    EXPECT_EQ(FixTexts(found[0]),
              (std::vector<std::wstring>{
                  L"UninstallString = \"C:\\Program Files\\Gone\\unins000.exe\";"}));
    // A nested key of an entry is judged the same way.
    EXPECT_EQ(found[1].m_sPath, strKey + L"Good\\Component");
    EXPECT_EQ(found[1].m_sDescription, L"Uninstall entry has empty DisplayName value.");
    EXPECT_TRUE(FixTexts(found[1]) == std::vector<std::wstring>{L""});
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_hRoot, HKEY_LOCAL_MACHINE);
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
        EXPECT_TRUE(record.m_bDeleteSelf);
    }

    FixAll(*target, found);
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_LOCAL_MACHINE, strKey + L"Gone"));
    EXPECT_FALSE(HasKey(target->Registry(), HKEY_LOCAL_MACHINE, strKey + L"Good\\Component"));
    EXPECT_TRUE(
        HasValue(target->Registry(), HKEY_LOCAL_MACHINE, strKey + L"Good", L"UninstallString"));
    EXPECT_TRUE(HasKey(target->Registry(), HKEY_LOCAL_MACHINE, strKey + L"{MSI-PRODUCT}"));
}

TEST_F(SystemScannersTest, FontsByBareNameAreLookedForInTheFontsFolder) {
    auto target = MakeTarget(false, R"reg(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]
"Present (TrueType)"="present.ttf"
"Quoted (TrueType)"=" \"present.ttf\" "
"Full (TrueType)"="C:\\Fonts2\\full.ttf"
"Elsewhere (TrueType)"="full.ttf"
"Gone (TrueType)"="gone.ttf"
"Full Gone (TrueType)"="C:\\windows\\Fonts\\fullgone.ttf"
"Unnamed (TrueType)"=""
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("windows/Fonts/present.ttf");
    target->MakeFile("Fonts2/full.ttf");
    Run(kFendralScan, FONTS, target->Get());

    std::vector<std::pair<std::wstring, std::wstring>> texts;
    for (const CRegError& record : Findings(FONTS)) {
        EXPECT_EQ(record.m_sPath, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
        EXPECT_FALSE(record.m_bDeleteSelf);
        ASSERT_EQ(record.GetFixes().size(), 1u);
        texts.emplace_back(record.m_sDescription, FixTexts(record)[0]);
    }
    EXPECT_EQ(texts, (std::vector<std::pair<std::wstring, std::wstring>>{
                         {kMissing, L"Elsewhere (TrueType) = full.ttf;"},
                         {kMissing, L"Gone (TrueType) = gone.ttf;"},
                         {kMissing, L"Full Gone (TrueType) = C:\\windows\\Fonts\\fullgone.ttf;"},
                         {L"The valuedata is empty", L""}}));

    FixAll(*target, Findings(FONTS));
    const std::wstring strFonts = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    EXPECT_EQ(ValueNames(target->Registry(), HKEY_LOCAL_MACHINE, strFonts),
              (std::vector<std::wstring>{L"Present (TrueType)", L"Quoted (TrueType)",
                                         L"Full (TrueType)"}));
}

TEST_F(SystemScannersTest, SharedDllsAreTakenLiterally) {
    auto target = MakeTarget(false, R"reg(
[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]
"C:\\windows\\system32\\demo.dll"=dword:00000001
"%SystemRoot%\\system32\\demo.dll"=dword:00000002
"C:\\Common\\gone.dll"=dword:00000003
"  C:\\Common\\padded.dll  "=dword:00000004
"  C:\\windows\\system32\\demo.dll"=dword:00000005
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("windows/system32/demo.dll");
    Run(kFendralScan, SHARED_DLLS, target->Get());

    std::vector<std::wstring> texts;
    for (const CRegError& record : Findings(SHARED_DLLS)) {
        EXPECT_EQ(record.m_sDescription, kMissing);
        EXPECT_FALSE(record.m_bDeleteSelf);
        ASSERT_EQ(record.GetFixes().size(), 1u);
        texts.push_back(FixTexts(record)[0]);
    }
    // The environment is not expanded: that name names no file.
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"%SystemRoot%\\system32\\demo.dll = 2;",
                                                L"C:\\Common\\gone.dll = 3;",
                                                L"  C:\\Common\\padded.dll   = 4;"}));

    // The fix of a padded name deletes the value by the name it really has.
    EXPECT_EQ(FixAll(*target, Findings(SHARED_DLLS)), 3);
    EXPECT_EQ(ValueNames(target->Registry(), HKEY_LOCAL_MACHINE,
                         L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"),
              (std::vector<std::wstring>{L"C:\\windows\\system32\\demo.dll",
                                         L"  C:\\windows\\system32\\demo.dll"}));
}

TEST_F(SystemScannersTest, StartupCommandsAreTestedWithoutQuotesAndArguments) {
    auto target = MakeTarget(false, R"reg(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Machine Gone"="C:\\Gone\\tray.exe"
"Machine Good"="\"C:\\Tools\\x.exe\" /min"
)reg",
                             R"reg(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
"Dashed"="\"C:\\Program Files\\App\\app.exe\" -silent"
"Bare"="notepad.exe"
"Empty"=""
"Gone"="\"C:\\Program Files\\Gone\\updater.exe\" /background"
)reg");
    ASSERT_TRUE(target->Imported());
    target->MakeFile("Tools/x.exe");
    target->MakeFile("Program Files/App/app.exe");
    target->MakeFile("windows/notepad.exe");
    Run(kFendralScan, STARTUP, target->Get());

    const std::vector<CRegError> found = Findings(STARTUP);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].m_hRoot, HKEY_CURRENT_USER);
    // The fix shows the data as stored, quotes and arguments included.
    EXPECT_EQ(FixTexts(found[0]),
              (std::vector<std::wstring>{
                  L"Gone = \"C:\\Program Files\\Gone\\updater.exe\" /background;"}));
    EXPECT_EQ(found[1].m_hRoot, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(FixTexts(found[1]),
              (std::vector<std::wstring>{L"Machine Gone = C:\\Gone\\tray.exe;"}));
    for (const CRegError& record : found) {
        EXPECT_EQ(record.m_sPath, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
        EXPECT_EQ(record.m_sDescription, kMissing);
        EXPECT_EQ(record.m_dwRegSam, KEY_WOW64_32KEY);
        EXPECT_FALSE(record.m_bDeleteSelf);
    }

    EXPECT_EQ(FixAll(*target, found), 2);
    const std::wstring strRun = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(ValueNames(target->Registry(), HKEY_CURRENT_USER, strRun),
              (std::vector<std::wstring>{L"Dashed", L"Bare", L"Empty"}));
    EXPECT_EQ(ValueNames(target->Registry(), HKEY_LOCAL_MACHINE, strRun),
              (std::vector<std::wstring>{L"Machine Good"}));
}

}  // namespace
