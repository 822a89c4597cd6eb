// Writing offline hives: exactly the intended change reaches the file, hivex can read it back,
// and whatever hivex cannot write faithfully is refused with the file untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tests/platform_registry/hive_util.h"

namespace Branwick::Platform {
namespace {

using RegTest::DumpHive;
using RegTest::ReadAll;
using RegTest::Sz;

constexpr wchar_t kStartPage[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage2";

struct CVolume {
    RegTest::CTempDir m_dir;
    std::string m_strConfig;
    std::string m_strNtUser;
    CRegistry m_reg;

    explicit CVolume(const RegTest::CVolumeLayout& layout = {}) {
        m_strConfig = RegTest::BuildVolume(m_dir.Path(), layout);
        m_strNtUser = m_dir.Path() + "/Users/Alice/NTUSER.DAT";
        const CStatus status = CRegistry::OpenOfflineVolume(m_dir.Path(), L"Alice", &m_reg);
        EXPECT_TRUE(status.Ok()) << ToUtf8(status.m_strText);
    }
    std::string System() const { return m_strConfig + "/system"; }
    std::string Software() const { return m_strConfig + "/SOFTWARE"; }
    std::vector<std::string> ConfigFiles() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(m_strConfig)) {
            out.push_back(entry.path().filename());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

// The line DumpHive writes for one value.
std::string ValueLine(const CRegistry& reg, HKEY root, const std::wstring& path,
                      const std::wstring& name) {
    CRegKey key;
    DWORD type = 0;
    CRegBytes data;
    EXPECT_EQ(reg.OpenKey(root, path, 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryValue(name, &type, &data), ERROR_SUCCESS);
    return ToUtf8(name) + '|' + std::to_string(type) + '|' + std::string(data.begin(), data.end()) +
           '\n';
}

void EraseValue(RegTest::CHiveDump* pDump, const std::string& key, const std::string& line) {
    std::string& values = (*pDump)[key];
    const std::size_t at = values.find(line);
    ASSERT_NE(at, std::string::npos);
    values.erase(at, line.size());
}

TEST(HiveWrite, DeleteAndCommitRemovesExactlyWhatWasDeleted) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume({.m_strSystem = "regipy__SYSTEM"});
    RegTest::CHiveDump system = DumpHive(volume.System());
    RegTest::CHiveDump software = DumpHive(volume.Software());
    RegTest::CHiveDump user = DumpHive(volume.m_strNtUser);
    const std::string defaultBytes = ReadAll(volume.m_strConfig + "/DEFAULT");
    const auto sequences = RegTest::Sequences(volume.System());
    const CRegistry& reg = volume.m_reg;

    // Through the CurrentControlSet link; below a parent with an ri index; a value beside a
    // 73 KB one in a format 1.3 hive, where hivex writes big values as Windows does.
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Tcpip"),
              ERROR_SUCCESS);
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE,
                             L"System\\ControlSet002\\Control\\CriticalDeviceDatabase\\*PNP0000"),
              ERROR_SUCCESS);
    const std::string currentUser =
        ValueLine(reg, HKEY_LOCAL_MACHINE, L"System\\ControlSet001\\Control", L"CurrentUser");
    CRegKey key;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control", 0, &key), 0);
    ASSERT_EQ(key.DeleteValue(L"currentuser"), ERROR_SUCCESS);
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer"), 0);
    const std::string tbp = ValueLine(reg, HKEY_CURRENT_USER, kStartPage, L"ProgramsCacheTBP");
    ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, kStartPage, 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.DeleteValue(L"ProgramsCacheTBP"), ERROR_SUCCESS);

    const CStatus status = reg.Flush();
    ASSERT_TRUE(status.Ok()) << ToUtf8(status.m_strText);
    EXPECT_FALSE(reg.IsDirty());

    RegTest::EraseTree(&system, "ControlSet001\\services\\Tcpip");
    RegTest::EraseTree(&system, "ControlSet002\\Control\\CriticalDeviceDatabase\\*pnp0000");
    EraseValue(&system, "ControlSet001\\Control", currentUser);
    RegTest::EraseTree(&software, "Microsoft\\Internet Explorer");
    EraseValue(&user, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage2", tbp);
    EXPECT_TRUE(DumpHive(volume.System()) == system);
    EXPECT_TRUE(DumpHive(volume.Software()) == software);
    EXPECT_TRUE(DumpHive(volume.m_strNtUser) == user);
    EXPECT_EQ(ReadAll(volume.m_strConfig + "/DEFAULT"), defaultBytes) << "unchanged, untouched";
    EXPECT_EQ(RegTest::Sequences(volume.System()),
              std::make_pair(sequences.first + 1, sequences.first + 1))
        << "committed clean";
    EXPECT_EQ(volume.ConfigFiles(), (std::vector<std::string>{"DEFAULT", "SOFTWARE", "system"}));

    ASSERT_TRUE(reg.Reload().Ok());
    CRegKey gone;
    EXPECT_EQ(
        reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Tcpip", 0, &gone),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        reg.OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Tcpip6", 0, &gone),
        ERROR_SUCCESS);
}

TEST(HiveWrite, NewKeysAndValuesOfEveryKindRoundTrip) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume;
    const CRegistry& reg = volume.m_reg;
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Vendor Tool\\Sub", 0, &key), 0);
    const std::vector<CRegValue> values = {
        {L"", REG_SZ, Sz(L"default")},
        {L"Größe", REG_DWORD, {1, 2, 3, 4}},
        {L"Five", REG_BINARY, {1, 2, 3, 4, 5}},
        {L"Empty", REG_NONE, {}},
        {L"DevProp", 0xFFFF2012u, {9, 8, 7}},
        {L"Big", REG_BINARY, CRegBytes(40000, 0x5A)},  // a plain cell is right in format 1.3
        {L"🌍", REG_MULTI_SZ, Sz(L"a")},
    };
    for (const CRegValue& v : values) {
        ASSERT_EQ(key.SetValue(v.m_strName, v.m_dwType, v.m_vData), ERROR_SUCCESS);
    }
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\NewService",
                            0, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"Start", REG_DWORD, {4, 0, 0, 0}), ERROR_SUCCESS);
    const CStatus status = reg.Flush();
    ASSERT_TRUE(status.Ok()) << ToUtf8(status.m_strText);

    const RegTest::CHiveDump user = DumpHive(volume.m_strNtUser);
    ASSERT_EQ(user.count("Software\\Vendor Tool\\Sub"), 1u);
    std::string expected;
    for (const CRegValue& v : values) {
        expected += ToUtf8(v.m_strName) + '|' + std::to_string(v.m_dwType) + '|' +
                    std::string(v.m_vData.begin(), v.m_vData.end()) + '\n';
    }
    EXPECT_EQ(user.at("Software\\Vendor Tool\\Sub"), expected);
    const RegTest::CHiveDump system = DumpHive(volume.System());
    EXPECT_EQ(system.count("ControlSet001\\Services\\NewService"), 1u);
    EXPECT_EQ(system.count("CurrentControlSet"), 0u) << "the link lives in memory only";

    // Nothing changed since: the files are left alone.
    struct stat before {};
    ASSERT_EQ(stat(volume.m_strNtUser.c_str(), &before), 0);
    ASSERT_TRUE(reg.Reload().Ok());
    ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, L"software\\vendor tool\\SUB", 0, &key), 0);
    for (DWORD i = 0; i < values.size(); ++i) {
        CRegValue read;
        ASSERT_EQ(key.EnumValue(i, &read), ERROR_SUCCESS);
        EXPECT_EQ(read.m_strName, values[i].m_strName);
        EXPECT_EQ(read.m_dwType, values[i].m_dwType);
        EXPECT_EQ(read.m_vData, values[i].m_vData);
    }
    ASSERT_EQ(key.SetValue(L"Five", REG_BINARY, {1, 2, 3, 4, 5}), ERROR_SUCCESS);
    ASSERT_TRUE(reg.Flush().Ok());
    struct stat after {};
    ASSERT_EQ(stat(volume.m_strNtUser.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

// Every refusal leaves every file as it was and the change in memory.
void ExpectRefused(const CVolume& volume, LONG code, const std::wstring& text) {
    const std::string system = ReadAll(volume.System());
    const std::string software = ReadAll(volume.Software());
    const std::string user = ReadAll(volume.m_strNtUser);
    const CStatus status = volume.m_reg.Flush();
    EXPECT_EQ(status.m_lCode, code);
    EXPECT_NE(status.m_strText.find(text), std::wstring::npos) << ToUtf8(status.m_strText);
    EXPECT_TRUE(ReadAll(volume.System()) == system);
    EXPECT_TRUE(ReadAll(volume.Software()) == software);
    EXPECT_TRUE(ReadAll(volume.m_strNtUser) == user);
    EXPECT_TRUE(volume.m_reg.IsDirty());
    EXPECT_EQ(volume.ConfigFiles(), (std::vector<std::string>{"DEFAULT", "SOFTWARE", "system"}));
    ASSERT_TRUE(volume.m_reg.Reload().Ok());
}

TEST(HiveWrite, DirtyHiveIsReadButNeverWritten) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume({.m_strNtUser = "museum__Win10_NTUSER.DAT"});
    const CRegistry& reg = volume.m_reg;
    const std::vector<std::wstring> warnings = reg.LoadWarnings();
    EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const std::wstring& w) {
        return w.starts_with(L"Users/Alice/NTUSER.DAT was not shut down cleanly");
    }));
    EXPECT_FALSE(RegTest::SubKeys(reg, HKEY_CURRENT_USER, L"Control Panel\\Desktop").empty())
        << "a dirty hive reads as usual";
    // The clean SOFTWARE hive changed in the same operation is not written either.
    ASSERT_EQ(reg.DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer"), 0);
    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L"Control Panel\\Desktop"), ERROR_SUCCESS);
    ExpectRefused(volume, ERROR_CANTWRITE, L"shut it down cleanly");
    CRegKey key;
    EXPECT_EQ(reg.OpenKey(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, &key), ERROR_SUCCESS)
        << "Reload returned to the disk";
}

TEST(HiveWrite, GuardsRefuseWhatHivexCannotWriteFaithfully) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume({.m_strNtUser = "museum__Win10_NTUSER.DAT"});
    const CRegistry& reg = volume.m_reg;
    // Another tool left a key whose name upper-cases to ASCII; hivex's commit also leaves the
    // hive clean, as a clean shut-down would have.
    hive_h* h = hivex_open(volume.m_strNtUser.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    const hive_node_h sorted =
        hivex_node_add_child(h, hivex_node_get_child(h, hivex_root(h), "Software"), "Sorted");
    ASSERT_NE(hivex_node_add_child(h, sorted,
                                   "\xC5\xBF"
                                   "b"),
              0u);  // "ſb", upper case "SB"
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);
    ASSERT_TRUE(reg.Reload().Ok());
    for (const std::wstring& warning : reg.LoadWarnings()) {
        ASSERT_FALSE(warning.starts_with(L"Users/Alice/NTUSER.DAT")) << ToUtf8(warning);
    }

    // Format 1.5: Data (19,076 bytes) is a big-data record that hivex would rewrite as a plain
    // cell if any value of its key were deleted or set.
    const std::wstring tiles =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\CloudStore\\Store\\Cache\\"
        L"DefaultAccount\\$de${b360bd51-1357-494a-8271-a91608f96071}$$"
        L"windows.data.unifiedtile.localstarttilepropertiesmap";
    CRegKey key;
    ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, tiles + L"\\Current", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"Extra", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"'Data' of 19076 bytes");
    ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, L"Software", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"Large", REG_BINARY, CRegBytes(20000)), ERROR_SUCCESS);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"'Large' of 20000 bytes");

    // Format 1.3 writes big values as plain cells, up to hivex's limit.
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"Huge", REG_BINARY, CRegBytes(1000001)), ERROR_SUCCESS);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"1000001 bytes, more than hivex can write");

    // hivex would hash or place these names unlike Windows.
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Ärger", 0, &key), ERROR_SUCCESS);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"not plain ASCII");
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Sorted\\Sc", 0, &key), 0);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"order in which Windows looks for it");
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Sorted\\Sa", 0, &key), 0);
    ASSERT_TRUE(reg.Flush().Ok()) << "before \"ſb\" in both orders";

    // Deleting whole keys is safe with big data below them.
    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, tiles), ERROR_SUCCESS);
    ASSERT_TRUE(reg.Flush().Ok());
    const RegTest::CHiveDump user = DumpHive(volume.m_strNtUser);
    EXPECT_EQ(user.count(ToUtf8(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\CloudStore\\Store\\"
                                L"Cache\\DefaultAccount")),
              1u);
    for (const auto& [path, values] : user) {
        EXPECT_EQ(path.find("localstarttilepropertiesmap"), std::string::npos) << path;
    }

    // A file changed behind our back is not overwritten with edits to its old picture.
    ASSERT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L"Environment"), ERROR_SUCCESS);
    const timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, volume.m_strNtUser.c_str(), times, 0), 0);
    ExpectRefused(volume, ERROR_CANTWRITE, L"changed on disk since it was read");
}

// Rewrites the subkey list of hive\path, which must have one subkey, as an old-style "li" list.
void MakeLiList(const std::string& hive, const char* path) {
    hive_h* h = hivex_open(hive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    hive_node_h node = hivex_node_get_child(h, hivex_root(h), path);
    ASSERT_EQ(hivex_node_nr_children(h, node), 1u);
    hivex_close(h);
    std::string bytes = ReadAll(hive);
    std::uint32_t list = 0;
    std::memcpy(&list, bytes.data() + node + 4 + 0x1C, 4);  // nk: subkey list offset
    char* cell = bytes.data() + 0x1000 + list + 4;
    ASSERT_TRUE(cell[0] == 'l' && (cell[1] == 'h' || cell[1] == 'f'));
    cell[1] = 'i';  // li: the count, then 4-byte offsets without hashes; the first one stays
    RegTest::Touch(hive, bytes);
}

// A fix may delete only what a restore can write back: names and data that hivex writes the way
// Windows reads them. The check looks at the key as it is, before anything is deleted.
TEST(HiveWrite, RestorableOnlyWhatHivexCanWriteBack) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume({.m_strNtUser = "museum__Win10_NTUSER.DAT"});
    const CRegistry& reg = volume.m_reg;
    hive_h* h = hivex_open(volume.m_strNtUser.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    const hive_node_h software = hivex_node_get_child(h, hivex_root(h), "Software");
    const hive_node_h globe = hivex_node_add_child(h, software, "Globe");
    ASSERT_NE(hivex_node_add_child(h, globe, "\xF0\x9F\x8C\x8E"), 0u);  // U+1F30E
    const hive_node_h big = hivex_node_add_child(h, software, "Big");
    std::string data(20000, 'x');
    hive_set_value value{const_cast<char*>("Large"), hive_t_REG_BINARY, data.size(), data.data()};
    ASSERT_EQ(hivex_node_set_values(h, big, 1, &value, 0), 0);
    const hive_node_h plain = hivex_node_add_child(h, software, "Plain");
    value.len = 16;
    ASSERT_EQ(hivex_node_set_values(h, hivex_node_add_child(h, plain, "Below"), 1, &value, 0), 0);
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);
    ASSERT_TRUE(reg.Reload().Ok());

    const CStatus globeTree = reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Globe", 0, true);
    EXPECT_EQ(globeTree.m_lCode, ERROR_NOT_SUPPORTED);
    EXPECT_NE(globeTree.m_strText.find(L"Globe\\\U0001F30E"), std::wstring::npos)
        << ToUtf8(globeTree.m_strText);
    EXPECT_NE(globeTree.m_strText.find(L"not plain ASCII"), std::wstring::npos);
    EXPECT_FALSE(
        reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Globe\\\U0001F30E", 0, true).Ok());
    EXPECT_TRUE(reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Globe", 0, false).Ok())
        << "its values are plain";

    const CStatus bigValues = reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Big", 0, false);
    EXPECT_NE(bigValues.m_strText.find(L"'Large' of 20000 bytes"), std::wstring::npos)
        << ToUtf8(bigValues.m_strText);
    EXPECT_FALSE(reg.CheckRestorable(HKEY_CURRENT_USER, L"Software", 0, true).Ok())
        << "a key is refused for what lies below it";
    EXPECT_FALSE(reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Big", 0, true).Ok());
    EXPECT_TRUE(reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Plain", 0, true).Ok());
    EXPECT_TRUE(reg.CheckRestorable(HKEY_CURRENT_USER, L"Software\\Missing", 0, true).Ok());

    // A Wine prefix's text files take any name back.
    const CRegistry memory = CRegistry::CreateInMemory({});
    CRegKey key;
    ASSERT_EQ(memory.CreateKey(HKEY_CURRENT_USER, L"Software\\\U0001F30E", 0, &key), ERROR_SUCCESS);
    EXPECT_TRUE(memory.CheckRestorable(HKEY_CURRENT_USER, L"Software", 0, true).Ok());
}

// A hive that a link takes out of the volume belongs to something else: it is read with a
// warning, and no change is ever written there.
TEST(HiveWrite, AHiveLinkedFromOutsideTheVolumeIsReadWithAWarningButNotWritten) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir outside;
    std::string volumeDir;
    {
        CVolume volume;
        volumeDir = volume.m_dir.Path();
        std::filesystem::rename(volume.m_strNtUser, outside.Path() + "/NTUSER.DAT");
        std::filesystem::create_symlink(outside.Path() + "/NTUSER.DAT", volume.m_strNtUser);
        CRegistry reg;
        ASSERT_TRUE(CRegistry::OpenOfflineVolume(volumeDir, L"Alice", &reg).Ok());
        const std::vector<std::wstring> warnings = reg.LoadWarnings();
        EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(), [](const std::wstring& w) {
            return w.starts_with(L"Users/Alice/NTUSER.DAT is a link that leads out of the volume");
        }));
        const std::string before = ReadAll(outside.Path() + "/NTUSER.DAT");
        CRegKey key;
        ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Added", 0, &key), ERROR_SUCCESS);
        EXPECT_FALSE(reg.Flush().Ok());
        EXPECT_EQ(ReadAll(outside.Path() + "/NTUSER.DAT"), before);
    }
}

TEST(HiveWrite, DeletingBelowAnLiListIsRefused) {
    SKIP_WITHOUT_FIXTURES();
    CVolume volume;
    MakeLiList(volume.m_strNtUser, "Identities");
    ASSERT_TRUE(volume.m_reg.Reload().Ok());
    const std::vector<std::wstring> below =
        RegTest::SubKeys(volume.m_reg, HKEY_CURRENT_USER, L"Identities");
    ASSERT_EQ(below.size(), 1u) << "hivex reads li lists";
    ASSERT_EQ(volume.m_reg.DeleteTree(HKEY_CURRENT_USER, L"Identities\\" + below[0]), 0);
    ExpectRefused(volume, ERROR_NOT_SUPPORTED, L"'li' list");
}

// A writer killed at any instant leaves the hive old or new, never torn.
TEST(HiveWrite, KilledFlushLeavesTheOldOrTheNewHive) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    RegTest::BuildVolume(
        dir.Path(),
        {.m_strSystem = "aiowinreg_nt4__system.reg", .m_strDefault = "", .m_strUsrClass = ""});
    const std::string ntuser = dir.Path() + "/Users/Alice/NTUSER.DAT";
    std::mt19937 random(4);
    int flushes = 0;
    for (int round = 0; round < 20; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CRegistry reg;
            CRegistry::OpenOfflineVolume(dir.Path(), L"Alice", &reg);
            reg.DeleteTree(HKEY_CURRENT_USER, L"Software\\Kill");
            (void)!write(ready[1], "r", 1);
            for (int i = 0;; ++i) {
                CRegKey key;
                reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Kill\\K" + std::to_wstring(i), 0,
                              &key);
                key.SetValue(L"Data", REG_BINARY, CRegBytes(3000, static_cast<std::uint8_t>(i)));
                reg.DeleteTree(HKEY_CURRENT_USER, L"Software\\Kill\\K" + std::to_wstring(i - 1));
                if (reg.Flush().Ok()) {
                    (void)!write(ready[1], "f", 1);
                }
            }
        }
        close(ready[1]);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        // A flush takes tens of milliseconds here; the kill lands anywhere in the loop.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 400000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        while (read(ready[0], &c, 1) == 1) {
            ++flushes;
        }
        close(ready[0]);

        const RegTest::CHiveDump dump = DumpHive(ntuser);
        ASSERT_FALSE(dump.empty()) << "hivex opens the hive after round " << round;
        const auto seq = RegTest::Sequences(ntuser);
        EXPECT_EQ(seq.first, seq.second);
        int kept = 0;
        for (const auto& [path, values] : dump) {
            if (path.rfind("Software\\Kill\\", 0) == 0) {
                ++kept;
                EXPECT_EQ(values.size(), std::string("Data|3|\n").size() + 3000) << path;
            }
        }
        EXPECT_LE(kept, 1) << "one flush's state, never a mix";
    }
    EXPECT_GT(flushes, 0);
    std::printf("%d flushes completed across 20 killed writers\n", flushes);
}

}  // namespace
}  // namespace Branwick::Platform
