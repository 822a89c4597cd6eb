// Load and save speed of Wine registry files, and the memory a loaded tree takes: the fixture's
// system.reg, and a generated file of 1,000,000 keys and 2,000,000 values. Load is opening the
// prefix; save is a Flush after one change (temporary file, fsync, rename, fsync of the folder),
// and, apart, the writing of the text alone.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/registry/key_tree.h"
#include "platform/registry/registry.h"
#include "platform/registry/wine_text.h"

using namespace Branwick;
using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

constexpr int kVendors = 1000;
constexpr int kKeysPerVendor = 1000;

// Wall time and this process's CPU time: on a shared machine the second shows the code's own speed.
struct CClock {
    std::chrono::steady_clock::time_point m_wall = std::chrono::steady_clock::now();
    double m_dCpu = CpuNow();

    static double CpuNow() {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
    double Wall() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall).count();
    }
    double Cpu() const { return CpuNow() - m_dCpu; }
};

double MegaBytes(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / 1e6;
}

// A system.reg as wineserver would write it: sorted, each key with a path string and a number
// (every fourth a small binary instead).
void Generate(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n", f);
    for (int v = 0; v < kVendors; ++v) {
        for (int k = 0; k < kKeysPerVendor; ++k) {
            std::fprintf(f,
                         "\n[Software\\\\Generated\\\\Vendor%03d\\\\Component%04d] "
                         "1796598480\n#time=1dd85d6a3ae199a\n",
                         v, k);
            std::fprintf(f,
                         "\"InstallPath\"=\"C:\\\\Program "
                         "Files\\\\Vendor%03d\\\\Component%04d\\\\bin\\\\comp%04d.dll\"\n",
                         v, k, k);
            if (k % 4 == 3) {
                std::fprintf(f, "\"Signature\"=hex:%02x,%02x,00,00,ff,ee,dd,cc\n", v & 0xFF,
                             k & 0xFF);
            } else {
                std::fprintf(f, "\"Size\"=dword:%08x\n", v * kKeysPerVendor + k);
            }
        }
    }
    std::fclose(f);
}

struct CFigures {
    double m_dLoad = 0;
    double m_dLoadCpu = 0;
    double m_dSave = 0;
    double m_dWrite = 0;
    double m_dWriteCpu = 0;
};

// Opens the prefix, changes one value, flushes; then writes the whole tree's text once more to a
// file without syncing.
CFigures Measure(const std::string& prefix, int rounds) {
    const std::uintmax_t bytes = fs::file_size(prefix + "/system.reg");
    CFigures best;
    for (int i = 0; i < rounds; ++i) {
        const CClock loading;
        CRegistry reg;
        const CStatus opened = CRegistry::OpenWinePrefix(prefix, {}, &reg);
        const double load = loading.Wall();
        best.m_dLoadCpu = std::max(best.m_dLoadCpu, MegaBytes(bytes) / loading.Cpu());
        if (!opened.Ok()) {
            std::fprintf(stderr, "cannot open %s\n", prefix.c_str());
            return best;
        }
        CRegKey key;
        reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Corvane", 0, &key);
        key.SetValue(L"Round", REG_DWORD, {static_cast<std::uint8_t>(i), 0, 0, 0});
        const CClock saving;
        reg.Flush();
        const double save = saving.Wall();
        best.m_dLoad = std::max(best.m_dLoad, MegaBytes(bytes) / load);
        best.m_dSave = std::max(best.m_dSave, MegaBytes(bytes) / save);
    }
    // The text alone, from a tree read with the store's own reader.
    Reg::CKeyNode root(u"");
    const int in = open((prefix + "/system.reg").c_str(), O_RDONLY);
    Reg::CLineReader reader(in);
    Reg::CWineParseOptions options;
    Reg::ParseWineText(&reader, &root, options);
    close(in);
    for (int i = 0; i < rounds; ++i) {
        const int out = open((prefix + "/text.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const CClock writing;
        Reg::CTextOut text(out);
        Reg::CWineWriteOptions write;
        write.m_strBranch = "REGISTRY\\\\Machine";
        write.m_strArch = "win64";
        Reg::WriteWineText(root, write, &text);
        text.Finish();
        best.m_dWrite = std::max(best.m_dWrite, MegaBytes(bytes) / writing.Wall());
        best.m_dWriteCpu = std::max(best.m_dWriteCpu, MegaBytes(bytes) / writing.Cpu());
        close(out);
    }
    return best;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    char dirTemplate[] = "/tmp/bench-registry-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string fixture = std::string(CORVANE_FIXTURES_DIR) + "/wine8-win64/system.reg";
    if (fs::exists(fixture)) {
        fs::create_directory(dir + "/fixture");
        fs::copy_file(fixture, dir + "/fixture/system.reg");
        const CFigures f = Measure(dir + "/fixture", 5);
        std::printf("fixture system.reg size: %.1f MB\n", MegaBytes(fs::file_size(fixture)));
        std::printf("fixture system.reg load: %.0f MB/s\n", f.m_dLoad);
        std::printf("fixture system.reg load (cpu time): %.0f MB/s\n", f.m_dLoadCpu);
        std::printf("fixture system.reg save: %.0f MB/s\n", f.m_dSave);
        std::printf("fixture system.reg text written: %.0f MB/s\n", f.m_dWrite);
        std::printf("fixture system.reg text written (cpu time): %.0f MB/s\n", f.m_dWriteCpu);
    } else {
        std::printf("fixture system.reg: skipped (no fixtures at %s)\n", CORVANE_FIXTURES_DIR);
    }
    const long before = PeakKilobytes();
    fs::create_directory(dir + "/generated");
    const std::string generated = dir + "/generated/system.reg";
    Generate(generated);
    const std::uintmax_t size = fs::file_size(generated);
    const CFigures g = Measure(dir + "/generated", 2);
    const long peak = PeakKilobytes();
    std::printf("generated file size: %.1f MB\n", MegaBytes(size));
    std::printf("generated load: %.0f MB/s\n", g.m_dLoad);
    std::printf("generated load (cpu time): %.0f MB/s\n", g.m_dLoadCpu);
    std::printf("generated save: %.0f MB/s\n", g.m_dSave);
    std::printf("generated text written: %.0f MB/s\n", g.m_dWrite);
    std::printf("generated text written (cpu time): %.0f MB/s\n", g.m_dWriteCpu);
    std::printf("peak memory: %.0f MB\n", static_cast<double>(peak) / 1024.0);
    std::printf("peak memory before the generated file: %.0f MB\n",
                static_cast<double>(before) / 1024.0);
    std::printf("peak memory per file size: %.2f x\n",
                static_cast<double>(peak) * 1024.0 / static_cast<double>(size));
    fs::remove_all(dir);
    return 0;
}
