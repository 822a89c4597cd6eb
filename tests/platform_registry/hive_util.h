// Helpers of the hive tests: fixture hives decompressed once per test program, offline volumes
// laid out from them, and hivex's own view of a hive file to compare against.
#pragma once

#include <hivex.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform::RegTest {

// The decompressed fixture hive (e.g. "regipy__SYSTEM"), or empty when the fixtures are absent
// (the caller skips).
inline std::string FixtureHive(const std::string& name) {
    static CTempDir dir;
    static std::mutex mutex;
    static std::map<std::string, std::string> done;
    const std::string xz = std::string(CORVANE_FIXTURES_DIR) + "/hives/" + name + ".xz";
    std::lock_guard lock(mutex);
    std::string& path = done[name];
    if (path.empty() && std::filesystem::exists(xz)) {
        const std::string out = dir.Path() + "/" + name;
        if (std::system(("xz -dc '" + xz + "' > '" + out + "'").c_str()) == 0) {
            path = out;
        }
    }
    return path;
}

#define SKIP_WITHOUT_FIXTURES()                                                      \
    if (RegTest::FixtureHive("regipy__NTUSER.DAT").empty()) {                        \
        GTEST_SKIP() << "fixture hives not found in " CORVANE_FIXTURES_DIR "/hives"; \
    }

inline void CopyFixture(const std::string& name, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(FixtureHive(name), to,
                               std::filesystem::copy_options::overwrite_existing);
}

// A volume layout: which fixture hive goes where; empty names are left out.
struct CVolumeLayout {
    std::string m_strSoftware = "aiowinreg_nt4__software.reg";
    std::string m_strSystem = "aiowinreg_nt4__system.reg";
    std::string m_strDefault = "museum__Win10_DEFAULT";
    std::string m_strNtUser = "regipy__NTUSER.DAT";
    std::string m_strUsrClass = "museum__Win10_UsrClass.dat";
};

// A Windows volume under dir, its folders and files in the mixed case real volumes have. The user
// is "Alice". Returns the folder holding the machine hives.
inline std::string BuildVolume(const std::string& dir, const CVolumeLayout& layout = {}) {
    const std::string config = dir + "/WINDOWS/system32/Config";
    const std::string profile = dir + "/Users/Alice";
    const std::pair<const std::string*, std::string> files[] = {
        {&layout.m_strSoftware, config + "/SOFTWARE"},
        {&layout.m_strSystem, config + "/system"},
        {&layout.m_strDefault, config + "/DEFAULT"},
        {&layout.m_strNtUser, profile + "/NTUSER.DAT"},
        {&layout.m_strUsrClass, profile + "/AppData/Local/Microsoft/Windows/UsrClass.dat"}};
    for (const auto& [name, path] : files) {
        if (!name->empty()) {
            CopyFixture(*name, path);
        }
    }
    Touch(profile + "/ntuser.dat.LOG1", "");
    return config;
}

// hivex's own view of a hive: "path" -> its values (name, type, data) in the file's order.
using CHiveDump = std::map<std::string, std::string>;

inline void DumpKey(hive_h* h, hive_node_h node, const std::string& path, CHiveDump* pOut) {
    std::string& values = (*pOut)[path];
    hive_value_h* v = hivex_node_values(h, node);
    for (std::size_t i = 0; v != nullptr && v[i] != 0; ++i) {
        char* key = hivex_value_key(h, v[i]);
        hive_type type{};
        std::size_t len = 0;
        char* data = hivex_value_value(h, v[i], &type, &len);
        std::uint32_t raw = 0;
        std::memcpy(&raw, &type, sizeof raw);
        values +=
            std::string(key) + '|' + std::to_string(raw) + '|' + std::string(data, len) + '\n';
        std::free(key);
        std::free(data);
    }
    std::free(v);
    hive_node_h* c = hivex_node_children(h, node);
    for (std::size_t i = 0; c != nullptr && c[i] != 0; ++i) {
        char* name = hivex_node_name(h, c[i]);
        DumpKey(h, c[i], path.empty() ? name : path + "\\" + name, pOut);
        std::free(name);
    }
    std::free(c);
}

// Empty when hivex cannot open the file.
inline CHiveDump DumpHive(const std::string& path) {
    CHiveDump dump;
    hive_h* h = hivex_open(path.c_str(), 0);
    if (h != nullptr) {
        DumpKey(h, hivex_root(h), "", &dump);
        hivex_close(h);
    }
    return dump;
}

// Removes a key and everything below it from a dump.
inline void EraseTree(CHiveDump* pDump, const std::string& path) {
    for (auto it = pDump->begin(); it != pDump->end();) {
        const bool below = it->first == path || it->first.rfind(path + "\\", 0) == 0;
        it = below ? pDump->erase(it) : std::next(it);
    }
}

// The two sequence numbers of a hive's header.
inline std::pair<std::uint32_t, std::uint32_t> Sequences(const std::string& path) {
    const std::string head = ReadAll(path).substr(0, 12);
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::memcpy(&a, head.data() + 4, 4);
    std::memcpy(&b, head.data() + 8, 4);
    return {a, b};
}

}  // namespace Branwick::Platform::RegTest
