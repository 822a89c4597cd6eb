// Fixing many empty keys as a user runs it (corvane-cli fix, backup included) on the demo prefix
// with N empty keys added below one key of the user's registry: wall time of the scan and of the
// fix, for a small and a large N, so that work that grows faster than the keys shows.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/support/run_cli.h"
#include "platform/demo/demo.h"

namespace {

namespace fs = std::filesystem;

void Measure(const fs::path& folder, int nKeys) {
    const fs::path prefix = folder / ("prefix-" + std::to_string(nKeys));
    std::wstring strError;
    if (!Branwick::Platform::MakeDemoPrefix(prefix.string(), nullptr, strError)) {
        std::fprintf(stderr, "bench_fix: no demo prefix: %ls\n", strError.c_str());
        std::exit(1);
    }
    {
        std::ofstream reg(prefix / "user.reg", std::ios::app);
        reg << "\n[Software\\\\Bench] 1700000000\n\"Kept\"=\"so that Bench itself is no finding\"\n";
        for (int i = 0; i < nKeys; ++i) {
            reg << "\n[Software\\\\Bench\\\\Key" << i << "] 1700000000\n";
        }
    }
    const std::string strPrefix = prefix.string();
    const auto scan = CorvaneBench::RunCli({"--prefix", strPrefix, "scan", "--categories", "empty-keys"});
    const auto fix = CorvaneBench::RunCli({"--prefix", strPrefix, "fix", "--categories", "empty-keys"});
    if (fix.nStatus != 0) {
        std::fprintf(stderr, "bench_fix: the fix of %d keys ended with status %d\n", nKeys, fix.nStatus);
    }
    std::printf("scan %d empty keys: %.2f s\n", nKeys, scan.dSeconds);
    std::printf("fix %d empty keys: %.2f s\n", nKeys, fix.dSeconds);
    std::printf("fix %d empty keys peak memory: %ld KB\n", nKeys, fix.nPeakKb);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = fs::temp_directory_path() / ("corvane-bench-fix-" + std::to_string(getpid()));
    fs::create_directories(folder);
    Measure(folder, 30000);
    Measure(folder, argc > 1 ? std::atoi(argv[1]) : 300000);
    fs::remove_all(folder);
    return 0;
}
