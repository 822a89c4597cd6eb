#include "platform/discovery/discovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace {

using Branwick::Platform::DiscoverTargets;
using Branwick::Platform::EFoundKind;
using Branwick::Platform::SDiscoveryRoots;
using Branwick::Platform::SFoundTarget;
using CorvaneTest::CTempFolder;
using CorvaneTest::Touch;
namespace fs = std::filesystem;

// A home folder in a temporary folder, with nothing mounted.
class DiscoveryTest : public ::testing::Test {
protected:
    SDiscoveryRoots Roots() const {
        SDiscoveryRoots r;
        r.strHome = (m_tmp / "home").string();
        r.strConfigHome = (m_tmp / "home/.config").string();
        r.strDataHome = (m_tmp / "home/.local/share").string();
        r.vcMountRoots = {(m_tmp / "media").string(), (m_tmp / "mnt").string()};
        return r;
    }
    fs::path Home() const { return m_tmp / "home"; }
    static void MakePrefix(const fs::path& folder, bool b64 = false) {
        Touch(folder / "system.reg", std::string("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=") +
                                         (b64 ? "win64" : "win32") + "\n");
    }
    const SFoundTarget* Find(const std::vector<SFoundTarget>& all, const fs::path& folder) const {
        for (const SFoundTarget& t : all) {
            if (fs::path(t.strFolder) == folder) {
                return &t;
            }
        }
        return nullptr;
    }

    CTempFolder m_tmp{"corvane-discovery"};
};

TEST_F(DiscoveryTest, FindsThePrefixesOfEveryLauncherOnceInOrder) {
    const fs::path h = Home();
    MakePrefix(h / ".wine", true);
    MakePrefix(h / ".local/share/wineprefixes/office");
    // Steam: the default library and a second one named by libraryfolders.vdf.
    MakePrefix(h / ".local/share/Steam/steamapps/compatdata/220/pfx", true);
    Touch(h / ".local/share/Steam/steamapps/appmanifest_220.acf",
          "\"AppState\"\n{\n\t\"appid\"\t\t\"220\"\n\t\"name\"\t\t\"Half-Life 2\"\n}\n");
    const fs::path library = m_tmp / "games/SteamLibrary";
    Touch(h / ".local/share/Steam/steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + library.string() + "\"\n\t}\n}\n");
    MakePrefix(library / "steamapps/compatdata/4000/pfx");
    // Lutris names the prefix in its game file; ~ is the home folder.
    MakePrefix(h / "Games/gog/witcher");
    Touch(h / ".config/lutris/games/witcher-1234.yml",
          "game:\n  exe: /x/witcher.exe\n  prefix: ~/Games/gog/witcher\nwine:\n  version: lutris-7\n");
    MakePrefix(h / ".local/share/bottles/bottles/Photoshop");
    MakePrefix(h / ".var/app/com.usebottles.bottles/data/bottles/bottles/Flatbottle");
    // Heroic: its own prefix folder, and a game config naming a Proton prefix elsewhere.
    MakePrefix(h / "Games/Heroic/Prefixes/default/Fortune");
    MakePrefix(m_tmp / "elsewhere/pfx");
    Touch(h / ".config/heroic/GamesConfig/abc.json",
          "{\"abc\": {\"winePrefix\": \"" + (m_tmp / "elsewhere").string() + "\"}}");
    MakePrefix(h / ".PlayOnLinux/wineprefix/Notepad");
    MakePrefix(h / ".cxoffice/Quicken");
    // Not prefixes: a launcher folder without system.reg.
    fs::create_directories(h / ".cxoffice/empty-bottle");

    SDiscoveryRoots roots = Roots();
    roots.strWinePrefix = (h / ".wine").string();  // also ~/.wine: listed once, as WINEPREFIX
    const std::vector<SFoundTarget> all = DiscoverTargets(roots);

    std::vector<std::pair<std::string, std::string>> got;
    for (const SFoundTarget& t : all) {
        EXPECT_EQ(t.eKind, EFoundKind::WinePrefix) << t.strFolder;
        got.emplace_back(t.strSource, t.strName);
    }
    const std::vector<std::pair<std::string, std::string>> want = {
        {"WINEPREFIX", ".wine"},   {"winetricks", "office"},   {"Steam", "Half-Life 2"},
        {"Steam", "Steam app 4000"}, {"Lutris", "witcher-1234"}, {"Bottles", "Photoshop"},
        {"Bottles", "Flatbottle"}, {"Heroic", "Fortune"},      {"Heroic", "abc"},
        {"PlayOnLinux", "Notepad"}, {"CrossOver", "Quicken"}};
    EXPECT_EQ(got, want);
    ASSERT_NE(Find(all, h / ".wine"), nullptr);
    EXPECT_TRUE(Find(all, h / ".wine")->b64Bit);
    EXPECT_FALSE(Find(all, h / ".local/share/wineprefixes/office")->b64Bit);
    EXPECT_NE(Find(all, m_tmp / "elsewhere/pfx"), nullptr) << "a Proton folder's pfx is the prefix";
    EXPECT_FALSE(Find(all, h / ".wine")->bServerRunning);
}

TEST_F(DiscoveryTest, MissingOrMalformedLauncherFilesAddNothing) {
    const fs::path h = Home();
    Touch(h / ".local/share/Steam/steamapps/libraryfolders.vdf", "\"libraryfolders\" { \"path\" \"");
    Touch(h / ".config/lutris/games/broken.yml", "prefix: \"\nprefix:\n\x01\x02");
    Touch(h / ".config/lutris/games/gone.yml", "game:\n  prefix: /no/such/folder\n");
    Touch(h / ".config/heroic/GamesConfig/bad.json", "{\"x\": {\"winePrefix\": ");
    Touch(h / ".config/heroic/GamesConfig/odd.json", "[1, 2, {\"winePrefix\": 3}]");
    Touch(h / ".config/heroic/GamesConfig/typed.json", "{\"x\": {\"winePrefix\": 7}, \"y\": 5}");
    Touch(h / ".wine", "a file, not a folder");
    SDiscoveryRoots roots = Roots();
    roots.strWinePrefix = "/no/such/prefix";
    EXPECT_TRUE(DiscoverTargets(roots).empty());

    roots.strHome = (m_tmp / "no-home").string();
    roots.strConfigHome = roots.strDataHome = "";
    roots.vcMountRoots = {"/no/such/mount/root"};
    EXPECT_TRUE(DiscoverTargets(roots).empty());
}

TEST_F(DiscoveryTest, SizeCountsThePrefixFilesButNotWhatItsDrivesLinkTo) {
    const fs::path prefix = Home() / ".wine";
    MakePrefix(prefix);
    Touch(prefix / "drive_c/big.bin", std::string(10000, 'x'));
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices/c:");
    fs::create_symlink(m_tmp.Path(), prefix / "dosdevices/z:");  // the "whole host"
    Touch(m_tmp / "outside.bin", std::string(50000, 'y'));

    const std::vector<SFoundTarget> all = DiscoverTargets(Roots());
    ASSERT_EQ(all.size(), 1u);
    const std::uint64_t nRegBytes = fs::file_size(prefix / "system.reg");
    EXPECT_EQ(all[0].nBytes, 10000 + nRegBytes);

    SDiscoveryRoots quick = Roots();
    quick.bSizes = false;
    EXPECT_EQ(DiscoverTargets(quick).at(0).nBytes, 0u);
}

TEST_F(DiscoveryTest, MountedWindowsVolumesWithTheirUsersInAnyCase) {
    // udisks: /media/<user>/<label>; the names keep Windows' varying case.
    const fs::path win10 = m_tmp / "media/alice/Win10";
    Touch(win10 / "Windows/System32/config/SOFTWARE", "regf");
    fs::create_directories(win10 / "Windows/SysWOW64");
    Touch(win10 / "Users/bob/NTUSER.DAT", "regf");
    Touch(win10 / "Users/alice/NTUSER.DAT", "regf");
    fs::create_directories(win10 / "Users/Public");  // no hive: no user
    const fs::path xp = m_tmp / "mnt/old";
    Touch(xp / "WINDOWS/system32/config/software", "regf");
    Touch(xp / "users/carol/ntuser.dat", "regf");
    // A data disk with a Windows folder but no registry is no system.
    fs::create_directories(m_tmp / "mnt/data/Windows/System32");

    const std::vector<SFoundTarget> all = DiscoverTargets(Roots());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].eKind, EFoundKind::WindowsVolume);
    EXPECT_EQ(fs::path(all[0].strFolder), win10);
    EXPECT_EQ(all[0].strName, "Win10");
    EXPECT_TRUE(all[0].b64Bit);
    EXPECT_EQ(all[0].vcUsers, (std::vector<std::string>{"alice", "bob"}));
    EXPECT_GT(all[0].nBytes, 0u);
    EXPECT_EQ(fs::path(all[1].strFolder), xp);
    EXPECT_FALSE(all[1].b64Bit);
    EXPECT_EQ(all[1].vcUsers, (std::vector<std::string>{"carol"}));
}

}  // namespace
