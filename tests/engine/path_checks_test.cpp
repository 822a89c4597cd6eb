// The reference checks on 64- and 32-bit test targets with real files on drive C:.
#include <gtest/gtest.h>

#include "tests/engine/operation_fixture.h"

using namespace Branwick;

namespace {

// Program folders as Wine writes them, a PATH with the odd trailing backslash and quote.
const char kMachine[] = R"REG(
[Software\\Microsoft\\Windows\\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
[System\\CurrentControlSet\\Control\\Session Manager\\Environment]
"PATH"=str(2):"C:\\tools\\;C:\\more tools;\"C:\\last\""
[Software\\Classes\\good\\shell\\open\\command]
@="\"C:\\Program Files\\App\\app.exe\" \"%1\""
[Software\\Classes\\broken\\shell\\open\\command]
@="\"C:\\Missing\\app.exe\" \"%1\""
[Software\\Classes\\noexe\\shell\\open\\command]
@="notepad"
)REG";

class PathChecksTest : public ::testing::TestWithParam<bool>, protected Testing::COperationFixture {
protected:
    PathChecksTest() : COperationFixture(GetParam(), kMachine) {
        m_target.MakeFile("Program Files/App/app.exe");
        m_target.MakeFile("windows/system32/rundll32.exe");
        m_target.MakeFile("windows/regedit.exe");
        m_target.MakeFile("tools/tool.exe");
        m_target.MakeFile("more tools/more.exe");
        m_target.MakeFile("last/last.exe");
    }
};

INSTANTIATE_TEST_SUITE_P(Bitness, PathChecksTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Win64" : "Win32"; });

TEST_P(PathChecksTest, WhenAFileIsAskedForAFolderIsNotFound) {
    EXPECT_TRUE(FileExists(m_op, L"C:\\windows\\system32"));
    EXPECT_FALSE(FileExists(m_op, L"C:\\windows\\system32", true));
    EXPECT_TRUE(FileExists(m_op, L"C:\\windows\\regedit.exe", true));
    // The first words of a server path under "C:\Program Files (x86)".
    EXPECT_TRUE(FindFile(m_op, L"C:\\Program Files", true));
    EXPECT_FALSE(FindFile(m_op, L"C:\\Program Files", true, true));
    EXPECT_TRUE(FindFile(m_op, L"\"C:\\Program Files\\App\\app.exe\" /s", true, true));
    // The search finds the folder system32 in the Windows folder, and files along PATH.
    EXPECT_TRUE(FindFile(m_op, L"system32", true));
    EXPECT_FALSE(FindFile(m_op, L"system32", true, true));
    EXPECT_TRUE(FindFile(m_op, L"more.exe", true, true));
}

TEST_P(PathChecksTest, FindFileCutsTheFileOutOfACommandLine) {
    // The text before the drive letter goes, the text is cut at '/', quote and space are trimmed.
    EXPECT_TRUE(FindFile(m_op, L"\"C:\\Program Files\\App\\app.exe\" /s", true));
    // A startup command whose leading quote was trimmed keeps its closing quote after the cut at
    // the space: trimmed once more, the sound program is found.
    EXPECT_TRUE(FindFile(m_op, L"C:\\Program Files\\App\\app.exe\" -silent", false));
    EXPECT_TRUE(FindFile(m_op, L"  C:\\Program Files\\App\\app.exe -silent  ", false));
    EXPECT_FALSE(FindFile(m_op, L"C:\\Program Files\\App\\gone.exe\" -silent", true));
    // Cut at ',': "rundll32.exe shell32.dll" (no space after the last '.') is no file.
    EXPECT_FALSE(FindFile(m_op, L"rundll32.exe shell32.dll,Control_RunDLL", true));
    EXPECT_TRUE(FindFile(m_op, L"rundll32.exe,Control_RunDLL", true));
    EXPECT_FALSE(FindFile(m_op, L"", true));
}

TEST_P(PathChecksTest, FindFileSearchesWindowsFoldersAndPathOnlyWhenAsked) {
    EXPECT_TRUE(FindFile(m_op, L"regedit.exe", true));
    EXPECT_FALSE(FindFile(m_op, L"regedit.exe", false));
    EXPECT_TRUE(FindFile(m_op, L"tool.exe", true));
    EXPECT_TRUE(FindFile(m_op, L"more.exe", true));
    EXPECT_TRUE(FindFile(m_op, L"last.exe", true));
    EXPECT_FALSE(FindFile(m_op, L"nowhere.exe", true));
    // A text naming Internet Explorer counts as found when searching.
    EXPECT_TRUE(FindFile(m_op, L"C:\\gone\\iexplore.exe", true));
    EXPECT_FALSE(FindFile(m_op, L"C:\\gone\\iexplore.exe", false));
    EXPECT_EQ(FindFile(m_op, L"C:\\gone\\IEXPLORE.EXE", true), GetParam())
        << "the name test is case-sensitive (a 64-bit target lower-cases the text first)";
}

TEST_P(PathChecksTest, ExpandPathGivesThe64BitProgramFolderUnderWow64) {
    if (GetParam()) {
        EXPECT_EQ(ExpandPath(m_op, L"%ProgramFiles%\\X\\y.exe"), L"C:\\Program Files\\x\\y.exe");
        EXPECT_EQ(ExpandPath(m_op, L"%CommonProgramFiles%\\Z"),
                  L"C:\\Program Files\\Common Files\\z");
        EXPECT_EQ(ExpandPath(m_op, L"%ProgramFiles(x86)%\\Z"), L"C:\\Program Files (x86)\\z");
    } else {
        EXPECT_EQ(ExpandPath(m_op, L"%ProgramFiles%\\X\\y.exe"), L"C:\\Program Files\\X\\y.exe");
    }
    EXPECT_EQ(ExpandPath(m_op, L"%SystemRoot%\\A.dll"),
              GetParam() ? L"C:\\windows\\a.dll" : L"C:\\windows\\A.dll");
    EXPECT_EQ(ExpandPath(m_op, L"%UNKNOWN%"), GetParam() ? L"%unknown%" : L"%UNKNOWN%");
}

TEST_P(PathChecksTest, System32CountsWhereverA32BitProgramWouldFindIt) {
    m_target.MakeFile("windows/syswow64/only32.dll");
    m_target.MakeFile("windows/system32/only64.dll");
    EXPECT_EQ(FileExists(m_op, L"C:\\windows\\system32\\only32.dll"), GetParam());
    EXPECT_TRUE(FileExists(m_op, L"C:\\windows\\system32\\only64.dll"));
    EXPECT_FALSE(FileExists(m_op, L"C:\\windows\\system32\\neither.dll"));
    EXPECT_TRUE(FileExists(m_op, L"C:\\windows\\system32")) << "a folder counts";
    EXPECT_TRUE(FileExists(m_op, L"C:\\windows\\system32\\only6*.dll")) << "a wildcard counts";
}

TEST_P(PathChecksTest, CheckCommandKeyFailsOnlyForAMissingProgram) {
    EXPECT_TRUE(CheckCommandKey(m_op, L"HKEY_CLASSES_ROOT", L"good\\shell\\open"));
    EXPECT_FALSE(CheckCommandKey(m_op, L"HKEY_CLASSES_ROOT", L"broken\\shell\\open"));
    EXPECT_TRUE(CheckCommandKey(m_op, L"HKEY_CLASSES_ROOT", L"noexe\\shell\\open"));
    EXPECT_TRUE(CheckCommandKey(m_op, L"HKEY_CLASSES_ROOT", L"good\\shell\\edit")) << "no verb key";
    EXPECT_TRUE(CheckCommandKey(m_op, L"hkey_classes_root", L"broken\\shell\\open"))
        << "root names compare case-sensitively: an unknown root opens nothing";
}

TEST_P(PathChecksTest, SplitDrivePath) {
    std::wstring strText = L"1:\\x";
    EXPECT_FALSE(SplitDrivePath(strText));
    EXPECT_EQ(strText, L"1:\\x");
    strText = L"xC:\\a";
    EXPECT_FALSE(SplitDrivePath(strText));
    strText = L"";
    EXPECT_FALSE(SplitDrivePath(strText));
    strText = L"C:\\tools\\x.exe /q";
    EXPECT_TRUE(SplitDrivePath(strText));
    EXPECT_EQ(strText, L"C:\\tools\\x.exe");
    strText = L"C:\\tools\\*\"; ";
    EXPECT_TRUE(SplitDrivePath(strText));
    EXPECT_EQ(strText, L"C:\\tools");
}

TEST_P(PathChecksTest, ExtractFilePath) {
    std::wstring strText = L"C:\\a.exe,D:\\b.dll";
    EXPECT_TRUE(ExtractFilePath(strText));
    EXPECT_EQ(strText, L"C:\\a.exe");
    strText = L"\"C:\\a b\\u.exe\" /x";
    EXPECT_TRUE(ExtractFilePath(strText));
    EXPECT_EQ(strText, L"\"C:\\a b\\u.exe\"");
    strText = L"C:\\Program Files\\App\\uninst.exe /S,1";
    EXPECT_TRUE(ExtractFilePath(strText));
    EXPECT_EQ(strText, L"C:\\Program Files\\App\\uninst.exe");
    for (const wchar_t* pszRejected : {L"MsiExec.exe /X{1234}", L"C:\\folder", L"", L"x\"C:\\a.exe",
                                       L"'C:\\a.exe"}) {
        strText = pszRejected;
        EXPECT_FALSE(ExtractFilePath(strText)) << WideToUtf8(pszRejected);
    }
}

TEST_P(PathChecksTest, AnExceptionInFindFileIsReportedAndGivesFalse) {
    // A record without a target: the file system is missing, FindFile's handlers catch that.
    CScanThreadData noTarget(&m_sink, nullptr, 0, nullptr, &m_box);
    const COperation op(noTarget);
    EXPECT_FALSE(FindFile(op, L"C:\\x.exe", false));
    ASSERT_EQ(m_box.GetShown().size(), 1u);
    EXPECT_EQ(m_box.GetShown()[0].strCaption, L"Corvane");
    EXPECT_EQ(m_box.GetShown()[0].strText.rfind(L"Cause: ", 0), 0u);
    EXPECT_NE(m_box.GetShown()[0].strText.find(L"\nParameters: \n"), std::wstring::npos);
    std::unique_ptr<CMessage> pLog = m_queue.PopFront();
    ASSERT_NE(pLog, nullptr);
    EXPECT_EQ(pLog->m_nType, CLogMessage::kType);
}

}  // namespace
