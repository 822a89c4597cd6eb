// Every scanner on whole Wine prefixes through the loaded library: the demo prefix reports exactly
// its planted problems and a fix removes them and nothing else; the fresh prefixes of the fixtures
// report nothing.
#include <algorithm>
#include <iterator>
#include <tuple>

#include "platform/target/target.h"
#include "tests/fendral/finding_fixture.h"
#include "tests/fendral/prefix_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kEach[] = {COM,        UNINSTALL, FONTS,      SHARED_DLLS,
                                  STARTUP,    FILE_PATH, SHOTCATS,   EMPTY_KEYS,
                                  HELP_FILES, APP_PATH,  FILE_ASSOCIATIONS, JUNK_FILES};
constexpr std::int32_t kCategories = COM | UNINSTALL | FONTS | SHARED_DLLS | STARTUP | FILE_PATH |
                                     SHOTCATS | EMPTY_KEYS | HELP_FILES | APP_PATH |
                                     FILE_ASSOCIATIONS | JUNK_FILES;

// drive_c's host path of a file record's Windows path on drive C:.
std::string DriveCPath(const std::wstring& strWindows) {
    std::string strPath = "drive_c/" + WideToUtf8(strWindows.substr(3));
    std::replace(strPath.begin(), strPath.end(), '\\', '/');
    return strPath;
}

class PrefixTest : public FindingFixture {
protected:
    std::vector<CRegError> ScanAll(Platform::CTarget& target) {
        m_recorder.Clear();
        Run(kFendralScan, kCategories, &target);
        std::vector<CRegError> out;
        for (const std::int32_t nBit : kEach) {
            for (CRegError& record : Findings(nBit)) {
                out.push_back(std::move(record));
            }
        }
        return out;
    }
};

TEST_F(PrefixTest, TheDemoReportsItsPlantedProblemsAndAFixRemovesOnlyThem) {
    CTempFolder folder("corvane-demo");
    Platform::CDemoExpectations expect;
    std::wstring strError;
    ASSERT_TRUE(Platform::MakeDemoPrefix(folder.Path().string(), &expect, strError))
        << WideToUtf8(strError);
    const std::unique_ptr<Platform::CTarget> target =
        Platform::CTarget::OpenWinePrefix(folder.Path().string(), strError);
    ASSERT_NE(target, nullptr) << WideToUtf8(strError);
    const Platform::CRegistry& registry = target->Registry();

    const std::vector<CRegError> found = ScanAll(*target);
    std::multiset<CFindingKey> foundKeys;
    for (const CRegError& record : found) {
        foundKeys.insert(KeyOf(record));
    }
    std::multiset<CFindingKey> expectedKeys;
    for (const Platform::CDemoEntry& entry : expect.m_vcFindings) {
        if ((entry.m_dwCategory & kCategories) != 0) {
            expectedKeys.insert(KeyOf(entry));
        }
    }
    for (const CFindingKey& key : foundKeys) {
        EXPECT_EQ(foundKeys.count(key), expectedKeys.count(key)) << Describe(key);
    }
    for (const CFindingKey& key : expectedKeys) {
        EXPECT_EQ(foundKeys.count(key), expectedKeys.count(key)) << Describe(key);
    }
    ASSERT_GE(expectedKeys.size(), 24u) << "two problems or more of each of the twelve categories";
    EXPECT_TRUE(m_box.GetShown().empty());
    std::vector<std::int32_t> starts;
    for (const auto& m : m_recorder.Of<CScanProgressMessage>()) {
        if (m.m_strScanDescription == L"Starting..." && m.m_nProgress == 0) {
            starts.push_back(m.m_nScanType);
        }
    }
    EXPECT_EQ(starts, (std::vector<std::int32_t>{JUNK_FILES, COM, UNINSTALL, FONTS, SHARED_DLLS,
                                                 STARTUP, FILE_PATH, SHOTCATS, EMPTY_KEYS,
                                                 HELP_FILES, APP_PATH, FILE_ASSOCIATIONS}));

    // No finding names a look-alike: neither its key or file nor, through a fix, its value.
    for (const Platform::CDemoEntry& sound : expect.m_vcSound) {
        if ((sound.m_dwCategory & kCategories) == 0) {
            continue;
        }
        for (const CRegError& record : found) {
            if (!Platform::EqualNoCase(record.m_sPath, sound.m_strPath)) {
                continue;
            }
            EXPECT_FALSE(sound.m_strValue.empty()) << WideToUtf8(sound.m_strNote);
            for (const std::wstring& strFix : FixTexts(record)) {
                EXPECT_NE(strFix.rfind(sound.m_strValue + L" = ", 0), 0u) << WideToUtf8(strFix);
            }
        }
    }

    // What the fix may remove: a whole key for a record that deletes itself, else the value the
    // finding is about; and the files of the file records.
    const CSnapshot before = Snapshot(registry);
    const std::set<std::string> filesBefore = FileSnapshot(folder.Path());
    CSnapshot expectedGone;
    std::set<std::string> expectedFilesGone;
    for (const Platform::CDemoEntry& entry : expect.m_vcFindings) {
        const auto record = std::find_if(found.begin(), found.end(), [&](const CRegError& r) {
            return KeyOf(r) == KeyOf(entry);
        });
        if (record == found.end()) {
            continue;
        }
        if (record->m_hRoot == 0) {
            expectedFilesGone.insert(DriveCPath(record->m_sPath));
            continue;
        }
        const std::wstring strReal =
            RealPath(registry, record->m_hRoot, record->m_sPath, record->m_dwRegSam);
        ASSERT_FALSE(strReal.empty()) << Describe(KeyOf(entry));
        if (record->m_bDeleteSelf) {
            const CSnapshot subtree = Subtree(before, strReal);
            expectedGone.insert(subtree.begin(), subtree.end());
        } else {
            expectedGone.insert(L"V " + strReal + L"|" + Platform::FoldCase(entry.m_strValue));
        }
    }
    FixAll(*target, found);
    const CSnapshot after = Snapshot(registry);
    CSnapshot gone;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::inserter(gone, gone.end()));
    EXPECT_EQ(gone, expectedGone);
    EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
        << "the fix added nothing";
    EXPECT_FALSE(registry.IsDirty()) << "the fix run flushed the prefix";
    const std::set<std::string> filesAfter = FileSnapshot(folder.Path());
    std::set<std::string> filesGone;
    std::set_difference(filesBefore.begin(), filesBefore.end(), filesAfter.begin(),
                        filesAfter.end(), std::inserter(filesGone, filesGone.end()));
    EXPECT_EQ(filesGone, expectedFilesGone);
    std::set<std::string> filesAdded;
    std::set_difference(filesAfter.begin(), filesAfter.end(), filesBefore.begin(),
                        filesBefore.end(), std::inserter(filesAdded, filesAdded.end()));
    ASSERT_EQ(filesAdded.size(), 1u) << "the fix run's history file and nothing else";
    EXPECT_NE(filesAdded.begin()->find("/Application Data/Corvane/History/"), std::string::npos)
        << *filesAdded.begin();
    Platform::CRegistry reread;
    ASSERT_TRUE(Platform::CRegistry::OpenWinePrefix(folder.Path().string(), {}, &reread).Ok());
    EXPECT_EQ(Snapshot(reread), after) << "the fix reached the prefix's files";

    // The fixed prefix has nothing left to report in these categories.
    for (const CRegError& record : ScanAll(*target)) {
        ADD_FAILURE() << "still found: " << Describe(KeyOf(record));
    }
}

// A fresh prefix holds nothing but what Wine put there itself: not one finding, whether or not
// Wine's fonts are on the machine that scans (they are looked for in a folder of the test's).
class FreshPrefixTest : public PrefixTest,
                        public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(FreshPrefixTest, AFreshWinePrefixScansClean) {
    const auto [pszFixture, bWineFonts] = GetParam();
    const fs::path fixture = fs::path(CORVANE_FIXTURES_DIR) / pszFixture;
    if (!fs::exists(fixture / "drive_c-listing.tsv")) {
        GTEST_SKIP() << "fixture " << fixture << " is absent";
    }
    CTempFolder folder("corvane-wine");
    ASSERT_TRUE(MaterialiseWineFixture(fixture, folder.Path()));
    std::wstring strError;
    const std::unique_ptr<Platform::CTarget> target =
        Platform::CTarget::OpenWinePrefix(folder.Path().string(), strError);
    ASSERT_NE(target, nullptr) << WideToUtf8(strError);
    CTempFolder fonts("corvane-wine-fonts");
    std::vector<std::wstring> vcFontFolders;
    if (bWineFonts) {
        for (const char* pszFont : {"coure.fon", "serife.fon", "sserife.fon", "smalle.fon"}) {
            CorvaneTest::Touch(fonts / pszFont, "font");
        }
        std::wstring strFolder = L"Z:" + Platform::FromUtf8(fonts.Path().string());
        std::replace(strFolder.begin(), strFolder.end(), L'/', L'\\');
        vcFontFolders.push_back(strFolder);
    }
    target->UseWineFontFolders(vcFontFolders);
    for (const CRegError& record : ScanAll(*target)) {
        std::string strFixes;
        for (const std::wstring& strFix : FixTexts(record)) {
            strFixes += " [" + WideToUtf8(strFix) + "]";
        }
        ADD_FAILURE() << "found: " << Describe(KeyOf(record)) << strFixes;
    }
    EXPECT_TRUE(m_box.GetShown().empty()) << "no exception on the way";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FreshPrefixTest,
                         ::testing::Combine(::testing::Values("wine8-win64", "wine8-win64-only"),
                                            ::testing::Bool()));

}  // namespace
