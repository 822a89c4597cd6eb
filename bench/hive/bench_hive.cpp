// Loading a real 15.5 MB SYSTEM hive (43,211 keys, 90,307 values) into the registry's key tree,
// against the same walk with bare hivex calls (every key name, value name and value's data), in
// the same run. Medians of alternating runs, page cache warm. Then the replay of the largest dirty
// hive's transaction logs (12.8 MB SYSTEM, two logs), in memory, against hivex walking that hive.
#include <hivex.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry/hive_log.h"
#include "platform/registry/hive_store.h"

using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 11;

struct CCounts {
    std::size_t m_nKeys = 0;
    std::size_t m_nValues = 0;
};

void BareWalk(hive_h* h, hive_node_h node, CCounts* pCounts) {
    ++pCounts->m_nKeys;
    std::free(hivex_node_name(h, node));
    hive_value_h* values = hivex_node_values(h, node);
    for (std::size_t i = 0; values != nullptr && values[i] != 0; ++i) {
        ++pCounts->m_nValues;
        hive_type type{};
        std::size_t len = 0;
        std::free(hivex_value_key(h, values[i]));
        std::free(hivex_value_value(h, values[i], &type, &len));
    }
    std::free(values);
    hive_node_h* children = hivex_node_children(h, node);
    for (std::size_t i = 0; children != nullptr && children[i] != 0; ++i) {
        BareWalk(h, children[i], pCounts);
    }
    std::free(children);
}

CCounts Bare(const std::string& path) {
    CCounts counts;
    hive_h* h = hivex_open(path.c_str(), 0);
    if (h != nullptr) {
        BareWalk(h, hivex_root(h), &counts);
        hivex_close(h);
    }
    return counts;
}

void CountTree(const Reg::CKeyNode& key, CCounts* pCounts) {
    ++pCounts->m_nKeys;
    pCounts->m_nValues += key.Values().size();
    for (std::size_t i = 0; i < key.ChildCount(); ++i) {
        CountTree(*key.Child(i), pCounts);
    }
}

// Freeing the tree is not part of loading it; the previous run's tree goes before the clock starts.
std::unique_ptr<Reg::CKeyNode> g_pTree;

// Counting the tree is not part of loading it either; it is done once, untimed.
CCounts Model(const std::string& path, bool bCount) {
    Reg::CHiveStore store(path, L"SYSTEM");
    g_pTree = std::make_unique<Reg::CKeyNode>(u"System");
    g_pTree->Set(Reg::kNodeMount, true);
    std::vector<std::wstring> warnings;
    CCounts counts;
    if (store.Load(g_pTree.get(), &warnings).Ok() && bCount) {
        CountTree(*g_pTree, &counts);
    }
    return counts;
}

double Milliseconds(const std::function<void()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Deletes one service of a clean hive and writes it (Prepare and Commit: hivex's copy in memory,
// the temporary file synced, read back, renamed). Milliseconds of the write alone.
double DeleteAndWrite(const std::string& path) {
    Reg::CHiveStore store(path, L"SYSTEM");
    Reg::CKeyNode root(u"System");
    root.Set(Reg::kNodeMount, true);
    std::vector<std::wstring> warnings;
    Reg::CKeyNode* control = nullptr;
    Reg::CKeyNode* services = nullptr;
    if (!store.Load(&root, &warnings).Ok() ||
        (control = root.FindChild(u"ControlSet001")) == nullptr ||
        (services = control->FindChild(u"Services")) == nullptr || services->ChildCount() == 0) {
        return -1;
    }
    Reg::DestroySubtree(services->DetachChild(services->Child(0)));
    for (Reg::CKeyNode* key : {services, control, &root}) {
        key->Set(Reg::kNodeDirty, true);
    }
    return Milliseconds([&] {
        if (!store.Prepare(root).Ok() || !store.Commit().Ok()) {
            std::printf("the write failed\n");
        }
    });
}

Reg::CBytes ReadBytes(const fs::path& path) {
    Reg::CBytes out(fs::file_size(path));
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr || std::fread(out.data(), 1, out.size(), f) != out.size()) {
        out.clear();
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    return out;
}

// The replay of regipy__SYSTEM_B's two logs and bare hivex's walk of the dirty file, medians in
// ms; {-1, -1} when the fixture is absent or does not replay.
std::pair<double, double> Replay(const fs::path& dir) {
    const fs::path hive = dir / "SYSTEM_B";
    std::vector<Reg::CHiveLog> logs;
    for (const char* suffix : {"", ".LOG1", ".LOG2"}) {
        const fs::path xz =
            fs::path(CORVANE_FIXTURES_DIR) / "hives" / (std::string("regipy__SYSTEM_B") + suffix + ".xz");
        const fs::path to = hive.string() + suffix;
        if (std::system(("xz -dc '" + xz.string() + "' > '" + to.string() + "'").c_str()) != 0) {
            return {-1, -1};
        }
        if (*suffix != 0) {
            logs.push_back({L"log", ReadBytes(to)});
        }
    }
    const Reg::CBytes primary = ReadBytes(hive);
    if (!Reg::ReplayHiveLogs(primary, logs).m_bRecovered) {
        return {-1, -1};
    }
    std::vector<double> replayRuns;
    std::vector<double> walkRuns;
    for (int i = 0; i < kRuns; ++i) {
        replayRuns.push_back(Milliseconds([&] { Reg::ReplayHiveLogs(primary, logs); }));
        walkRuns.push_back(Milliseconds([&] { Bare(hive); }));
    }
    return {Median(replayRuns), Median(walkRuns)};
}

}  // namespace

int main() {
    const fs::path xz = fs::path(CORVANE_FIXTURES_DIR) / "hives" / "regipy__SYSTEM_WIN_10_1709.xz";
    if (!fs::exists(xz)) {
        std::printf("skipped: %s is absent\n", xz.c_str());
        return 0;
    }
    const fs::path hive =
        fs::temp_directory_path() / ("corvane-bench-hive-" + std::to_string(getpid()));
    if (std::system(("xz -dc '" + xz.string() + "' > '" + hive.string() + "'").c_str()) != 0) {
        std::printf("skipped: xz could not decompress %s\n", xz.c_str());
        fs::remove(hive);
        return 0;
    }
    // One untimed run each warms the page cache; then the two alternate, so that a change in the
    // machine's load falls on both.
    const CCounts bare = Bare(hive);
    const CCounts model = Model(hive, true);
    std::vector<double> bareRuns;
    std::vector<double> modelRuns;
    for (int i = 0; i < kRuns; ++i) {
        bareRuns.push_back(Milliseconds([&] { Bare(hive); }));
        g_pTree.reset();
        modelRuns.push_back(Milliseconds([&] { Model(hive, false); }));
    }
    const double bareMs = Median(bareRuns);
    const double modelMs = Median(modelRuns);
    fs::remove(hive);

    const fs::path cleanXz = fs::path(CORVANE_FIXTURES_DIR) / "hives" / "regipy__SYSTEM.xz";
    std::vector<double> writeRuns;
    if (std::system(("xz -dc '" + cleanXz.string() + "' > '" + hive.string() + "'").c_str()) == 0) {
        for (int i = 0; i < 5; ++i) {
            writeRuns.push_back(DeleteAndWrite(hive));
        }
    }
    fs::remove(hive);
    std::printf("keys walked: %zu count\n", model.m_nKeys);
    std::printf("values walked: %zu count\n", model.m_nValues);
    std::printf("bare hivex open and walk: %.1f ms\n", bareMs);
    std::printf("open and load into the key tree: %.1f ms\n", modelMs);
    std::printf("key tree / bare hivex: %.2f ratio\n", modelMs / bareMs);
    if (!writeRuns.empty()) {
        std::printf("delete a key and write an 11.8 MB hive: %.1f ms\n", Median(writeRuns));
    }
    const fs::path dir = fs::temp_directory_path() / ("corvane-bench-replay-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const auto [replayMs, walkMs] = Replay(dir);
    fs::remove_all(dir);
    if (replayMs >= 0) {
        std::printf("replay the logs of a 12.8 MB dirty hive in memory: %.1f ms\n", replayMs);
        std::printf("bare hivex open and walk of that hive: %.1f ms\n", walkMs);
    }
    if (bare.m_nKeys != model.m_nKeys || bare.m_nValues != model.m_nValues) {
        std::printf("count mismatch: hivex %zu keys %zu values\n", bare.m_nKeys, bare.m_nValues);
    }
    return 0;
}
