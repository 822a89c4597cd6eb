// Dirty hives and their transaction logs: the replay against Windows' own recoveries, the real
// dirty hives read as recovered, damaged logs refused, and the write-back that leaves Windows
// nothing stale to replay.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/registry/hive_log.h"
#include "platform/registry/hive_store.h"
#include "platform/text/text.h"
#include "tests/platform_registry/hive_util.h"

namespace Branwick::Platform {
namespace {

namespace fs = std::filesystem;
using Reg::CBytes;
using Reg::CHiveLog;
using RegTest::ReadAll;

const std::string kYarp = std::string(CORVANE_FIXTURES_DIR) + "/hives/yarp/";

#define SKIP_WITHOUT_YARP()                                          \
    if (!fs::exists(kYarp)) {                                        \
        GTEST_SKIP() << "log test hives not found in " << kYarp;     \
    }

CBytes Bytes(const std::string& path) {
    const std::string s = ReadAll(path);
    return CBytes(s.begin(), s.end());
}

void Decompress(const fs::path& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    if (from.extension() == ".xz") {
        ASSERT_EQ(std::system(("xz -dc '" + from.string() + "' > '" + to + "'").c_str()), 0);
    } else {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    }
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

// A case of hives/yarp decompressed into dir under its own names; returns the primary's path.
std::string YarpCase(const std::string& strCase, const std::string& dir) {
    std::string primary;
    for (const auto& entry : fs::directory_iterator(kYarp + strCase)) {
        std::string name = entry.path().filename();
        if (name.ends_with(".xz")) {
            name.resize(name.size() - 3);
        }
        Decompress(entry.path(), dir + "/" + name);
        if (name.find('.') == std::string::npos && name.find("Recovered") == std::string::npos) {
            primary = dir + "/" + name;
        }
    }
    return primary;
}

// A fixture hive of hives/ and its logs, as to, to.LOG1 and to.LOG2.
void HiveWithLogs(const std::string& name, const std::string& to) {
    Decompress(CORVANE_FIXTURES_DIR "/hives/" + name + ".xz", to);
    for (const auto& entry : fs::directory_iterator(CORVANE_FIXTURES_DIR "/hives")) {
        const std::wstring file = FromUtf8(entry.path().filename().string());
        for (const wchar_t* log : {L".LOG1", L".LOG2"}) {
            if (EqualNoCase(file, FromUtf8(name) + log + L".xz")) {
                Decompress(entry.path(), to + ToUtf8(log));
            }
        }
    }
}

Reg::CReplay Replay(const std::string& primary, std::vector<std::string> logs) {
    std::vector<CHiveLog> in;
    for (const std::string& log : logs) {
        in.push_back({FromUtf8(fs::path(log).filename().string()), Bytes(log)});
    }
    return Reg::ReplayHiveLogs(Bytes(primary), in);
}

// Every file below dir with its bytes, to show that nothing was written.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            out[entry.path()] = ReadAll(entry.path());
        }
    }
    return out;
}

struct CLoaded {
    CStatus m_status;
    std::unique_ptr<Reg::CKeyNode> m_pRoot = std::make_unique<Reg::CKeyNode>(u"Root");
    std::vector<std::wstring> m_vWarnings;
};

CLoaded Load(const std::string& path) {
    CLoaded out;
    Reg::CHiveStore store(path, L"hive");
    out.m_pRoot->Set(Reg::kNodeMount, true);
    out.m_status = store.Load(out.m_pRoot.get(), &out.m_vWarnings);
    return out;
}

std::pair<std::size_t, std::size_t> Count(const Reg::CKeyNode& key) {
    std::pair<std::size_t, std::size_t> n{1, key.Values().size()};
    for (std::size_t i = 0; i < key.ChildCount(); ++i) {
        const auto sub = Count(*key.Child(i));
        n.first += sub.first;
        n.second += sub.second;
    }
    return n;
}

bool Has(const Reg::CKeyNode& root, std::initializer_list<const char16_t*> path) {
    const Reg::CKeyNode* node = &root;
    for (const char16_t* name : path) {
        node = node != nullptr ? node->FindChild(name) : nullptr;
    }
    return node != nullptr;
}

TEST(HiveLog, YarpVectorsReplayAsWindowsDid) {
    SKIP_WITHOUT_YARP();
    RegTest::CTempDir dir;
    const std::string one = YarpCase("NewDirtyHive1", dir.Path() + "/1");
    const Reg::CReplay first = Replay(one, {one + ".LOG1", one + ".LOG2"});
    ASSERT_TRUE(first.m_bRecovered) << ToUtf8(first.m_strWhyNot);
    EXPECT_EQ(first.m_nEntries, 4u);
    const CBytes windows = Bytes(dir.Path() + "/1/RecoveredHive_Windows10");
    ASSERT_EQ(first.m_vHive.size(), windows.size());
    EXPECT_TRUE(std::equal(first.m_vHive.begin() + 4096, first.m_vHive.end(),
                           windows.begin() + 4096))
        << "everything after the base block is what Windows 10 made of it";
    const auto seq = std::make_pair(first.m_vHive[4], first.m_vHive[8]);
    EXPECT_EQ(seq, std::make_pair(std::uint8_t{5}, std::uint8_t{5}));

    // The same logs over a primary one step further: LOG1's entry is history.
    const std::string two = YarpCase("NewDirtyHive2", dir.Path() + "/2");
    const Reg::CReplay second = Replay(two, {two + ".LOG1", two + ".LOG2"});
    ASSERT_TRUE(second.m_bRecovered);
    EXPECT_EQ(second.m_nEntries, 3u);
    EXPECT_EQ(second.m_dwLastApplied, 5u);
    EXPECT_EQ(ToUtf8(second.m_strApplied),
              "3 log entries (sequence 3 to 5) from NewDirtyHive.LOG2");

    for (const char* bad : {"BadLogHive1", "BadLogHive2", "BadLogHive3"}) {
        SCOPED_TRACE(bad);
        const std::string hive = YarpCase(bad, dir.Path() + "/" + bad);
        const Reg::CReplay replay = Replay(hive, {hive + ".LOG1", hive + ".LOG2"});
        EXPECT_FALSE(replay.m_bRecovered);
        EXPECT_TRUE(replay.m_vHive.empty());
        EXPECT_NE(replay.m_strWhyNot.find(L"BadLogHive.LOG1: "), std::wstring::npos)
            << ToUtf8(replay.m_strWhyNot);
    }
}

TEST(HiveLog, ReplayStopsAtTheFirstBadEntry) {
    SKIP_WITHOUT_YARP();
    RegTest::CTempDir dir;
    const std::string hive = YarpCase("NewDirtyHive1", dir.Path());
    const CBytes primary = Bytes(hive);
    const CHiveLog log1{L"LOG1", Bytes(hive + ".LOG1")};
    const CBytes log2 = Bytes(hive + ".LOG2");
    // LOG2 holds entries 3, 4, 5 back to back from offset 512.
    const auto entrySize = [&log2](std::size_t off) {
        return log2[off + 4] | (log2[off + 5] << 8) | (log2[off + 6] << 16);
    };
    const std::size_t second = 512 + entrySize(512);
    const std::size_t third = second + entrySize(second);
    ASSERT_LT(third, log2.size());

    CBytes flipped = log2;
    flipped[second + 100] ^= 1;  // a page byte: the entry's first hash no longer holds
    Reg::CReplay replay = Reg::ReplayHiveLogs(primary, {log1, {L"LOG2", flipped}});
    ASSERT_TRUE(replay.m_bRecovered);
    EXPECT_EQ(replay.m_dwLastApplied, 3u) << "entries 2 and 3 only";

    CBytes renumbered = log2;
    renumbered[third + 12] = 9;  // entry 5 claims to be 9: a gap after 4
    replay = Reg::ReplayHiveLogs(primary, {log1, {L"LOG2", renumbered}});
    EXPECT_EQ(replay.m_dwLastApplied, 4u);

    CBytes cut(log2.begin(), log2.begin() + static_cast<std::ptrdiff_t>(third + 512));
    replay = Reg::ReplayHiveLogs(primary, {log1, {L"LOG2", cut}});
    EXPECT_EQ(replay.m_dwLastApplied, 4u) << "a torn last entry is not applied";

    // Without its first entry the chain cannot start where the log says it does.
    CBytes headless = log2;
    headless[512] = 'X';
    replay = Reg::ReplayHiveLogs(primary, {{L"LOG2", headless}});
    EXPECT_FALSE(replay.m_bRecovered);
    EXPECT_EQ(Reg::ReplayHiveLogs(CBytes(100, 0), {log1}).m_bRecovered, false);
}

TEST(HiveLog, DirtyHivesLoadAsRecoveredWithoutWritingAnything) {
    SKIP_WITHOUT_YARP();
    RegTest::CTempDir dir;
    const std::string one = YarpCase("NewDirtyHive1", dir.Path() + "/new");
    const std::string old = YarpCase("OldDirtyHive", dir.Path() + "/old");
    const std::string bad = YarpCase("BadBaseBlockHive", dir.Path() + "/badbase");
    const auto before = Snapshot(dir.Path());

    CLoaded loaded = Load(one);
    ASSERT_TRUE(loaded.m_status.Ok()) << ToUtf8(loaded.m_status.m_strText);
    EXPECT_FALSE(Has(*loaded.m_pRoot, {u"Key1"}));
    EXPECT_FALSE(Has(*loaded.m_pRoot, {u"Key2", u"Key2_1"}));
    EXPECT_TRUE(Has(*loaded.m_pRoot, {u"Key3", u"Key3_1"}));
    ASSERT_EQ(loaded.m_vWarnings.size(), 1u);
    EXPECT_NE(loaded.m_vWarnings[0].find(L"were read from its logs: 1 log entry"),
              std::wstring::npos)
        << ToUtf8(loaded.m_vWarnings[0]);

    loaded = Load(old);
    ASSERT_TRUE(loaded.m_status.Ok()) << ToUtf8(loaded.m_status.m_strText);
    EXPECT_TRUE(Has(*loaded.m_pRoot, {u"key_with_many_subkeys", u"5000", u"find_me_in_log"}));
    EXPECT_FALSE(Has(*loaded.m_pRoot, {u"key_with_many_subkeys", u"1"}));

    loaded = Load(bad);
    ASSERT_TRUE(loaded.m_status.Ok()) << ToUtf8(loaded.m_status.m_strText);
    EXPECT_TRUE(Has(*loaded.m_pRoot, {u"key_with_many_subkeys"}));

    EXPECT_TRUE(Snapshot(dir.Path()) == before) << "reading wrote nothing";
}

TEST(HiveLog, RealDirtyHivesGainWhatOnlyTheirLogsHeld) {
    SKIP_WITHOUT_FIXTURES();
    // The dirty file alone, then what the replay adds where Windows' data are known; the rest
    // at least whole and readable.
    const struct {
        const char* m_pName;
        std::size_t m_nKeys, m_nValues, m_nMoreKeys, m_nMoreValues;
    } hives[] = {
        {"regipy__SYSTEM_B", 33123, 74957, 2472, 3944},
        // Its logs hold what the file already has, but for 11 bytes of the last entry.
        {"museum__Win10_NTUSER.DAT", 3182, 5072, 0, 0},
        {"regipy__transactions_NTUSER.DAT", 2590, 4119, 0, 0},
        {"museum__Win10_UsrClass.dat", 6374, 12914, 0, 0},
        {"regipy__UsrClass.dat", 6205, 12369, 0, 0},
    };
    RegTest::CTempDir dir;
    for (const auto& hive : hives) {
        SCOPED_TRACE(hive.m_pName);
        const std::string path = dir.Path() + "/" + hive.m_pName;
        HiveWithLogs(hive.m_pName, path);
        CLoaded loaded = Load(path);
        ASSERT_TRUE(loaded.m_status.Ok()) << ToUtf8(loaded.m_status.m_strText);
        const auto counts = Count(*loaded.m_pRoot);
        if (hive.m_nMoreKeys > 0) {
            EXPECT_EQ(counts.first, hive.m_nKeys + hive.m_nMoreKeys);
        } else {
            EXPECT_GE(counts.first, hive.m_nKeys);
        }
        if (hive.m_nMoreValues > 0) {
            EXPECT_EQ(counts.second, hive.m_nValues + hive.m_nMoreValues);
        }
        EXPECT_TRUE(loaded.m_vWarnings.size() == 1 &&
                    loaded.m_vWarnings[0].find(L"read from its logs") != std::wstring::npos);
        std::printf("%s: %zu keys, %zu values after the replay\n", hive.m_pName, counts.first,
                    counts.second);
    }
}

// A volume whose user hive is the museum's dirty NTUSER.DAT with its logs.
struct CDirtyVolume {
    RegTest::CTempDir m_dir;
    std::string m_strNtUser;
    std::string m_strKeep;
    std::map<std::string, std::string> m_before;

    CDirtyVolume() {
        RegTest::BuildVolume(m_dir.Path(), {.m_strSoftware = "aiowinreg_nt4__software.reg",
                                            .m_strSystem = "aiowinreg_nt4__system.reg",
                                            .m_strDefault = "",
                                            .m_strNtUser = "",
                                            .m_strUsrClass = ""});
        m_strNtUser = m_dir.Path() + "/Users/Alice/NTUSER.DAT";
        fs::remove(m_dir.Path() + "/Users/Alice/ntuser.dat.LOG1");
        HiveWithLogs("museum__Win10_NTUSER.DAT", m_strNtUser);
        m_strKeep = m_dir.Path() + "/kept";
        m_before = Snapshot(m_dir.Path() + "/Users");
    }
    std::uint32_t HighestLogSequence() const {
        return Replay(m_strNtUser, {m_strNtUser + ".LOG1", m_strNtUser + ".LOG2"})
            .m_dwHighestSequence;
    }
};

TEST(HiveLog, FixWritesTheRecoveredHiveBackWithOriginalsKept) {
    SKIP_WITHOUT_FIXTURES();
    CDirtyVolume volume;
    const std::uint32_t highest = volume.HighestLogSequence();
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenOfflineVolume(volume.m_dir.Path(), L"Alice", &reg).Ok());
    const std::vector<std::wstring> keys = RegTest::SubKeys(reg, HKEY_CURRENT_USER, L"Software");
    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L"Control Panel\\Desktop"), ERROR_SUCCESS);

    // Only an operation that keeps the originals may write it back.
    const CStatus plain = reg.Flush();
    EXPECT_EQ(plain.m_lCode, ERROR_CANTWRITE);
    EXPECT_NE(plain.m_strText.find(L"recovered from its logs"), std::wstring::npos);
    EXPECT_TRUE(Snapshot(volume.m_dir.Path() + "/Users") == volume.m_before);

    const CStatus status = reg.Flush(volume.m_strKeep);
    ASSERT_TRUE(status.Ok()) << ToUtf8(status.m_strText);
    const auto seq = RegTest::Sequences(volume.m_strNtUser);
    EXPECT_EQ(seq.first, seq.second);
    EXPECT_GT(seq.first, highest) << "above every number in either log";
    EXPECT_EQ(fs::file_size(volume.m_strNtUser + ".LOG1"), 0u);
    EXPECT_EQ(fs::file_size(volume.m_strNtUser + ".LOG2"), 0u);
    for (const char* name : {"NTUSER.DAT", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2"}) {
        EXPECT_EQ(ReadAll(volume.m_strKeep + "/" + name),
                  volume.m_before.at(volume.m_dir.Path() + "/Users/Alice/" + name))
            << name << " kept as it was";
    }

    CRegistry again;
    ASSERT_TRUE(CRegistry::OpenOfflineVolume(volume.m_dir.Path(), L"Alice", &again).Ok());
    EXPECT_EQ(RegTest::SubKeys(again, HKEY_CURRENT_USER, L"Software"), keys)
        << "the replayed keys are on disk now";
    CRegKey gone;
    EXPECT_EQ(again.OpenKey(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, &gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(again.LoadWarnings().empty()) << "the hive is clean";
}

TEST(HiveLog, UnusableLogsRefuseOnlyTheirOwnHiveAndSayWhy) {
    SKIP_WITHOUT_YARP();
    RegTest::CTempDir dir;
    RegTest::BuildVolume(dir.Path(), {.m_strDefault = "", .m_strUsrClass = ""});
    const std::string config = dir.Path() + "/WINDOWS/system32/Config";
    fs::remove(config + "/system");
    const std::string bad = YarpCase("BadLogHive1", config);
    fs::rename(bad, config + "/system");
    fs::rename(bad + ".LOG1", config + "/system.LOG1");
    fs::rename(bad + ".LOG2", config + "/SYSTEM.LOG2");
    const auto before = Snapshot(dir.Path());

    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenOfflineVolume(dir.Path(), L"Alice", &reg).Ok());
    EXPECT_TRUE(reg.CheckWritable().Ok()) << "one dirty hive does not block the others";
    const CStatus refused = reg.CheckWritable(HKEY_LOCAL_MACHINE, L"System\\key_with_many_subkeys");
    EXPECT_EQ(refused.m_lCode, ERROR_CANTWRITE);
    EXPECT_NE(refused.m_strText.find(L"system.LOG1: its base block is damaged"), std::wstring::npos)
        << ToUtf8(refused.m_strText);
    EXPECT_NE(refused.m_strText.find(L"SYSTEM.LOG2: it is empty"), std::wstring::npos);

    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"System\\key_with_many_subkeys"), 0);
    EXPECT_EQ(reg.Flush(dir.Path() + "/kept").m_lCode, ERROR_CANTWRITE);
    EXPECT_TRUE(Snapshot(dir.Path()) == before) << "nothing written, nothing kept";
    ASSERT_TRUE(reg.Reload().Ok());

    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft"), 0);
    const CStatus user = reg.Flush();
    EXPECT_TRUE(user.Ok()) << ToUtf8(user.m_strText);
}

TEST(HiveLog, APipeInPlaceOfAHiveOrALogIsAnErrorNotAHang) {
    SKIP_WITHOUT_FIXTURES();
    CDirtyVolume volume;
    fs::remove(volume.m_strNtUser + ".LOG2");
    ASSERT_EQ(mkfifo((volume.m_strNtUser + ".LOG2").c_str(), 0600), 0);
    CRegistry reg;
    ASSERT_TRUE(CRegistry::OpenOfflineVolume(volume.m_dir.Path(), L"Alice", &reg).Ok());
    const CStatus refused = reg.CheckWritable(HKEY_CURRENT_USER, L"Software");
    EXPECT_NE(refused.m_strText.find(L"its log NTUSER.DAT.LOG2 cannot be read"), std::wstring::npos)
        << ToUtf8(refused.m_strText);

    fs::remove(volume.m_strNtUser);
    ASSERT_EQ(mkfifo(volume.m_strNtUser.c_str(), 0600), 0);
    const CStatus status = CRegistry::OpenOfflineVolume(volume.m_dir.Path(), L"Alice", &reg);
    EXPECT_EQ(status.m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_NE(status.m_strText.find(L"is not a regular file"), std::wstring::npos)
        << ToUtf8(status.m_strText);
}

// The write-back killed at random instants: each hive and log is whole, old or new.
TEST(HiveLog, KilledWriteBackLeavesEachFileOldOrNew) {
    SKIP_WITHOUT_FIXTURES();
    CDirtyVolume volume;
    const std::string log1 = volume.m_strNtUser + ".LOG1";
    const std::string log2 = volume.m_strNtUser + ".LOG2";
    const std::map<std::string, std::string> original = {
        {volume.m_strNtUser, ReadAll(volume.m_strNtUser)},
        {log1, ReadAll(log1)},
        {log2, ReadAll(log2)}};
    std::mt19937 random(23);
    int completed = 0;
    // The first round runs to its end and times the kill window of the others.
    long window = 0;
    for (int round = 0; round < 13; ++round) {
        for (const auto& [path, bytes] : original) {
            RegTest::Touch(path, bytes);
        }
        fs::remove_all(volume.m_strKeep);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CRegistry reg;
            CRegistry::OpenOfflineVolume(volume.m_dir.Path(), L"Alice", &reg);
            std::vector<std::wstring> applied;
            _exit(reg.WriteBackRecovered(volume.m_strKeep, &applied).Ok() ? 0 : 1);
        }
        const auto start = std::chrono::steady_clock::now();
        if (round > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % window));
            kill(child, SIGKILL);
        }
        int wstatus = 0;
        waitpid(child, &wstatus, 0);
        const bool done = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
        if (round == 0) {
            ASSERT_TRUE(done);
            window = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now() - start).count() + 1;
        } else {
            completed += done;
        }

        const std::string hive = ReadAll(volume.m_strNtUser);
        const bool old = hive == original.at(volume.m_strNtUser);
        if (!old) {
            const auto seq = RegTest::Sequences(volume.m_strNtUser);
            EXPECT_EQ(seq.first, seq.second) << "round " << round;
            EXPECT_FALSE(RegTest::DumpHive(volume.m_strNtUser).empty());
        }
        for (const std::string& log : {log1, log2}) {
            const std::string now = ReadAll(log);
            EXPECT_TRUE(now == original.at(log) || (now.empty() && !old))
                << log << " is old, or empty once the hive is new (round " << round << ")";
        }
    }
    std::printf("%d of 12 write-backs completed before the kill\n", completed);
}

}  // namespace
}  // namespace Branwick::Platform
