#include "platform/recyclebin/recyclebin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/target/target.h"
#include "platform/text/text.h"
#include "tests/support/locked_folder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/trash.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

using CorvaneTest::Touch;

class RecycleBinTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_root / "prefix" / "drive_c" / "users" / "demo");
        fs::create_directories(m_root / "prefix" / "dosdevices");
        fs::create_symlink("/", m_root / "prefix" / "dosdevices" / "z:");
        fs::create_directories(m_trash = m_root / "data" / "Trash");
        fs::create_directories(m_trash / "info");
        fs::create_directories(m_trash / "files");
        fs::create_directories(m_root / "home");
    }
    void TearDown() override { fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add); }

    // A trashed entry as the desktop puts it there: the file (or folder) and its .trashinfo.
    void Trash(const std::string& strName, const std::string& strPath, bool bFolder = false) {
        CorvaneTest::PutInTrash(m_root / "data", strName, strPath);
        if (bFolder) {
            fs::remove(m_trash / "files" / strName);
            Touch(m_trash / "files" / strName / "inner" / "page.htm", "x");
        }
    }

    bool InTrash(const std::string& strName) const {
        return fs::exists(fs::symlink_status(m_trash / "files" / strName)) &&
               fs::exists(m_trash / "info" / (strName + ".trashinfo"));
    }

    std::string Prefix() const { return (m_root / "prefix").string(); }

    CorvaneTest::CTempFolder m_temp{"corvane-bin"};
    const fs::path m_root = m_temp.Path();
    fs::path m_trash;
};

}  // namespace

TEST_F(RecycleBinTest, OnlyWhatCameFromThePrefixLeavesTheTrash) {
    const std::string strC = Prefix() + "/drive_c";
    Trash("cache.htm", strC + "/users/demo/cache.htm");
    Trash("History.IE5", strC + "/users/demo/History.IE5", true);
    Trash("old%20name.txt", strC + "/users/demo/old%20name.txt");  // the name was escaped
    Trash("holiday.jpg", (m_root / "home" / "holiday.jpg").string());
    // Through the prefix's z: drive the path names the user's own home, not the prefix.
    Trash("letter.odt", Prefix() + "/dosdevices/z:" + (m_root / "home" / "letter.odt").string());
    Trash("sneaky.txt", strC + "/../../home/sneaky.txt");
    Trash("relative.txt", "drive_c/users/demo/relative.txt");
    Trash("noinfo.txt", "");
    std::ofstream(m_trash / "info" / "..trashinfo") << "[Trash Info]\nPath=" << strC << "/x\n";
    std::ofstream(m_trash / "directorysizes") << "4096 1700000000 History.IE5\n8192 1700000001 Photos\n";

    EXPECT_EQ(EmptyDesktopTrash(m_trash.string(), {Prefix()}), S_OK);

    EXPECT_FALSE(InTrash("cache.htm"));
    EXPECT_FALSE(fs::exists(m_trash / "files" / "History.IE5"));
    EXPECT_FALSE(fs::exists(m_trash / "info" / "History.IE5.trashinfo"));
    EXPECT_FALSE(InTrash("old%20name.txt"));
    for (const char* pKept : {"holiday.jpg", "letter.odt", "sneaky.txt", "relative.txt", "noinfo.txt"}) {
        EXPECT_TRUE(InTrash(pKept)) << pKept;
    }
    EXPECT_TRUE(fs::exists(m_trash / "info" / "..trashinfo"));
    EXPECT_TRUE(fs::exists(m_trash / "files"));
    EXPECT_EQ(CorvaneTest::ReadAll(m_trash / "directorysizes"), "8192 1700000001 Photos\n");
}

TEST_F(RecycleBinTest, ALinkInATrashedFolderIsRemovedWithoutWhatItLeadsTo) {
    Touch(m_root / "home" / "Pictures" / "cat.jpg");
    Trash("Cache", Prefix() + "/drive_c/users/demo/Cache", true);
    fs::create_directory_symlink(m_root / "home" / "Pictures", m_trash / "files" / "Cache" / "Pictures");
    EXPECT_EQ(EmptyDesktopTrash(m_trash.string(), {Prefix()}), S_OK);
    EXPECT_FALSE(fs::exists(m_trash / "files" / "Cache"));
    EXPECT_TRUE(fs::exists(m_root / "home" / "Pictures" / "cat.jpg"));
}

TEST_F(RecycleBinTest, ATrashThatWasNeverMadeIsEmpty) {
    EXPECT_EQ(EmptyDesktopTrash((m_root / "nowhere" / "Trash").string(), {Prefix()}), S_OK);
}

TEST_F(RecycleBinTest, AnEntryThatCannotBeRemovedIsReportedAndTheOthersGo) {
    Trash("Locked", Prefix() + "/drive_c/users/demo/Locked", true);
    Trash("free.txt", Prefix() + "/drive_c/users/demo/free.txt");
    CorvaneTest::CLockedFolder locked(m_trash / "files" / "Locked" / "inner");
    if (!locked.Locked()) {
        GTEST_SKIP() << "this file system cannot lock a folder";
    }
    EXPECT_EQ(EmptyDesktopTrash(m_trash.string(), {Prefix()}), HresultFromWin32(ERROR_ACCESS_DENIED));
    locked.Unlock();
    EXPECT_TRUE(fs::exists(m_trash / "info" / "Locked.trashinfo"));  // still listed, as it is still there
    EXPECT_FALSE(InTrash("free.txt"));
}

TEST_F(RecycleBinTest, AWineTargetEmptiesTheTrashThatXdgDataHomeNames) {
    Touch(m_root / "prefix" / "drive_c" / "windows" / "win.ini");
    Touch(m_root / "prefix" / "system.reg", "WINE REGISTRY Version 2\n#arch=win64\n");
    fs::create_directory_symlink("../drive_c", m_root / "prefix" / "dosdevices" / "c:");
    Trash("wine.txt", Prefix() + "/dosdevices/c:/users/demo/wine.txt");
    Trash("mine.txt", (m_root / "home" / "mine.txt").string());
    setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
    std::wstring strError;
    auto target = CTarget::OpenWinePrefix(Prefix(), strError);
    ASSERT_NE(target, nullptr) << ToUtf8(strError);
    EXPECT_EQ(EmptyRecycleBin(*target), S_OK);
    unsetenv("XDG_DATA_HOME");
    EXPECT_FALSE(InTrash("wine.txt"));
    EXPECT_TRUE(InTrash("mine.txt"));
}

TEST_F(RecycleBinTest, EveryUsersBinOnAVolumeIsEmptiedButItsDesktopIni) {
    const fs::path volume = m_root / "volume";
    const fs::path bin7 = volume / "$Recycle.Bin" / "S-1-5-21-1-2-3-1001";
    const fs::path binXp = volume / "recycler" / "S-1-5-21-1-2-3-500";
    Touch(bin7 / "$RAB12CD.txt");
    Touch(bin7 / "$IAB12CD.txt");
    Touch(bin7 / "$R0X1Y2Z" / "nested" / "file.dat");
    Touch(bin7 / "desktop.ini");
    Touch(binXp / "INFO2");
    Touch(binXp / "Dc1.txt");
    Touch(binXp / "Desktop.ini");
    Touch(volume / "Users" / "other" / "keep.txt");
    Touch(m_root / "home" / "outside.txt");
    fs::create_directory_symlink(m_root / "home", volume / "$Recycle.Bin" / "S-1-5-21-1-2-3-1002");

    EXPECT_EQ(EmptyVolumeRecycleBins(volume.string()), S_OK);

    EXPECT_EQ(std::distance(fs::directory_iterator(bin7), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(bin7 / "desktop.ini"));
    EXPECT_EQ(std::distance(fs::directory_iterator(binXp), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(binXp / "Desktop.ini"));
    EXPECT_TRUE(fs::exists(volume / "Users" / "other" / "keep.txt"));
    EXPECT_TRUE(fs::exists(m_root / "home" / "outside.txt"));
}
