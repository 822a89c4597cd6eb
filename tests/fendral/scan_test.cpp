// Scans through the loaded library: the order of categories, their messages and log lines, the
// view passes of a 64-bit target, a stop in the middle, and the binding itself.
#include "tests/fendral/fendral_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

using CProgress = std::vector<std::pair<int, std::wstring>>;

const char kUninstall[] = R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A]
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B]
[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\C]
[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\W]
[Software\\Microsoft\\Windows\\CurrentVersion\\Run]
)";

class ScanTest : public FendralTest {};

TEST_F(ScanTest, FlagsZeroPostsOnlyTheFinishMessages) {
    CTestTarget target(true, "");
    const std::size_t nLog = LogSize("Scan.log");
    const DWORD dwId = Run(kFendralScan, 0, target.Get());
    EXPECT_EQ(m_recorder.Types(),
              (std::vector<std::int32_t>{CFinishScanMessage::kType, CFinishThreadMessage::kType}));
    ASSERT_EQ(m_recorder.Of<CFinishThreadMessage>().size(), 1u);
    EXPECT_EQ(m_recorder.Of<CFinishThreadMessage>()[0].m_dwId, dwId);
    EXPECT_EQ(LogLines("Scan.log", nLog),
              (std::vector<std::wstring>{L"Sending ScanFinished message",
                                         L"Sending ThreadFinished message", L"Finishing Thread"}));
    EXPECT_EQ(m_threads.GetThreadCount(), 1u) << "only the runner is left";
    EXPECT_TRUE(m_box.GetShown().empty());
}

TEST_F(ScanTest, JunkFilesComeBeforeComWhateverTheBitOrder) {
    // Empty class and application id keys: the COM walks open them and find nothing to report.
    CTestTarget target(true, R"(
[Software\\Classes\\AppID]
[Software\\Classes\\CLSID]
[Software\\Classes\\Wow6432Node\\CLSID]
)");
    const std::size_t nLog = LogSize("Scan.log");
    Run(kFendralScan, COM | JUNK_FILES, target.Get());
    std::vector<std::pair<int, std::int32_t>> starts;
    for (const auto& m : m_recorder.Of<CScanProgressMessage>()) {
        EXPECT_EQ(m.m_strScanDescription, L"Starting...");
        starts.emplace_back(m.m_nProgress, m.m_nScanType);
    }
    EXPECT_EQ(starts, (std::vector<std::pair<int, std::int32_t>>{
                          {0, JUNK_FILES}, {100, JUNK_FILES}, {0, COM}, {100, COM}}));
    EXPECT_EQ(LogLines("Scan.log", nLog),
              (std::vector<std::wstring>{
                  L"Junk Files scannig is started", L"Junk Files scannig is finished",
                  L"COM scannig is started", L"COM scannig is finished",
                  L"Sending ScanFinished message", L"Sending ThreadFinished message",
                  L"Finishing Thread"}));
}

TEST_F(ScanTest, StartupWalksTwoPassesWithoutWow64AndThreeWithIt) {
    for (const bool b64 : {false, true}) {
        m_recorder.Clear();
        CTestTarget target(b64, kUninstall);
        const std::size_t nLog = LogSize("Scan.log");
        Run(kFendralScan, STARTUP, target.Get());
        std::vector<std::wstring> expected = {
            L"StartUp items scannig is started",
            // HKEY_CURRENT_USER has no Run key; HKEY_LOCAL_MACHINE has.
            L"Can not open key: HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run \r",
            L"Error 2", L"StartUp items scannig part 2 is started"};
        if (b64) {
            // The 32-bit view of a 64-bit target has no Run key of its own.
            expected.insert(expected.end(),
                            {L"Can not open key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                             L"CurrentVersion\\Run \r",
                             L"Error 2", L"StartUp items scannig part 3 is started"});
        }
        expected.insert(expected.end(),
                        {L"StartUp items scannig is finished", L"Sending ScanFinished message",
                         L"Sending ThreadFinished message", L"Finishing Thread"});
        EXPECT_EQ(LogLines("Scan.log", nLog), expected) << (b64 ? "64-bit" : "32-bit");
    }
}

TEST_F(ScanTest, ThreeUninstallEntriesShareTheProgressOfEachPass) {
    const std::wstring strKey =
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    {
        CTestTarget target(false, kUninstall);
        Run(kFendralScan, UNINSTALL, target.Get());
        // Each entry has no subkeys: its own walk closes with the end of its share.
        EXPECT_EQ(ScanProgress(UNINSTALL), (CProgress{{0, L"Starting..."},
                                                      {0, strKey + L"A"},
                                                      {33, L"HKEY_LOCAL_MACHINE"},
                                                      {33, strKey + L"B"},
                                                      {66, L"HKEY_LOCAL_MACHINE"},
                                                      {66, strKey + L"C"},
                                                      {99, L"HKEY_LOCAL_MACHINE"},
                                                      {100, L"Starting..."}}));
    }
    m_recorder.Clear();
    {
        // On a 64-bit target the 32-bit view (Wow6432Node) comes first with 0+50, then the
        // native view with 51+50.
        CTestTarget target(true, kUninstall);
        Run(kFendralScan, UNINSTALL, target.Get());
        EXPECT_EQ(ScanProgress(UNINSTALL), (CProgress{{0, L"Starting..."},
                                                      {0, strKey + L"W"},
                                                      {50, L"HKEY_LOCAL_MACHINE"},
                                                      {51, strKey + L"A"},
                                                      {67, L"HKEY_LOCAL_MACHINE"},
                                                      {67, strKey + L"B"},
                                                      {83, L"HKEY_LOCAL_MACHINE"},
                                                      {84, strKey + L"C"},
                                                      {100, L"HKEY_LOCAL_MACHINE"},
                                                      {100, L"Starting..."}}));
    }
}

TEST_F(ScanTest, ProgressMessagesFilledAnewCarryTheirOwnTexts) {
    // Thousands of keys: the walk posts faster than the runner delivers, so most of its progress
    // messages are ones the runner has handed back, filled anew while others are still queued.
    constexpr int kEntries = 3000;
    const std::wstring strKey =
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    std::string machine;
    std::vector<std::wstring> expected{L"Starting..."};
    for (int i = 0; i < kEntries; ++i) {
        const std::string strNumber = std::to_string(i);
        const std::string strName = "E" + std::string(4 - strNumber.size(), '0') + strNumber;
        machine += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" +
                   strName + "]\n";
        expected.push_back(strKey + Utf8ToWide(strName));
        expected.push_back(L"HKEY_LOCAL_MACHINE");
    }
    expected.push_back(L"Starting...");
    CTestTarget target(false, machine);
    ASSERT_TRUE(target.Imported());
    for (int nRun = 0; nRun < 2; ++nRun) {
        m_recorder.Clear();
        Run(kFendralScan, UNINSTALL, target.Get());
        std::vector<std::wstring> texts;
        for (const auto& [nProgress, strText] : ScanProgress(UNINSTALL)) {
            texts.push_back(strText);
        }
        ASSERT_EQ(texts.size(), expected.size()) << "run " << nRun;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(texts[i], expected[i]) << "run " << nRun << ", message " << i;
        }
    }
}

// A record that lets the scan run until its walk has polled a few times, then waits there for
// the stop request, so that the stop lands inside the walk whatever the machine's speed.
class CStoppedInWalk : public CScanThreadData {
public:
    using CScanThreadData::CScanThreadData;
    bool IsRunning(DWORD dwTimeout) override {
        if (++m_nPolls == 3) {
            m_reached.Set();
            m_stopEvent.Wait(INFINITE);
        }
        return CScanThreadData::IsRunning(dwTimeout);
    }
    Platform::CEvent m_reached{true, false};

private:
    int m_nPolls = 0;
};

TEST_F(ScanTest, AStopDuringAWalkStillRunsTheRemainingCategoriesToTheirEnd) {
    std::string machine;
    for (int i = 0; i < 10; ++i) {
        machine += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\E" +
                   std::to_string(i) + "]\n";
    }
    CTestTarget target(false, machine);
    auto pData = std::make_unique<CStoppedInWalk>(m_messages.GetSink(), nullptr,
                                                  UNINSTALL | FONTS | FILE_ASSOCIATIONS,
                                                  target.Get(), &m_box);
    CStoppedInWalk* pWatch = pData.get();
    const std::size_t nLog = LogSize("Scan.log");
    const DWORD dwId = Start(kFendralScan, std::move(pData));
    ASSERT_NE(dwId, 0u);
    ASSERT_EQ(pWatch->m_reached.Wait(60000), WAIT_OBJECT_0);
    EXPECT_TRUE(m_threads.StopThread(dwId, INFINITE));
    ASSERT_TRUE(m_recorder.WaitFor(CFinishThreadMessage::kType));

    // The walk stopped after its second entry (start, two entries with their closing messages,
    // end); the other categories still start and end.
    EXPECT_EQ(ScanProgress(UNINSTALL).size(), 6u);
    EXPECT_EQ(ScanProgress(FONTS), (CProgress{{0, L"Starting..."}, {100, L"Starting..."}}));
    // The classes root of this target has no subkeys: its walk ends at once with the closing
    // message of a key without subkeys.
    EXPECT_EQ(ScanProgress(FILE_ASSOCIATIONS),
              (CProgress{{0, L"Starting..."}, {100, L"HKEY_CLASSES_ROOT"}, {100, L"Starting..."}}));
    const std::vector<std::wstring> lines = LogLines("Scan.log", nLog);
    for (const wchar_t* pszLine :
         {L"Uninstall entries scannig is finished", L"Font entries scannig is started",
          L"Font entries scannig is finished", L"File associations scannig is started",
          L"File associations scannig is finished", L"Finishing Thread"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), pszLine), lines.end())
            << WideToUtf8(pszLine);
    }
    EXPECT_EQ(m_recorder.Of<CFinishScanMessage>().size(), 1u);
}

TEST_F(ScanTest, AScanWithoutATargetReportsTheFailureAndStillFinishes) {
    Run(kFendralScan, UNINSTALL, nullptr);
    ASSERT_EQ(m_box.GetShown().size(), 1u);
    const std::wstring strText = m_box.GetShown()[0].strText;
    EXPECT_EQ(strText.rfind(L"Cause: ", 0), 0u);
    EXPECT_NE(strText.find(L"no target"), std::wstring::npos);
    EXPECT_NE(strText.find(L"\nParameters: \n"), std::wstring::npos);
    bool bLogged = false;
    for (const auto& log : m_recorder.Of<CLogMessage>()) {
        bLogged |= log.m_strText.find(strText) != std::wstring::npos;
    }
    EXPECT_TRUE(bLogged);
    EXPECT_EQ(m_recorder.Of<CFinishScanMessage>().size(), 1u);
}

TEST_F(ScanTest, BindingNamesWhatIsMissing) {
    std::wstring strError;
    EXPECT_EQ(m_engine.Bind("_Scan@4", strError), nullptr);
    EXPECT_NE(strError.find(L"has no entry point _Scan@4"), std::wstring::npos)
        << WideToUtf8(strError);
    CEngineLibrary missing("libnothing-here.so");
    strError.clear();
    EXPECT_EQ(missing.Bind(kFendralScan, strError), nullptr);
    EXPECT_NE(strError.find(L"libnothing-here.so cannot be loaded"), std::wstring::npos)
        << WideToUtf8(strError);
    for (const char* pszEntry : {kFendralScan, kFendralCleanUp, kFendralCleanHistory}) {
        EXPECT_NE(m_engine.Bind(pszEntry, strError), nullptr) << pszEntry;
    }
}

TEST_F(ScanTest, CleanHistoryPostsNoThreadFinishAndWaitsToBeStopped) {
    CTestTarget target(true, "");
    // The recycle bin of a test target is the desktop trash: never the real user's.
    setenv("XDG_DATA_HOME", (std::filesystem::temp_directory_path() / "corvane-no-such-data-home").c_str(), 1);
    const DWORD dwId = Start(kFendralCleanHistory,
                             std::make_unique<CScanThreadData>(m_messages.GetSink(), nullptr,
                                                               0x3FFF, target.Get(), &m_box));
    ASSERT_TRUE(m_recorder.WaitFor(CFinishProgressMessage::kType));
    EXPECT_EQ(m_recorder.Of<CGenProgressMessage>().size(), 14u);
    EXPECT_TRUE(m_recorder.Of<CFinishThreadMessage>().empty());
    EXPECT_EQ(m_threads.GetThreadCount(), 2u) << "its entry stays until it is stopped";
    EXPECT_TRUE(m_threads.StopThread(dwId, INFINITE));
    EXPECT_EQ(m_threads.GetThreadCount(), 1u);
    unsetenv("XDG_DATA_HOME");
}

}  // namespace
