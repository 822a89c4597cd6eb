// A file a fix removes goes into its backup whole, in one place or the other at every instant:
// renamed on one file system, copied before the original goes across two, never over a file that
// is there, and never lost when the fix is killed half-way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "core/FileMove.h"
#include "core/RegError.h"
#include "tests/core/target_fixture.h"

namespace Branwick::Test {
namespace {

namespace fs = std::filesystem;
using CorvaneTest::ReadAll;
using CorvaneTest::Touch;

class FileMoveTest : public CTargetTest {
protected:
    fs::path Host(const std::string& strRelative) const { return m_root / "drive_c" / strRelative; }
    Platform::CFileSystem& Files() const { return m_pTarget->Files(); }
};

TEST_F(FileMoveTest, AFileMovesWholeAndNeverOverAnother) {
    Touch(Host("Temp/a.tmp"), std::string("a\0b", 3));
    Touch(Host("Backup/taken"), "taken");
    ASSERT_TRUE(MoveFileKeepingIt(Files(), L"C:\\Temp\\a.tmp", L"C:\\Backup\\1-a.tmp").Ok());
    EXPECT_FALSE(fs::exists(Host("Temp/a.tmp")));
    EXPECT_EQ(ReadAll(Host("Backup/1-a.tmp")), std::string("a\0b", 3));

    Touch(Host("Temp/b.tmp"), "b");
    EXPECT_EQ(MoveFileKeepingIt(Files(), L"C:\\Temp\\b.tmp", L"C:\\Backup\\taken").m_lCode,
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadAll(Host("Temp/b.tmp")), "b");
    EXPECT_EQ(ReadAll(Host("Backup/taken")), "taken");
}

// Drive D: on another file system than C:, where a rename cannot go.
TEST_F(FileMoveTest, AcrossFileSystemsTheFileIsCopiedBeforeTheOriginalGoes) {
    if (!fs::is_directory("/dev/shm") || fs::space("/dev/shm").capacity == 0) {
        GTEST_SKIP() << "/dev/shm, a second file system, is absent";
    }
    CorvaneTest::CTempFolder other("corvane-shm");
    const fs::path shm = fs::path("/dev/shm") / other.Path().filename();
    fs::create_directories(shm);
    Platform::CDriveMap map;
    map.m_mapDrives = {{L'C', (m_root / "drive_c").string()}, {L'D', shm.string()}};
    map.m_vcOwnRoots = {(m_root / "drive_c").string(), shm.string()};
    Platform::CFileSystem files(map);
    std::string strBig(300000, 'x');
    strBig[12345] = '\0';
    Touch(shm / "Temp" / "big.log", strBig);
    Touch(Host("Backup/.keep"));

    const CStatus status = MoveFileKeepingIt(files, L"D:\\Temp\\big.log", L"C:\\Backup\\1-big.log");
    EXPECT_TRUE(status.Ok()) << WideToUtf8(status.m_strText);
    EXPECT_FALSE(fs::exists(shm / "Temp" / "big.log"));
    EXPECT_EQ(ReadAll(Host("Backup/1-big.log")), strBig);
    fs::remove_all(shm);
}

// A child moves files into the backup as a fix does and is killed at a random instant of it (the
// first round, not killed, measures how long the whole fix takes): every file is then in its place
// or in the backup, whole.
TEST_F(FileMoveTest, AKilledFixLosesNoFile) {
    constexpr int kFiles = 50;
    constexpr int kRounds = 16;
    std::mt19937 random(2026);
    double dFixMicros = 0;
    int nKilled = 0;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        fs::remove_all(Host("Temp"));
        fs::remove_all(Host("Backup"));
        fs::create_directories(Host("Backup"));
        std::vector<CRegError> records;
        for (int i = 0; i < kFiles; ++i) {
            const std::string strName = "f" + std::to_string(i) + ".tmp";
            Touch(Host("Temp/" + strName), "content " + std::to_string(i));
            records.emplace_back(JUNK_FILES, HKEY{}, L"C:\\Temp\\" + Utf8ToWide(strName), L"",
                                 KEY_WOW64_32KEY, true);
            records.back().m_strBackupPath = L"C:\\Backup\\" + Utf8ToWide(strName);
        }
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (CRegError& record : records) {
                Fix(record);
            }
            _exit(0);
        }
        int status = 0;
        if (nRound == 0) {
            waitpid(child, &status, 0);
            dFixMicros =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(
                std::uniform_int_distribution<int>(0, static_cast<int>(dFixMicros))(random)));
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            nKilled += WIFSIGNALED(status) ? 1 : 0;
        }
        int nMoved = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string strName = "f" + std::to_string(i) + ".tmp";
            const bool bHere = fs::exists(Host("Temp/" + strName));
            const bool bKept = fs::exists(Host("Backup/" + strName));
            ASSERT_TRUE(bHere != bKept) << strName << " in round " << nRound;
            EXPECT_EQ(ReadAll(Host((bHere ? "Temp/" : "Backup/") + strName)),
                      "content " + std::to_string(i));
            nMoved += bKept ? 1 : 0;
        }
        EXPECT_TRUE(nRound != 0 || nMoved == kFiles) << "the whole fix moves every file";
    }
    std::printf("rounds killed before the fix ended: %d of %d\n", nKilled, kRounds - 1);
}

}  // namespace
}  // namespace Branwick::Test
