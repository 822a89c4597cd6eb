// On a 64-bit Windows volume a key can exist in both registry views. A finding of the 32-bit view
// must fix and back up the 32-bit key only, on whichever hive holds it, and its restore must
// bring back exactly what was there.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "core/Messages.h"
#include "core/RegData.h"
#include "core/RegError.h"
#include "target_fixture.h"
#include "tests/platform_registry/hive_util.h"

using namespace Branwick;
using Branwick::Test::Sz;
namespace RegTest = Branwick::Platform::RegTest;

namespace {

// One kind of finding of a category: where the key lies, and the value its fix deletes (empty
// name and bValue false: the whole key).
struct SViewCase {
    const char* pszName;
    std::int32_t nScanType;
    HKEY hRoot;
    const wchar_t* pszPath;
    bool bValue;
};

const SViewCase kCases[] = {
    {"ComClassOfTheMachine", COM, HKEY_LOCAL_MACHINE,
     L"Software\\Classes\\CLSID\\{0BADC0DE-0000-4000-8000-00000000C0DE}", false},
    {"ComClassOfTheUser", COM, HKEY_CURRENT_USER,
     L"Software\\Classes\\CLSID\\{0BADC0DE-0000-4000-8000-00000000C0DE}", false},
    {"Uninstall", UNINSTALL, HKEY_LOCAL_MACHINE,
     L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Candlewick Viewer", false},
    {"SharedDll", SHARED_DLLS, HKEY_LOCAL_MACHINE,
     L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", true},
    {"Startup", STARTUP, HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     true},
    {"AppPath", APP_PATH, HKEY_LOCAL_MACHINE,
     L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\viewer.exe", false},
    {"HelpFile", HELP_FILES, HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\Help", true},
    {"EmptyKey", EMPTY_KEYS, HKEY_LOCAL_MACHINE, L"Software\\Tallow Labs\\Empty", false},
};

constexpr wchar_t kValue[] = L"C:\\Program Files\\Candlewick\\viewer.dll";

class VolumeViews : public ::testing::TestWithParam<SViewCase> {
protected:
    void SetUp() override {
        if (RegTest::FixtureHive("regipy__SYSTEM_B").empty()) {
            GTEST_SKIP() << "fixture hives not found in " CORVANE_FIXTURES_DIR "/hives";
        }
        RegTest::BuildVolume(m_dir.Path(), {.m_strSystem = "regipy__SYSTEM_B",
                                            .m_strNtUser = "museum__Win10_NTUSER.DAT"});
        // Without their logs the museum user's hives are dirty and read-only; hivex's commit
        // makes them clean, as a clean shut-down would have.
        for (const char* pszHive : {"NTUSER.DAT", "AppData/Local/Microsoft/Windows/UsrClass.dat"}) {
            const std::string strHive = m_dir.Path() + "/Users/Alice/" + pszHive;
            hive_h* h = hivex_open(strHive.c_str(), HIVEX_OPEN_WRITE);
            ASSERT_NE(h, nullptr) << strHive;
            ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
            hivex_close(h);
        }
        Open();
        ASSERT_TRUE(m_registry.Is64Bit());
    }

    void Open() {
        const CStatus status =
            Platform::CRegistry::OpenOfflineVolume(m_dir.Path(), L"Alice", &m_registry);
        ASSERT_TRUE(status.Ok()) << WideToUtf8(status.m_strText);
        m_pTarget = Platform::CTarget::OpenTest(m_dir.Path(), m_registry);
    }

    // The key in one view, with the value a fix deletes and a subkey, each marking its view.
    void Put(REGSAM dwView, const std::wstring& strMark) {
        const SViewCase& c = GetParam();
        Platform::CRegKey key;
        ASSERT_EQ(m_registry.CreateKey(c.hRoot, c.pszPath, dwView, &key), ERROR_SUCCESS);
        ASSERT_EQ(key.SetValue(kValue, REG_SZ, Sz(strMark)), ERROR_SUCCESS);
        if (!c.bValue) {
            Platform::CRegKey sub;
            ASSERT_EQ(key.CreateKey(L"Sub " + strMark, 0, &sub), ERROR_SUCCESS);
        }
    }

    // Both views of the key: its values and subkeys, "-" for a view where it is missing.
    std::string Views() const {
        std::string out;
        for (const REGSAM dwView : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            Platform::CRegKey key;
            if (m_registry.OpenKey(GetParam().hRoot, GetParam().pszPath, dwView, &key) !=
                ERROR_SUCCESS) {
                out += "-|";
                continue;
            }
            Platform::CRegValue value;
            for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
                out += WideToUtf8(value.m_strName) + "=" +
                       std::string(value.m_vData.begin(), value.m_vData.end()) + ";";
            }
            std::wstring strName;
            for (DWORD i = 0; key.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
                out += "[" + WideToUtf8(strName) + "]";
            }
            out += "|";
        }
        return out;
    }

    CRegError Record() const {
        const SViewCase& c = GetParam();
        CRegError record(c.nScanType, c.hRoot, c.pszPath, L"Points at a missing file.",
                         KEY_WOW64_32KEY, !c.bValue);
        if (c.bValue) {
            record.AddFix(std::make_unique<CDeleteRegistryValue>(c.hRoot, c.pszPath, kValue, L"",
                                                                 KEY_WOW64_32KEY));
        }
        return record;
    }

    RegTest::CTempDir m_dir;
    Platform::CRegistry m_registry;
    std::unique_ptr<Platform::CTarget> m_pTarget;
};

TEST_P(VolumeViews, TheThirtyTwoBitFindingFixesOnlyItsViewAndComesBackExactly) {
    Put(KEY_WOW64_64KEY, L"64");
    Put(KEY_WOW64_32KEY, L"32");
    ASSERT_TRUE(m_registry.Flush().Ok());
    const std::string before = Views();
    ASSERT_EQ(before.find("-|"), std::string::npos) << "in both views: " << before;

    CRegError record = Record();
    pugi::xml_document doc;
    record.Backup(CreateBackupDocument(doc), m_registry);
    const std::string strBackup = BackupDocumentText(doc);
    EXPECT_NE(strBackup.find("RegSam=\"512\""), std::string::npos) << strBackup;
    EXPECT_EQ(strBackup.find("RegSam=\"256\""), std::string::npos) << strBackup;
    ASSERT_EQ(record.Fix({*m_pTarget, nullptr}), 0);
    ASSERT_TRUE(m_registry.Flush().Ok());
    Open();
    const std::string fixed = Views();
    EXPECT_EQ(fixed.substr(0, fixed.find('|')), before.substr(0, before.find('|')))
        << "the 64-bit key is untouched";
    EXPECT_NE(fixed, before);

    pugi::xml_document loaded;
    std::wstring strError;
    ASSERT_TRUE(LoadBackupDocument(strBackup, loaded, strError)) << WideToUtf8(strError);
    CRegDataRestorer restorer(m_registry);
    for (pugi::xml_node node : loaded.document_element().children()) {
        restorer.Restore(node);
    }
    ASSERT_TRUE(m_registry.Flush().Ok());
    Open();
    EXPECT_EQ(Views(), before);
}

INSTANTIATE_TEST_SUITE_P(Categories, VolumeViews, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SViewCase>& info) {
                             return std::string(info.param.pszName);
                         });

}  // namespace
