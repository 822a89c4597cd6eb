// What Wine writes into every prefix by itself is not reported in a Wine prefix, whether or not
// Wine's fonts are on the scanning machine; entries that only look like Wine's still are, and so
// are Wine's own entries in a target that is no Wine prefix.
#include <algorithm>
#include <filesystem>

#include "platform/target/target.h"
#include "tests/fendral/finding_fixture.h"
#include "tests/support/temp_folder.h"

using namespace Branwick;
using namespace Branwick::Testing;
namespace fs = std::filesystem;

namespace {

const std::string kMachine = kDataFolder + R"reg(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]
"Courier"="coure.fon"
"MS Sans Serif"="sserifer.fon"
"Small Fonts"="\"smalle.fon\""
"MS Serif"="C:\\Old Tool\\serife.fon"
"Old Tool Courier"="coure.fon"
"Courier New"="gone.ttf"
"Host Sans (TrueType)"="Z:\\nonexistent-corvane\\HostSans.ttf"
"Moved Sans (TrueType)"="Z:\\nonexistent-corvane\\Moved.ttf"
[Software\\Microsoft\\DirectMusic]
"GMFilePath"="C:\\windows\\system32\\drivers\\gm.dls"
"OldToolPath"="C:\\windows\\system32\\drivers\\gm.dls"
[Software\\Wow6432Node\\Microsoft\\DirectMusic]
"GMFilePath"="C:\\windows\\system32\\drivers\\gm.dls"
"OldToolPath"="C:\\windows\\system32\\drivers\\gm.dls"
[Software\\Old Tool]
"GMFilePath"="C:\\windows\\system32\\drivers\\gm.dls"
[Software\\Wow6432Node\\Old Tool]
"GMFilePath"="C:\\windows\\system32\\drivers\\gm.dls"
)reg";

const std::string kUser = R"reg(
[Software\\Wine\\AppDefaults]
[Software\\Wine\\DllOverrides]
[Software\\Wine\\AppDefaults\\game.exe\\X11 Driver]
[Software\\Wine\\Fonts\\External Fonts]
"Host Sans (TrueType)"="Z:\\nonexistent-corvane\\HostSans.ttf"
"Moved Sans (TrueType)"="Z:\\nonexistent-corvane\\Elsewhere.ttf"
[Software\\Winery\\Cellar]
[Software\\Old Tool\\Wine\\Empty]
[Software\\Vendor]
"Kept"="1"
)reg";

// A 32-bit Wine prefix of that registry (one view: the Wow6432Node keys are ordinary keys), with
// drive C: and an empty Windows folder.
class CSmallPrefix {
public:
    CSmallPrefix() {
        fs::create_directories(m_folder / "drive_c" / "windows" / "system32");
        fs::create_directories(m_folder / "dosdevices");
        fs::create_directory_symlink("../drive_c", m_folder / "dosdevices" / "c:");
        fs::create_directory_symlink("/", m_folder / "dosdevices" / "z:");
        Platform::CRegistry reg;
        m_bMade = Platform::CRegistry::OpenWinePrefix(m_folder.Path().string(),
                                                      {.m_bCreate = true, .m_b64Bit = false}, &reg)
                      .Ok() &&
                  reg.ImportText(HKEY_LOCAL_MACHINE, kMachine).Ok() &&
                  reg.ImportText(HKEY_CURRENT_USER, kUser).Ok() && reg.Flush().Ok();
    }

    std::unique_ptr<Platform::CTarget> Open() const {
        std::wstring strError;
        auto pTarget = Platform::CTarget::OpenWinePrefix(m_folder.Path().string(), strError);
        EXPECT_NE(pTarget, nullptr) << WideToUtf8(strError);
        return pTarget;
    }

    CorvaneTest::CTempFolder m_folder{"corvane-wine-own"};
    bool m_bMade = false;
};

class WineContentTest : public FindingFixture {
protected:
    std::vector<std::wstring> Described(std::int32_t nCategory, Platform::CTarget& target) {
        std::vector<std::wstring> out;
        for (const CRegError& record : Scan(nCategory, target)) {
            out.push_back(record.m_sPath + L" " + FixTexts(record).front());
        }
        return out;
    }
};

TEST_F(WineContentTest, WinesOwnEntriesAreNotReportedInAWinePrefix) {
    CSmallPrefix prefix;
    ASSERT_TRUE(prefix.m_bMade);
    const std::unique_ptr<Platform::CTarget> target = prefix.Open();
    ASSERT_NE(target, nullptr);
    const std::wstring kFonts = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts ";

    // Wine's own fonts are not reported, neither without Wine's fonts on the machine nor with
    // them outside the prefix; a look-alike name is judged like any font.
    CorvaneTest::CTempFolder wineFonts("corvane-wine-fonts");
    for (const char* pszFont : {"coure.fon", "sserifer.fon", "smalle.fon"}) {
        CorvaneTest::Touch(wineFonts / pszFont, "font");
    }
    std::wstring strWineFonts = L"Z:" + Utf8ToWide(wineFonts.Path().string());
    std::replace(strWineFonts.begin(), strWineFonts.end(), L'/', L'\\');
    const std::wstring strSerif = kFonts + L"MS Serif = C:\\Old Tool\\serife.fon;";
    const std::wstring strNew = kFonts + L"Courier New = gone.ttf;";
    // A host font Wine listed as its own is Wine's to drop; one whose path differs from Wine's
    // list is not. (Wine's registry files keep values in name order.)
    const std::wstring strMoved =
        kFonts + L"Moved Sans (TrueType) = Z:\\nonexistent-corvane\\Moved.ttf;";
    target->UseWineFontFolders({});
    EXPECT_EQ(Described(FONTS, *target),
              (std::vector<std::wstring>{strNew, strMoved, strSerif,
                                         kFonts + L"Old Tool Courier = coure.fon;"}));
    target->UseWineFontFolders({strWineFonts});
    EXPECT_EQ(Described(FONTS, *target), (std::vector<std::wstring>{strNew, strMoved, strSerif}));

    // The path Wine's setup writes is Wine's under its own name and key only, in either view.
    const std::vector<std::wstring> paths = Described(FILE_PATH, *target);
    EXPECT_GE(paths.size(), 2u);
    for (const std::wstring& strPath : paths) {
        EXPECT_FALSE(strPath.find(L"DirectMusic GMFilePath") != std::wstring::npos)
            << WideToUtf8(strPath);
    }

    const std::wstring kUserKey = L"S-1-5-21-0-0-0-1000\\Software\\";
    EXPECT_EQ(Paths(Scan(EMPTY_KEYS, *target)),
              (std::vector<std::wstring>{kUserKey + L"Old Tool", kUserKey + L"Winery"}));
}

TEST_F(WineContentTest, WinesEntriesAreJudgedInOtherTargets) {
    auto target = MakeTarget(false, kMachine, kUser);
    ASSERT_TRUE(target->Imported());
    EXPECT_EQ(Scan(FONTS, *target->Get()).size(), 8u);
    const std::wstring kUserKey = L"S-1-5-21-0-0-0-1000\\Software\\";
    EXPECT_EQ(Paths(Scan(EMPTY_KEYS, *target->Get())),
              (std::vector<std::wstring>{kUserKey + L"Old Tool", kUserKey + L"Wine\\AppDefaults",
                                         kUserKey + L"Wine\\DllOverrides", kUserKey + L"Winery"}));
}

}  // namespace
