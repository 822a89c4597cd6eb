// The settings store, the scheduled task and the ignore list on the demo prefix, as the program
// uses them on a real Wine prefix.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/IgnoreList.h"
#include "app/Settings/Settings.h"
#include "core/MessageBox.h"
#include "platform/demo/demo.h"
#include "tests/support/fake_user_manager.h"
#include "tests/support/temp_folder.h"
#include "tests/support/triggers.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;

using CorvaneTest::CFakeUserManager;

TEST(DemoPrefix, SettingsScheduleAndIgnoreListLiveInThePrefix) {
    const CorvaneTest::CTempFolder temp("corvane-demo-settings");
    const fs::path& dir = temp.Path();
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    CRecordingMessageBox boxes;
    IMessageBox* pPrevious = SetMessageBox(&boxes);
    std::wstring strError;
    ASSERT_TRUE(Platform::MakeDemoPrefix((dir / "prefix").string(), nullptr, strError)) << strError;
    auto target = Platform::CTarget::OpenWinePrefix((dir / "prefix").string(), strError);
    ASSERT_NE(target, nullptr) << strError;

    const std::wstring folder = GetDataFolder(*target);

    CFakeUserManager manager;
    Platform::CJobFolder jobs(manager);
    {
        CTask task(L"Corvane", &jobs);
        CSettingsSite site{target.get(), folder, &task, nullptr, L"/opt/corvane/corvane"};
        CSettings settings(site);
        EXPECT_EQ(settings.AddTrigger(Testing::Weekly({2026, 12, 6}, TASK_MONDAY | TASK_FRIDAY, 1, 18)),
                  0);
        settings.RemoveScanFlags(JUNK_FILES);
        EXPECT_EQ(settings.GetTriggerInfo(0),
                  L"At 18:00 every Monday and Friday, starting 06/12/2026");

        CIgnoreList ignore(target->Files(), folder);
        CRegError record(COM, HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{demo}", L"x",
                         KEY_WOW64_32KEY, true);
        ignore.Add(COM, record);
    }
    std::string host;
    ASSERT_TRUE(target->Files().HostPath(folder + L"settings.xml", host).Ok());
    EXPECT_EQ(host.rfind((dir / "prefix").string(), 0), 0u) << host;
    EXPECT_TRUE(fs::exists(host));
    std::string timer;
    {
        std::ifstream in(jobs.TimerPath(L"Corvane"));
        std::getline(in, timer, '\0');
    }
    EXPECT_NE(timer.find("OnCalendar=Mon,Fri 2027/1-*-* 18:00:00"), std::string::npos) << timer;

    CTask task(L"Corvane", &jobs);
    CSettingsSite site{target.get(), folder, &task, nullptr, L"/opt/corvane/corvane"};
    CSettings settings(site);
    EXPECT_EQ(settings.GetScanFlags(), 0x7FFu);
    EXPECT_EQ(settings.GetTriggers().size(), 1u);
    CIgnoreList ignore(target->Files(), folder);
    EXPECT_EQ(ignore.GetCount(COM), 1u);
    EXPECT_TRUE(boxes.GetShown().empty());

    SetMessageBox(pPrevious);
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace Branwick
