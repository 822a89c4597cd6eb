#include "app/Settings/Settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/MessageBox.h"
#include "core/MessageSink.h"
#include "tests/support/fake_user_manager.h"
#include "tests/support/temp_folder.h"
#include "tests/support/triggers.h"

namespace Branwick {
namespace {

namespace fs = std::filesystem;

using CorvaneTest::CFakeUserManager;

TASK_TRIGGER Trigger(TASK_TRIGGER_TYPE type) { return Testing::MakeTrigger(type, {2026, 12, 6}, 9, 30); }
TASK_TRIGGER Daily(WORD hour) { return Testing::Daily({2026, 12, 6}, 1, hour, 30); }

// One kind of each, with every field the page can set.
std::vector<TASK_TRIGGER> EveryKind() {
    std::vector<TASK_TRIGGER> all;
    all.push_back(Trigger(TASK_TIME_TRIGGER_ONCE));
    TASK_TRIGGER daily = Daily(7);
    daily.Type.Daily.DaysInterval = 3;
    daily.MinutesInterval = 30;
    daily.MinutesDuration = 120;
    daily.rgFlags = TASK_TRIGGER_FLAG_HAS_END_DATE | TASK_TRIGGER_FLAG_KILL_AT_DURATION_END;
    daily.wEndYear = 2027;
    daily.wEndMonth = 2;
    daily.wEndDay = 28;
    all.push_back(daily);
    TASK_TRIGGER weekly = Trigger(TASK_TIME_TRIGGER_WEEKLY);
    weekly.Type.Weekly = {2, TASK_SUNDAY | TASK_FRIDAY};
    all.push_back(weekly);
    TASK_TRIGGER date = Trigger(TASK_TIME_TRIGGER_MONTHLYDATE);
    // Field by field: a braced assignment leaves the padding after rgfMonths undetermined, and the
    // records are compared byte for byte.
    date.Type.MonthlyDate.rgfDays = 1u << 28;
    date.Type.MonthlyDate.rgfMonths = 0x2;
    all.push_back(date);
    TASK_TRIGGER dow = Trigger(TASK_TIME_TRIGGER_MONTHLYDOW);
    dow.Type.MonthlyDOW = {TASK_LAST_WEEK, TASK_MONDAY, 0xFFF};
    all.push_back(dow);
    all.push_back(Trigger(TASK_EVENT_TRIGGER_ON_IDLE));
    all.push_back(Trigger(TASK_EVENT_TRIGGER_AT_SYSTEMSTART));
    all.push_back(Trigger(TASK_EVENT_TRIGGER_AT_LOGON));
    return all;
}

bool Same(const std::vector<TASK_TRIGGER>& a, const std::vector<TASK_TRIGGER>& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(TASK_TRIGGER)) == 0;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir / "drive_c");
        ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        m_pTarget = TestTarget(true);
        m_pPrevious = SetMessageBox(&m_boxes);
        m_strFolder = GetDataFolder(*m_pTarget);
    }
    // A target whose environment has ALLUSERSPROFILE = C:\ProgramData, or no such variable.
    std::unique_ptr<Platform::CTarget> TestTarget(bool bProgramData) {
        Platform::CRegistry reg = Platform::CRegistry::CreateInMemory();
        if (bProgramData) {
            EXPECT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, R"REG(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]
"ProgramData"=str(2):"C:\\ProgramData"
)REG")
                            .Ok());
        }
        return Platform::CTarget::OpenTest((m_dir / "drive_c").string(), reg);
    }
    void TearDown() override {
        SetMessageBox(m_pPrevious);
        ::unsetenv("XDG_CONFIG_HOME");
    }

    fs::path SettingsFile() const {
        return m_dir / "drive_c/ProgramData/Application Data/Corvane/settings.xml";
    }
    std::string ReadSettings() const { return CorvaneTest::ReadAll(SettingsFile()); }
    void WriteSettings(const std::string& text) const {
        fs::create_directories(SettingsFile().parent_path());
        std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << text;
    }

    // A store as the program makes it at start-up, with a task object of its own.
    std::unique_ptr<CSettings> Open() {
        m_tasks.push_back(std::make_unique<CTask>(L"Corvane", &m_jobs));
        CSettingsSite site;
        site.m_pTarget = m_pTarget.get();
        site.m_strDataFolder = m_strFolder;
        site.m_pTask = m_tasks.back().get();
        site.m_pSink = &m_sink;
        site.m_strProgramPath = L"/opt/corvane/corvane";
        return std::make_unique<CSettings>(site);
    }
    CTask& LastTask() { return *m_tasks.back(); }

    CorvaneTest::CTempFolder m_temp{"corvane-settings"};
    const fs::path m_dir = m_temp.Path();
    std::unique_ptr<Platform::CTarget> m_pTarget;
    std::wstring m_strFolder;
    CFakeUserManager m_manager;
    Platform::CJobFolder m_jobs{m_manager};
    std::vector<std::unique_ptr<CTask>> m_tasks;
    CMessageQueue m_queue;
    CMessageSink m_sink{&m_queue};
    CRecordingMessageBox m_boxes;
    IMessageBox* m_pPrevious = nullptr;
};

TEST_F(SettingsTest, DataFolderIsMadeInsideTheTargetByTheFirstSave) {
    EXPECT_EQ(m_strFolder, L"C:\\ProgramData\\Application Data\\Corvane\\");
    const fs::path folder = m_dir / "drive_c/ProgramData/Application Data/Corvane";
    auto settings = Open();
    EXPECT_FALSE(fs::exists(folder)) << "reading makes nothing";
    ASSERT_TRUE(settings->Serialize(true));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(m_boxes.GetShown().empty());
}

TEST_F(SettingsTest, WithoutEitherVariableTheUserIsTold) {
    auto bare = TestTarget(false);
    const std::wstring folder = GetDataFolder(*bare);
    EXPECT_EQ(folder, L"\\Application Data\\Corvane\\");
    const std::vector<CRecordingMessageBox::SShown> shown = m_boxes.GetShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].strText, L"Can't get USERPROFILE path");
    EXPECT_EQ(shown[0].strCaption, L"Corvane");
    // The first save makes the folder from the system drive's root.
    CSettingsSite site;
    site.m_pTarget = bare.get();
    site.m_strDataFolder = folder;
    CSettings settings(site);
    ASSERT_TRUE(settings.Serialize(true));
    EXPECT_TRUE(fs::is_regular_file(m_dir / "drive_c/Application Data/Corvane/settings.xml"));
}

TEST_F(SettingsTest, FirstStartWritesEverySectionWithItsDefault) {
    auto settings = Open();
    EXPECT_EQ(settings->GetGeneral(), 12u);
    EXPECT_EQ(settings->GetScanFlags(), 4095u);
    EXPECT_EQ(settings->GetHistoryFlags(), 16383u);
    EXPECT_TRUE(settings->GetTriggers().empty());
    ASSERT_TRUE(settings->Serialize(true));
    std::string expected =
        "<?xml version='1.0' encoding='utf-8'?>\n<settings>\n\t<general>12</general>\n"
        "\t<scan-flag>4095</scan-flag>\n\t<last-scan>\n";
    for (const char* category :
         {"com-activex", "uninstalls", "fonts", "shared-dlls", "startup-items", "file-path-ref",
          "program-shortcats", "empty-key", "help-files", "app-path", "file-assoc", "junk-files"}) {
        expected += std::string("\t\t<") + category +
                    ">\n\t\t\t<found>0</found>\n\t\t\t<fixed>0</fixed>\n"
                    "\t\t\t<ignored>0</ignored>\n\t\t</" +
                    category + ">\n";
    }
    expected +=
        "\t\t<scan-time>0</scan-time>\n\t</last-scan>\n\t<ignore-list />\n\t<scheduling>\n"
        "\t\t<idle-wait>10</idle-wait>\n\t</scheduling>\n\t<disableditems-list />\n"
        "\t<history-cleaner>16383</history-cleaner>\n</settings>\n";
    EXPECT_EQ(ReadSettings(), expected);
    EXPECT_TRUE(m_boxes.GetShown().empty());
}

TEST_F(SettingsTest, EmptyAndUnreadableValuesReadAsTheirDefaults) {
    WriteSettings(
        "<?xml version='1.0' encoding='utf-8'?><settings><general>abc</general>"
        "<scan-flag></scan-flag><history-cleaner> 255 </history-cleaner></settings>");
    auto settings = Open();
    EXPECT_EQ(settings->GetGeneral(), 12u);
    EXPECT_EQ(settings->GetScanFlags(), 4095u);
    EXPECT_EQ(settings->GetHistoryFlags(), 255u);
    ASSERT_TRUE(settings->Serialize(true));
    const std::string text = ReadSettings();
    EXPECT_NE(text.find("<scan-flag>4095</scan-flag>"), std::string::npos);
    EXPECT_NE(text.find("<disableditems-list />"), std::string::npos)
        << "a missing section is added";
}

TEST_F(SettingsTest, UnknownElementsSurviveASave) {
    WriteSettings(
        "<?xml version=\"1.0\"?>\n<!-- mine -->\n<settings><general>5</general>"
        "<ignore-list><keep a=\"1\">text</keep></ignore-list>"
        "<my-plugin version=\"2\"><option name=\"x\">on</option><?hint keep?></my-plugin>"
        "<scheduling><idle-wait>15</idle-wait><future-field>7</future-field></scheduling>"
        "</settings>");
    auto settings = Open();
    settings->SetGeneralFlag(CSettings::GENERAL_FIX_AFTER_SCAN, true);
    const std::string text = ReadSettings();
    EXPECT_EQ(text.rfind("<?xml version='1.0' encoding='utf-8'?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("<general>7</general>"), std::string::npos);
    EXPECT_NE(text.find("<!-- mine -->"), std::string::npos);
    EXPECT_NE(text.find("<keep a=\"1\">text</keep>"), std::string::npos) << text;
    EXPECT_NE(
        text.find(
            "<my-plugin version=\"2\">\n\t\t<option name=\"x\">on</option>\n\t\t<?hint keep?>"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("<future-field>7</future-field>"), std::string::npos)
        << "unknown elements inside the store's own sections survive too";
    WORD idle = 0, deadline = 0;
    settings->GetIdleWait(idle, deadline);
    EXPECT_EQ(idle, 15);
}

TEST_F(SettingsTest, SchedulingWithOnlyIdleWaitLoadsNoTrigger) {
    WriteSettings("<settings><scheduling><idle-wait>25</idle-wait></scheduling></settings>");
    auto settings = Open();
    EXPECT_TRUE(settings->GetTriggers().empty());
    EXPECT_EQ(LastTask().GetTriggersCount(), 0);
    WORD idle = 0, deadline = 1;
    LastTask().GetIdleWait(idle, deadline);
    EXPECT_EQ(idle, 25) << "the task takes the idle wait of the file";
    EXPECT_EQ(deadline, 0);
}

TEST_F(SettingsTest, EveryKindOfTriggerMakesTheRoundTripThroughTheFile) {
    auto settings = Open();
    const std::vector<TASK_TRIGGER> all = EveryKind();
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(settings->AddTrigger(all[i]), i);
    }
    EXPECT_TRUE(Same(settings->GetTriggers(), all));
    EXPECT_TRUE(m_boxes.GetShown().empty());

    auto reopened = Open();
    EXPECT_TRUE(Same(reopened->GetTriggers(), all));
    ASSERT_EQ(LastTask().GetTriggersCount(), all.size());
    for (WORD i = 0; i < all.size(); ++i) {
        const TASK_TRIGGER stored = LastTask().GetTrigger(i);
        EXPECT_EQ(std::memcmp(&stored, &all[i], sizeof stored), 0) << "trigger " << i;
    }
    const std::string text = ReadSettings();
    EXPECT_NE(text.find("<task-trigger type=\"4\">\n\t\t\t<begin-year>2026</begin-year>"),
              std::string::npos)
        << text;
    // The last Monday of every month: week 5 and Monday (2) in item1, all months in item2.
    EXPECT_NE(text.find("<type>\n\t\t\t\t<item1>131077</item1>\n\t\t\t\t<item2>4095</item2>"),
              std::string::npos);
}

TEST_F(SettingsTest, RemovingTriggerZeroOfThreeRenumbersTaskAndList) {
    auto settings = Open();
    settings->AddTrigger(Daily(7));
    settings->AddTrigger(Daily(8));
    settings->AddTrigger(Daily(9));
    settings->DelTriggerAt(0);
    ASSERT_EQ(settings->GetTriggers().size(), 2u);
    EXPECT_EQ(settings->GetTriggers()[0].wStartHour, 8);
    EXPECT_EQ(settings->GetTriggers()[1].wStartHour, 9);
    EXPECT_EQ(settings->GetTriggerInfo(0), L"At 08:30 every day, starting 06/12/2026");
    EXPECT_EQ(settings->GetTriggerInfo(1), L"At 09:30 every day, starting 06/12/2026");
    auto reopened = Open();
    ASSERT_EQ(reopened->GetTriggers().size(), 2u);
    EXPECT_EQ(reopened->GetTriggers()[0].wStartHour, 8);
}

TEST_F(SettingsTest, DeletingATriggerThatIsNotStoredChangesNothing) {
    auto settings = Open();
    settings->AddTrigger(Daily(7));
    const std::string before = ReadSettings();
    settings->DelTrigger(Daily(8));
    EXPECT_EQ(ReadSettings(), before);
    EXPECT_EQ(LastTask().GetTriggersCount(), 1);
    settings->DelTrigger(Daily(7));
    EXPECT_EQ(LastTask().GetTriggersCount(), 0);
    EXPECT_TRUE(settings->GetTriggers().empty());
}

TEST_F(SettingsTest, ATriggerTheTaskRefusesIsReportedAndNotStored) {
    auto settings = Open();
    TASK_TRIGGER bad = Daily(25);
    EXPECT_EQ(settings->AddTrigger(bad), 0xFFFF);
    EXPECT_TRUE(settings->GetTriggers().empty());
    const std::vector<CRecordingMessageBox::SShown> shown = m_boxes.GetShown();
    ASSERT_EQ(shown.size(), 1u);
    const std::wstring& text = shown[0].strText;
    EXPECT_EQ(text.rfind(L"Cause: \nFile: ", 0), 0u) << text;
    EXPECT_NE(text.find(L"ITask::SetTrigger"), std::wstring::npos);
    EXPECT_NE(text.find(L"\nParameters: \nTrigger:\nMinutesDuration: 0 \n"), std::wstring::npos);
    EXPECT_NE(text.find(L"wStartHour: 25 \n"), std::wstring::npos);
    std::unique_ptr<CMessage> logged = m_queue.PopFront();
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->m_nType, CLogMessage::kType);
    EXPECT_NE(static_cast<CLogMessage&>(*logged).m_strText.find(text), std::wstring::npos);
}

TEST_F(SettingsTest, ADamagedFileLoadsWhatItCanAndKeepsTheRest) {
    const std::string original =
        "<?xml version='1.0' encoding='utf-8'?><settings><general>5</general>"
        "<my-notes>keep me</my-notes><scan-flag>7</scan-flag>"
        "<disableditems-list><item>HKLM run: x</item></disableditems-list>"
        "<history-cleaner>3</history-cleaner><scheduling><idle-wait>20</idle-wait>"
        "<task-trigger type=\"1\"><begin-year>2026";
    WriteSettings(original);
    auto settings = Open();
    EXPECT_EQ(settings->GetGeneral(), 5u);
    EXPECT_EQ(settings->GetScanFlags(), 7u);
    EXPECT_EQ(settings->GetHistoryFlags(), 3u);
    EXPECT_EQ(settings->GetDisabledItems().count(L"HKLM run: x"), 1u);
    EXPECT_TRUE(settings->GetTriggers().empty()) << "the cut trigger cannot be scheduled";
    settings->AddScanFlags(8);
    const std::string text = ReadSettings();
    EXPECT_NE(text.find("<general>5</general>"), std::string::npos) << text;
    EXPECT_NE(text.find("<my-notes>keep me</my-notes>"), std::string::npos);
    EXPECT_NE(text.find("<scan-flag>15</scan-flag>"), std::string::npos);
    EXPECT_NE(text.find("<item>HKLM run: x</item>"), std::string::npos);
    EXPECT_EQ(CorvaneTest::ReadAll(SettingsFile().string() + ".bad"), original) << "the damaged file is kept as it was";
}

TEST_F(SettingsTest, SectionsAfterTheDamageAreFoundAgain) {
    WriteSettings(
        "<settings><general>5</genral><scan-flag>9</scan-flag>"
        "<history-cleaner>4</history-cleaner><disableditems-list><item>a</item><item>b</item>"
        "</disableditems-list>");
    auto settings = Open();
    EXPECT_EQ(settings->GetGeneral(), 5u);
    EXPECT_EQ(settings->GetScanFlags(), 9u);
    EXPECT_EQ(settings->GetHistoryFlags(), 4u);
    EXPECT_EQ(settings->GetDisabledItems(), (std::set<std::wstring>{L"a", L"b"}));
}

// Thousands of sections that never close, then whole ones: each is found after the broken copies
// of itself.
TEST_F(SettingsTest, WholeSectionsAreFoundAfterManyBrokenCopies) {
    std::string text = "<settings>< <scan-flag>7<scan-flag>9</scan-flag><general>";
    for (int i = 0; i < 5000; ++i) {
        text += "<history-cleaner>1<general/";
    }
    text += "<history-cleaner>3</history-cleaner><general>6</general>";
    WriteSettings(text);
    auto settings = Open();
    EXPECT_EQ(settings->GetScanFlags(), 9u);
    EXPECT_EQ(settings->GetHistoryFlags(), 3u);
    EXPECT_EQ(settings->GetGeneral(), 6u);
}

TEST_F(SettingsTest, ANonXmlFileGetsTheDefaultsAndIsKept) {
    WriteSettings("\x01\x02 garbage");
    auto settings = Open();
    EXPECT_EQ(settings->GetScanFlags(), 4095u);
    ASSERT_TRUE(settings->Serialize(true));
    EXPECT_NE(ReadSettings().find("<scan-flag>4095</scan-flag>"), std::string::npos);
    EXPECT_TRUE(fs::exists(SettingsFile().string() + ".bad"));
}

TEST_F(SettingsTest, WhenTheTaskCannotBeMadeTheUsersFileIsStillLoaded) {
    fs::create_directories(m_dir / "config/corvane");
    std::ofstream(m_dir / "config/corvane/tasks") << "a file where the task folder should be";
    WriteSettings(
        "<settings><general>1</general><scan-flag>3</scan-flag><scheduling><task-trigger "
        "type=\"7\"><begin-year>2026</begin-year><begin-month>1</begin-month><begin-day>1"
        "</begin-day></task-trigger><idle-wait>10</idle-wait></scheduling></settings>");
    auto settings = Open();
    ASSERT_FALSE(m_boxes.GetShown().empty());
    EXPECT_NE(m_boxes.GetShown()[0].strText.find(L"IPersistFile::Save"), std::wstring::npos);
    EXPECT_EQ(settings->GetScanFlags(), 3u);
    ASSERT_EQ(settings->GetTriggers().size(), 1u);
    settings->RemoveScanFlags(1);
    const std::string text = ReadSettings();
    EXPECT_NE(text.find("<general>1</general>"), std::string::npos) << text;
    EXPECT_NE(text.find("<scan-flag>2</scan-flag>"), std::string::npos);
    EXPECT_NE(text.find("<task-trigger type=\"7\">"), std::string::npos) << "the schedule is kept";
}

TEST_F(SettingsTest, LastScanCountersAndTimeRoundTrip) {
    auto settings = Open();
    settings->SetLastScan(0x20, 5, 3, 2);
    settings->SetLastScanTime(8589934592LL);  // past 2038
    ASSERT_TRUE(settings->Serialize(true));
    auto reopened = Open();
    EXPECT_EQ(reopened->GetLastScan(0x20).found, 5);
    EXPECT_EQ(reopened->GetLastScan(0x20).fixed, 3);
    EXPECT_EQ(reopened->GetLastScan(0x20).ignored, 2);
    EXPECT_EQ(reopened->GetLastScan(0x1).found, 0);
    EXPECT_EQ(reopened->GetLastScanTime(), 8589934592LL);
}

// A fix records its counters while another process (here: another store) may have saved a change
// since the fix's store read the file; that change must survive the fix's save.
TEST_F(SettingsTest, AFixResultIsSavedOnTopOfAnotherProcesssChange) {
    auto fixing = Open();
    auto other = Open();
    other->SetGeneralFlag(CSettings::GENERAL_FIX_AFTER_SCAN, true);
    other->SetLastScan(0x1, 9, 9, 0);
    ASSERT_TRUE(other->Serialize(true));
    ASSERT_TRUE(fixing->SaveFixResult({{0x20, {5, 3, 0}}}, 1234));
    auto reopened = Open();
    EXPECT_NE(reopened->GetGeneral() & CSettings::GENERAL_FIX_AFTER_SCAN, 0u);
    EXPECT_EQ(reopened->GetLastScan(0x1).found, 9) << "a category the fix did not touch";
    EXPECT_EQ(reopened->GetLastScan(0x20).fixed, 3);
    EXPECT_EQ(reopened->GetLastScanTime(), 1234);
}

TEST_F(SettingsTest, OptionsAreSavedAtOnce) {
    auto settings = Open();
    settings->SetGeneralFlag(CSettings::GENERAL_BACKUP_BEFORE_FIX, false);
    settings->RemoveScanFlags(0x800);
    settings->RemoveHistoryFlags(0x3);
    settings->AddDisabledItem(L"b");
    settings->AddDisabledItem(L"a");
    settings->AddDisabledItem(L"a");
    auto reopened = Open();
    EXPECT_EQ(reopened->GetGeneral(), 8u);
    EXPECT_EQ(reopened->GetScanFlags(), 0x7FFu);
    EXPECT_FALSE(reopened->IsHistoryFlag(0x3));
    EXPECT_TRUE(reopened->IsHistoryFlag(0x7));
    EXPECT_NE(ReadSettings().find("<item>a</item>\n\t\t<item>b</item>"), std::string::npos);
    reopened->RemoveDisabledItem(L"a");
    EXPECT_EQ(Open()->GetDisabledItems(), (std::set<std::wstring>{L"b"}));
}

TEST_F(SettingsTest, FormatServiceAddressIsKeptOnlyOnceSet) {
    auto settings = Open();
    ASSERT_TRUE(settings->Serialize(true));
    EXPECT_EQ(ReadSettings().find("format-service"), std::string::npos);
    settings->SetFormatService(L"http://formats.example.org:8080");
    EXPECT_EQ(Open()->GetFormatService(), L"http://formats.example.org:8080");
    settings->SetFormatService(L"");
    EXPECT_EQ(Open()->GetFormatService(), L"");
}

TEST_F(SettingsTest, AutoRunIsTheDesktopsAutostartEntry) {
    auto settings = Open();
    settings->SetAutoRun(false);
    EXPECT_FALSE(settings->IsAutoRun());
    EXPECT_FALSE(fs::exists(m_dir / "config/autostart"));
    settings->SetAutoRun(true);
    EXPECT_TRUE(settings->IsAutoRun());
    EXPECT_TRUE(fs::exists(m_dir / "config/autostart/corvane.desktop"));
    settings->SetAutoRun(false);
    EXPECT_FALSE(settings->IsAutoRun());
    EXPECT_FALSE(fs::exists(m_dir / "config/autostart/corvane.desktop"));
    EXPECT_TRUE(m_boxes.GetShown().empty());
    EXPECT_EQ(m_queue.PopFront(), nullptr) << "switching off what is not there logs no failure";
}

}  // namespace
}  // namespace Branwick
