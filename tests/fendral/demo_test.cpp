// A scan and a fix run end to end on the demo prefix through the loaded library: every category in
// its order, and a fix that reaches the prefix's registry file and drive_c.
#include <pugixml.hpp>

#include "platform/demo/demo.h"
#include "tests/fendral/fendral_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;

namespace {

class DemoTest : public FendralTest {
protected:
    DemoTest() {
        m_folder = std::filesystem::temp_directory_path() /
                   ("corvane-fendral-demo-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_folder);
    }
    ~DemoTest() override { std::filesystem::remove_all(m_folder); }

    std::filesystem::path m_folder;
};

TEST_F(DemoTest, ScanAndFixTheDemoPrefix) {
    Platform::CDemoExpectations expected;
    std::wstring strError;
    ASSERT_TRUE(Platform::MakeDemoPrefix(m_folder.string(), &expected, strError))
        << WideToUtf8(strError);
    std::unique_ptr<Platform::CTarget> pTarget =
        Platform::CTarget::OpenWinePrefix(m_folder.string(), strError);
    ASSERT_NE(pTarget, nullptr) << WideToUtf8(strError);
    ASSERT_TRUE(pTarget->Is64Bit());

    const std::size_t nScanLog = LogSize("Scan.log");
    Run(kFendralScan, 0xFFF, pTarget.get());
    std::vector<std::int32_t> starts;
    for (const auto& m : m_recorder.Of<CScanProgressMessage>()) {
        if (m.m_strScanDescription == L"Starting..." && m.m_nProgress == 0) {
            starts.push_back(m.m_nScanType);
        }
    }
    EXPECT_EQ(starts, (std::vector<std::int32_t>{JUNK_FILES, COM, UNINSTALL, FONTS, SHARED_DLLS,
                                                 STARTUP, FILE_PATH, SHOTCATS, EMPTY_KEYS,
                                                 HELP_FILES, APP_PATH, FILE_ASSOCIATIONS}));
    const std::vector<std::wstring> lines = LogLines("Scan.log", nScanLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), L"Junk Files scannig is started");
    EXPECT_EQ(lines.back(), L"Finishing Thread");
    EXPECT_TRUE(m_box.GetShown().empty());

    // Two of the planted problems, as their scanners report them.
    m_recorder.Clear();
    const std::wstring sGone = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GoneApp";
    const std::wstring sJunk = L"C:\\users\\demo\\Temp\\setup4F2A.tmp";
    CErrorCollection collection;
    collection[UNINSTALL].emplace_back(UNINSTALL, HKEY_LOCAL_MACHINE, sGone,
                                       L"Uninstall entry refers to non-existing uninstall file.",
                                       KEY_WOW64_64KEY, true);
    collection[JUNK_FILES].emplace_back(JUNK_FILES, 0, sJunk, L"Junk file found: " + sJunk,
                                        KEY_WOW64_32KEY, true);
    for (auto& [nBit, list] : collection) {
        list.front().m_nState = 1;
    }
    const auto onDisk = [&] {
        Platform::CRegistry reread;
        EXPECT_TRUE(Platform::CRegistry::OpenWinePrefix(m_folder.string(), {}, &reread).Ok());
        Platform::CRegKey key;
        return reread.OpenKey(HKEY_LOCAL_MACHINE, sGone, KEY_READ, &key) == ERROR_SUCCESS;
    };
    ASSERT_TRUE(onDisk());
    const std::size_t nFixLog = LogSize("Cleanup.log");
    {
        const CCurrentContext context{m_messages.GetSink(), pTarget.get()};
        CCurrentContextScope scope(context);
        Run(kFendralCleanUp, 0xFFF, pTarget.get(), &collection);
    }
    const auto finish = m_recorder.Of<CFinishFixMessage>();
    ASSERT_EQ(finish.size(), 1u);
    EXPECT_EQ(finish[0].m_mapStatistics.at(UNINSTALL).nFixed, 1);
    EXPECT_EQ(finish[0].m_mapStatistics.at(JUNK_FILES).nFixed, 1);
    EXPECT_TRUE(collection[UNINSTALL].empty());
    EXPECT_FALSE(onDisk()) << "the fix is on disk";
    EXPECT_FALSE(std::filesystem::exists(m_folder / "drive_c/users/demo/Temp/setup4F2A.tmp"));
    EXPECT_TRUE(std::filesystem::exists(m_folder / "drive_c/users/demo/Temp/Install.LOG"));

    std::vector<std::filesystem::path> histories;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folder / "drive_c")) {
        if (entry.path().extension() == ".his") {
            histories.push_back(entry.path());
        }
    }
    ASSERT_EQ(histories.size(), 1u);
    EXPECT_NE(histories[0].string().find("/Application Data/Corvane/History/"), std::string::npos)
        << histories[0];
    pugi::xml_document history;
    ASSERT_TRUE(history.load_file(histories[0].c_str()));
    EXPECT_EQ(WideToUtf8(sGone),
              history.child("Backup").child("Registry_Key").attribute("Path").value());
    const std::vector<std::wstring> fixLines = LogLines("Cleanup.log", nFixLog);
    EXPECT_NE(std::find(fixLines.begin(), fixLines.end(), sJunk + L" is fixed"), fixLines.end());
    EXPECT_NE(std::find(fixLines.begin(), fixLines.end(), L"Backup is saved"), fixLines.end());
}

}  // namespace
