#include "platform/files/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

using CorvaneTest::Touch;

std::vector<std::wstring> Names(const std::vector<CFindData>& v) {
    std::vector<std::wstring> out;
    for (const auto& fd : v) {
        out.push_back(fd.m_strName);
    }
    return out;
}

// A Wine-like prefix in a temp folder: dosdevices c: and z:, a user whose Desktop is a link into a
// "home" folder outside the prefix.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_prefix = m_root / "prefix";
        m_home = m_root / "home";
        m_c = m_prefix / "drive_c";
        fs::create_directories(m_prefix / "dosdevices");
        fs::create_directories(m_c / "windows" / "system32");
        fs::create_directories(m_home);
        fs::create_symlink("../drive_c", m_prefix / "dosdevices" / "c:");
        fs::create_symlink("/", m_prefix / "dosdevices" / "z:");
        fs::create_symlink("/dev/null", m_prefix / "dosdevices" / "c::");
        fs::create_directories(m_c / "users" / "u");
        fs::create_symlink(m_home, m_c / "users" / "u" / "Desktop");
        Touch(m_home / "Mine.lnk", "home");
        m_fs = std::make_unique<CFileSystem>(WineDriveMap(m_prefix.string()));
    }
    void TearDown() override { fs::permissions(m_root, fs::perms::all, fs::perm_options::add); }
    std::wstring Z(const fs::path& p) const {  // the z: spelling of a host path
        std::wstring s = L"Z:" + p.wstring();
        std::replace(s.begin(), s.end(), L'/', L'\\');
        return s;
    }

    CorvaneTest::CTempFolder m_temp{"corvane-files"};
    const fs::path m_root = m_temp.Path();
    fs::path m_prefix, m_home, m_c;
    std::unique_ptr<CFileSystem> m_fs;
};

}  // namespace

TEST_F(FilesTest, DriveMapOfAWinePrefix) {
    const CDriveMap map = WineDriveMap(m_prefix.string());
    EXPECT_EQ(map.m_mapDrives.size(), 2u);  // "c::" is a device entry, not a drive
    EXPECT_TRUE(map.m_mapDrives.count(L'C') && map.m_mapDrives.count(L'Z'));
    ASSERT_EQ(map.m_vcOwnRoots.size(), 1u);  // drive_c lies inside the prefix already
    EXPECT_EQ(map.m_vcOwnRoots[0], m_prefix.string());

    // A drive C moved out of the prefix is still the target's own for writing; a fix deletes there
    // only once the user names it (it may be someone's thesis folder); z: and a folder that holds
    // the prefix are never allowed.
    const fs::path other = m_root / "other";
    fs::create_directories(other / "dosdevices");
    fs::create_symlink(m_root / "moved_c", other / "dosdevices" / "c:");
    fs::create_symlink("/", other / "dosdevices" / "z:");
    fs::create_symlink(m_root, other / "dosdevices" / "d:");
    Touch(m_root / "moved_c" / "junk.tmp");
    Touch(other / "drive_x" / "inside.tmp");
    CFileSystem moved(WineDriveMap(other.string()));
    EXPECT_EQ(moved.DriveMap().m_vcOwnRoots.size(), 2u);
    EXPECT_EQ(moved.CheckFixDelete(L"C:\\junk.tmp").m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(moved.CheckFixDelete(Z(other / "drive_x" / "inside.tmp")).Ok());
    EXPECT_FALSE(moved.AllowDrive(L'Z'));
    EXPECT_FALSE(moved.AllowDrive(L'D'));
    EXPECT_FALSE(moved.AllowDrive(L'Q'));
    EXPECT_TRUE(moved.AllowDrive(L'C'));
    EXPECT_TRUE(moved.CheckFixDelete(L"C:\\junk.tmp").Ok());
    EXPECT_TRUE(moved.DeleteFile(L"C:\\junk.tmp").Ok());
}

TEST_F(FilesTest, NamesResolveCaseInsensitivelyThroughSeveralLevels) {
    Touch(m_c / "Program Files" / "Vendor App" / "Bin" / "Tool.EXE");
    const std::wstring path = L"c:\\PROGRAM FILES\\vendor app\\BIN\\tool.exe";
    EXPECT_TRUE(m_fs->Exists(path));
    {
        CScanCache scan(*m_fs);
        EXPECT_TRUE(m_fs->Exists(path));
        EXPECT_TRUE(m_fs->Exists(L"C:/program files/VENDOR APP/bin/TOOL.exe"));
        EXPECT_FALSE(m_fs->Exists(L"C:\\Program Files\\Vendor App\\Bin\\Tool.dll"));
        EXPECT_FALSE(m_fs->Exists(L"C:\\Program Files\\Vendor\\Bin\\Tool.EXE"));
    }
    LONG nError = 0;
    EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\program files\\nope\\x", &nError), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(nError, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\program files\\x", &nError), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(nError, ERROR_FILE_NOT_FOUND);

    std::vector<CFindData> found;
    ASSERT_TRUE(m_fs->FindFiles(path, found).Ok());
    EXPECT_EQ(Names(found), std::vector<std::wstring>{L"Tool.EXE"});  // the folder's own spelling
}

TEST_F(FilesTest, AnExactSpellingWinsOverAnotherCase) {
    Touch(m_c / "d" / "a.txt");
    Touch(m_c / "d" / "A.TXT");
    chmod((m_c / "d" / "a.txt").c_str(), 0444);
    for (bool bCache : {false, true}) {
        if (bCache) {
            m_fs->BeginScan();
        }
        EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\d\\a.txt"), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\d\\A.TXT"), FILE_ATTRIBUTE_NORMAL);
        if (bCache) {
            m_fs->EndScan();
        }
    }
}

TEST_F(FilesTest, PathsAreNormalisedAsWin32Does) {
    Touch(m_c / "windows" / "win.ini");
    EXPECT_TRUE(m_fs->Exists(L"C:\\..\\..\\windows\\.\\win.ini"));  // ".." stops at the root
    EXPECT_TRUE(m_fs->Exists(L"C:\\windows\\\\win.ini. . "));        // trailing dots and spaces
    EXPECT_TRUE(m_fs->Exists(L"\\windows\\win.ini"));                 // the system drive
    EXPECT_FALSE(m_fs->Exists(L"windows\\win.ini"));                  // no current folder
    EXPECT_FALSE(m_fs->Exists(L"C:\\windows\\"));                     // FindFirstFileW with a trailing '\'
    EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\windows\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(m_fs->Exists(L"C:\\"));
    EXPECT_FALSE(m_fs->Exists(L"Q:\\windows"));  // no such drive

    LONG nError = 0;
    m_fs->GetFileAttributes(L"C:\\win<dows\\win.ini", &nError);
    EXPECT_EQ(nError, ERROR_INVALID_NAME);
    m_fs->GetFileAttributes(L"C:\\win*\\win.ini", &nError);
    EXPECT_EQ(nError, ERROR_INVALID_NAME);
    m_fs->GetFileAttributes(std::wstring(L"C:\\windows\\w\0n.ini", 18), &nError);
    EXPECT_EQ(nError, ERROR_INVALID_NAME);
}

TEST_F(FilesTest, UncAndDevicePathsAreNotFound) {
    Touch(m_c / "windows" / "win.ini");
    for (const wchar_t* p : {L"\\\\?\\C:\\windows\\win.ini", L"\\\\server\\share\\win.ini",
                             L"\\\\.\\C:\\windows\\win.ini", L"\\??\\C:\\windows\\win.ini", L"//?/C:/windows/win.ini"}) {
        LONG nError = 0;
        EXPECT_EQ(m_fs->GetFileAttributes(p, &nError), INVALID_FILE_ATTRIBUTES) << p;
        EXPECT_EQ(nError, ERROR_PATH_NOT_FOUND) << p;
        EXPECT_FALSE(m_fs->Exists(p)) << p;
        EXPECT_EQ(m_fs->DeleteFile(p).m_lCode, ERROR_PATH_NOT_FOUND) << p;
    }
    EXPECT_TRUE(fs::exists(m_c / "windows" / "win.ini"));
}

TEST_F(FilesTest, EnumerationListsDotEntriesFirstThenNamesInOrder) {
    Touch(m_c / "t" / "b.LOG");
    Touch(m_c / "t" / "a.tmp");
    Touch(m_c / "t" / "C.txt");
    Touch(m_c / "t" / "noext");
    Touch(m_c / "t" / "x.tmp.txt");
    fs::create_directories(m_c / "t" / "Sub");

    std::vector<CFindData> found;
    ASSERT_TRUE(m_fs->FindFiles(L"C:\\T\\*.*", found).Ok());
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L".", L"..", L"a.tmp", L"b.LOG", L"C.txt", L"noext",
                                                       L"Sub", L"x.tmp.txt"}));
    EXPECT_EQ(found[0].m_dwAttributes, FILE_ATTRIBUTE_DIRECTORY);

    ASSERT_TRUE(m_fs->FindFiles(L"C:\\t\\*.log", found).Ok());
    EXPECT_EQ(Names(found), std::vector<std::wstring>{L"b.LOG"});
    ASSERT_TRUE(m_fs->FindFiles(L"C:\\t\\?.t*", found).Ok());
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L"a.tmp", L"C.txt", L"x.tmp.txt"}));
    ASSERT_TRUE(m_fs->FindFiles(L"C:\\t\\noext.*", found).Ok());
    EXPECT_EQ(Names(found), std::vector<std::wstring>{L"noext"});

    EXPECT_EQ(m_fs->FindFiles(L"C:\\t\\*.bak", found).m_lCode, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(m_fs->FindFiles(L"C:\\missing\\*", found).m_lCode, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(m_fs->FindFiles(L"C:\\t\\", found).m_lCode, ERROR_FILE_NOT_FOUND);

    // A drive root has no "." and "..".
    ASSERT_TRUE(m_fs->FindFiles(L"C:\\*", found).Ok());
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L"t", L"users", L"windows"}));
    EXPECT_TRUE(m_fs->Exists(L"C:\\t\\*.TMP"));
    EXPECT_TRUE(m_fs->Exists(L"C:\\t\\Sub\\*"));  // an empty folder still lists "."
}

TEST_F(FilesTest, TheAttributeWord) {
    Touch(m_c / "a" / "plain.txt", "12345");
    Touch(m_c / "a" / "ro.txt");
    chmod((m_c / "a" / "ro.txt").c_str(), 0444);
    Touch(m_c / "a" / ".hidden");
    fs::create_directories(m_c / "a" / "dir");
    fs::create_directories(m_c / "a" / "rodir");
    chmod((m_c / "a" / "rodir").c_str(), 0555);
    fs::create_symlink(m_home, m_c / "a" / "linkdir");
    fs::create_symlink("plain.txt", m_c / "a" / "linkfile");
    fs::create_symlink("gone", m_c / "a" / "dangling");

    std::vector<CFindData> found;
    ASSERT_TRUE(m_fs->FindFiles(L"C:\\a\\*", found).Ok());
    std::map<std::wstring, DWORD> attrs;
    for (const auto& fd : found) {
        attrs[fd.m_strName] = fd.m_dwAttributes;
    }
    EXPECT_EQ(attrs[L"plain.txt"], FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(attrs[L"ro.txt"], FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(attrs[L".hidden"], FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(attrs[L"dir"], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(attrs[L"rodir"], FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(attrs[L"linkdir"], FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(attrs[L"linkfile"], FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(attrs[L"dangling"], FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(found[2].m_nSize, 0u);  // ".hidden"
    EXPECT_EQ(m_fs->GetFileAttributes(L"C:\\users\\U\\desktop"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);

    CDriveMap map = WineDriveMap(m_prefix.string());
    map.m_bDotFilesHidden = false;  // an offline Windows volume shows dot-files as ordinary files
    EXPECT_EQ(CFileSystem(map).GetFileAttributes(L"C:\\a\\.hidden"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesTest, WritesOutsideTheTargetAreRefusedWithAReason) {
    Touch(m_root / "outside" / "victim.txt", "keep");
    const std::wstring victim = Z(m_root / "outside" / "victim.txt");
    ASSERT_TRUE(m_fs->Exists(victim));  // reading through z: is fine

    CStatus s = m_fs->DeleteFile(victim);
    EXPECT_EQ(s.m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_NE(s.m_strText.find(L"outside the target"), std::wstring::npos) << s.m_strText;
    EXPECT_EQ(m_fs->RemoveDirectory(Z(m_root / "outside")).m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->CreateDirectory(Z(m_root / "outside" / "new")).m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->WriteFile(victim, "x").m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->MoveFile(victim, L"C:\\stolen.txt", false).m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CorvaneTest::ReadAll(m_root / "outside" / "victim.txt"), "keep");
    EXPECT_FALSE(fs::exists(m_c / "stolen.txt"));

    // Through the Desktop link into the Linux home: refused, the file stays.
    s = m_fs->DeleteFile(L"C:\\users\\u\\Desktop\\Mine.lnk");
    EXPECT_EQ(s.m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_NE(s.m_strText.find(m_home.wstring()), std::wstring::npos) << s.m_strText;
    EXPECT_TRUE(fs::exists(m_home / "Mine.lnk"));

    // z: spelling a place inside the prefix is inside the target.
    Touch(m_c / "inside.txt");
    EXPECT_TRUE(m_fs->DeleteFile(Z(m_c / "inside.txt")).Ok());
    EXPECT_EQ(m_fs->RemoveDirectory(L"C:\\").m_lCode, ERROR_ACCESS_DENIED);
}

TEST_F(FilesTest, RemovingALinkLeavesWhatItPointsTo) {
    fs::create_symlink(m_home / "Mine.lnk", m_c / "users" / "u" / "filelink");
    EXPECT_EQ(m_fs->DeleteFile(L"C:\\users\\u\\Desktop").m_lCode,
              ERROR_ACCESS_DENIED);  // a folder link
    EXPECT_TRUE(m_fs->DeleteFile(L"C:\\users\\u\\FILELINK").Ok());
    EXPECT_TRUE(m_fs->RemoveDirectory(L"C:\\users\\u\\desktop").Ok());
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_c / "users" / "u" / "Desktop")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_c / "users" / "u" / "filelink")));
    EXPECT_EQ(CorvaneTest::ReadAll(m_home / "Mine.lnk"), "home");
}

TEST_F(FilesTest, DeleteRemoveCreateAndMoveFollowWin32) {
    Touch(m_c / "w" / "a.txt", "a");
    Touch(m_c / "w" / "b.txt", "b");
    Touch(m_c / "w" / "ro.txt", "r");
    chmod((m_c / "w" / "ro.txt").c_str(), 0444);

    EXPECT_EQ(m_fs->CreateDirectory(L"C:\\w\\New").m_lCode, ERROR_SUCCESS);
    EXPECT_EQ(m_fs->CreateDirectory(L"C:\\W\\NEW").m_lCode, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(m_fs->CreateDirectory(L"C:\\nope\\New").m_lCode, ERROR_PATH_NOT_FOUND);
    Touch(m_c / "w" / "New" / "f");
    EXPECT_EQ(m_fs->RemoveDirectory(L"C:\\w\\new").m_lCode, ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(m_fs->RemoveDirectory(L"C:\\w\\a.txt").m_lCode, ERROR_DIRECTORY);
    EXPECT_EQ(m_fs->DeleteFile(L"C:\\w\\new").m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->DeleteFile(L"C:\\w\\ro.txt").m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->DeleteFile(L"C:\\w\\missing").m_lCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(m_fs->DeleteFile(L"C:\\missing\\x").m_lCode, ERROR_PATH_NOT_FOUND);

    EXPECT_EQ(m_fs->MoveFile(L"C:\\w\\a.txt", L"C:\\w\\B.TXT", false).m_lCode,
              ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(m_fs->MoveFile(L"C:\\w\\a.txt", L"C:\\w\\B.TXT", true).Ok());
    EXPECT_EQ(CorvaneTest::ReadAll(m_c / "w" / "b.txt"), "a");  // replaced under its existing spelling
    EXPECT_FALSE(fs::exists(m_c / "w" / "a.txt"));
    EXPECT_TRUE(m_fs->MoveFile(L"C:\\w\\b.txt", L"C:\\w\\Renamed.TXT", false).Ok());
    EXPECT_TRUE(m_fs->MoveFile(L"C:\\w\\renamed.txt", L"C:\\w\\RENAMED.txt", false).Ok());  // case only
    EXPECT_TRUE(fs::exists(m_c / "w" / "RENAMED.txt"));
    EXPECT_EQ(m_fs->MoveFile(L"C:\\w\\RENAMED.txt", L"C:\\w\\New", true).m_lCode,
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->MoveFile(L"C:\\w\\missing", L"C:\\w\\x", true).m_lCode, ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, TheScanCacheKeepsListingsAndItsOwnWritesTrue) {
    Touch(m_c / "s" / "one.txt");
    m_fs->BeginScan();
    EXPECT_TRUE(m_fs->Exists(L"C:\\s\\ONE.txt"));
    Touch(m_c / "s" / "two.txt");  // behind the cache's back: unseen during the scan
    EXPECT_FALSE(m_fs->Exists(L"C:\\s\\two.txt"));
    EXPECT_TRUE(m_fs->DeleteFile(L"C:\\s\\one.txt").Ok());
    EXPECT_FALSE(m_fs->Exists(L"C:\\s\\one.txt"));
    EXPECT_TRUE(m_fs->Exists(L"C:\\s\\two.txt"));  // the folder was read again after the write
    EXPECT_TRUE(m_fs->CreateDirectory(L"C:\\s\\d").Ok());
    EXPECT_TRUE(m_fs->Exists(L"C:\\s\\D"));
    m_fs->BeginScan();  // nested
    m_fs->EndScan();
    Touch(m_c / "s" / "three.txt");
    EXPECT_FALSE(m_fs->Exists(L"C:\\s\\three.txt"));
    m_fs->EndScan();
    EXPECT_TRUE(m_fs->Exists(L"C:\\s\\three.txt"));
}

TEST_F(FilesTest, Wow64RedirectsSystem32OfA32BitProgram) {
    Touch(m_c / "windows" / "syswow64" / "only32.dll");
    Touch(m_c / "windows" / "system32" / "only64.dll");
    Touch(m_c / "windows" / "system32" / "drivers" / "etc" / "hosts");
    CDriveMap map = WineDriveMap(m_prefix.string());
    map.m_bWow64 = true;
    CFileSystem wow(map);
    EXPECT_TRUE(wow.Exists(L"C:\\Windows\\System32\\only32.dll"));
    EXPECT_FALSE(wow.Exists(L"C:\\Windows\\System32\\only64.dll"));
    EXPECT_TRUE(wow.Exists(L"C:\\Windows\\Sysnative\\only64.dll"));
    EXPECT_TRUE(wow.Exists(L"C:\\windows\\system32\\drivers\\etc\\hosts"));  // exempt
    {
        CWow64RedirectionOff off;
        EXPECT_FALSE(wow.Exists(L"C:\\Windows\\System32\\only32.dll"));
        EXPECT_TRUE(wow.Exists(L"C:\\Windows\\System32\\only64.dll"));
    }
    EXPECT_TRUE(m_fs->Exists(L"C:\\Windows\\System32\\only64.dll"));  // a 32-bit target: no redirection
    EXPECT_FALSE(m_fs->Exists(L"C:\\Windows\\System32\\only32.dll"));
}

TEST_F(FilesTest, WriteFileReplacesWholeFilesAndKeepsTheirMode) {
    EXPECT_TRUE(m_fs->WriteFile(L"C:\\Data.xml", "<a/>").Ok());
    EXPECT_EQ(CorvaneTest::ReadAll(m_c / "Data.xml"), "<a/>");
    chmod((m_c / "Data.xml").c_str(), 0640);
    EXPECT_TRUE(m_fs->WriteFile(L"C:\\DATA.XML", "<b/>").Ok());
    EXPECT_EQ(CorvaneTest::ReadAll(m_c / "Data.xml"), "<b/>");
    EXPECT_EQ(fs::status(m_c / "Data.xml").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    std::string back;
    EXPECT_TRUE(m_fs->ReadFile(L"c:\\data.xml", back).Ok());
    EXPECT_EQ(back, "<b/>");
    EXPECT_EQ(m_fs->ReadFile(L"c:\\windows", back).m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(m_fs->WriteFile(L"C:\\nope\\x.xml", "").m_lCode, ERROR_PATH_NOT_FOUND);
    int nFiles = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(m_c)) {
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 3);  // Data.xml, users, windows: no temp file left behind

    std::string host;
    EXPECT_TRUE(m_fs->HostPath(L"C:\\USERS\\u\\New File.txt", host).Ok());
    EXPECT_EQ(host, (m_prefix / "dosdevices" / "c:" / "users" / "u" / "New File.txt").string());
}

// A planted link in the target must neither carry a write out of it nor bring a file from
// elsewhere in: the program's own files are read and written through these calls.
TEST_F(FilesTest, LinkedFilesAreNotWrittenThroughNorReadFromOutside) {
    Touch(m_root / "outside" / "secret.txt", "keep");
    fs::create_symlink(m_root / "outside" / "secret.txt", m_c / "ignorelist.xml");
    CStatus s = m_fs->WriteFile(L"C:\\ignorelist.xml", "<IgnoreList/>");
    EXPECT_EQ(s.m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_NE(s.m_strText.find(L"symbolic link"), std::wstring::npos) << s.m_strText;
    std::string text;
    EXPECT_EQ(m_fs->ReadFile(L"C:\\ignorelist.xml", text).m_lCode, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(CorvaneTest::ReadAll(m_root / "outside" / "secret.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(m_c / "ignorelist.xml"));

    // A link that stays inside the target may be read; it is still not written through.
    Touch(m_c / "real.xml", "inside");
    fs::create_symlink(m_c / "real.xml", m_c / "settings.xml");
    EXPECT_TRUE(m_fs->ReadFile(L"C:\\settings.xml", text).Ok());
    EXPECT_EQ(text, "inside");
    EXPECT_EQ(m_fs->WriteFile(L"C:\\settings.xml", "x").m_lCode, ERROR_ACCESS_DENIED);
}

// Another user swaps a folder of the target with a link to elsewhere as fast as it can while we
// delete in that folder: every delete happens in the folder that was checked, or is refused.
TEST_F(FilesTest, AFolderSwappedForALinkNeverRedirectsADelete) {
    const fs::path temp = m_c / "users" / "u" / "Temp";
    const fs::path outside = m_root / "outside";
    Touch(outside / "settings.bak", "thesis");
    Touch(temp / "sub" / "settings.bak");
    fs::create_symlink(outside, temp / "swap");
    // The real folder keeps its identity under either name; the test refills it through a handle
    // so that it never writes through the racing names itself.
    const int fdSub = open((temp / "sub").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fdSub, 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (;;) {
            renameat2(AT_FDCWD, (temp / "sub").c_str(), AT_FDCWD, (temp / "swap").c_str(), RENAME_EXCHANGE);
        }
    }
    int nDeleted = 0;
    for (int round = 0; round < 1500 && fs::exists(outside / "settings.bak"); ++round) {
        if (m_fs->DeleteFile(L"C:\\users\\u\\Temp\\sub\\settings.bak").Ok()) {
            ++nDeleted;
        }
        close(openat(fdSub, "settings.bak", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(fdSub);
    EXPECT_EQ(CorvaneTest::ReadAll(outside / "settings.bak"), "thesis");
    EXPECT_GT(nDeleted, 0);  // the race did not simply refuse everything
}
