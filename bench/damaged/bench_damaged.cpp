// Damaged data files as a scan meets them: a settings file full of sections that never close and
// an ignore list with one deeply nested unknown element, each small and large. Wall time and peak
// memory of corvane-cli reading them; both should grow in step with the size.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/support/run_cli.h"
#include "platform/demo/demo.h"

namespace {

namespace fs = std::filesystem;

std::string Repeat(const std::string& strPiece, std::size_t nBytes) {
    std::string text;
    text.reserve(nBytes + strPiece.size());
    while (text.size() < nBytes) {
        text += strPiece;
    }
    return text;
}

// The program's data folder in the prefix, made by a first run.
fs::path DataFolder(const fs::path& prefix) {
    CorvaneBench::RunCli({"--prefix", prefix.string(), "settings", "set", "backup-before-fix", "on"});
    for (const auto& entry : fs::recursive_directory_iterator(prefix / "drive_c")) {
        if (entry.path().filename() == "settings.xml") {
            return entry.path().parent_path();
        }
    }
    std::fprintf(stderr, "bench_damaged: corvane-cli made no settings.xml\n");
    std::exit(1);
}

void Report(const char* pszWhat, std::size_t nBytes, const CorvaneBench::SRun& run) {
    std::printf("%s %zu KB: %.2f s\n", pszWhat, nBytes / 1024, run.dSeconds);
    std::printf("%s %zu KB peak memory: %ld KB\n", pszWhat, nBytes / 1024, run.nPeakKb);
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("corvane-bench-damaged-" + std::to_string(getpid()));
    const fs::path prefix = folder / "prefix";
    fs::create_directories(folder);
    std::wstring strError;
    if (!Branwick::Platform::MakeDemoPrefix(prefix.string(), nullptr, strError)) {
        std::fprintf(stderr, "bench_damaged: no demo prefix: %ls\n", strError.c_str());
        return 1;
    }
    const fs::path data = DataFolder(prefix);
    for (const std::size_t nBytes : {std::size_t(900) << 10, std::size_t(2700) << 10}) {
        std::ofstream(data / "settings.xml", std::ios::trunc)
            << "<settings><general>1</general>" << Repeat("<scan-flag>7<scheduling>", nBytes);
        Report("damaged settings", nBytes, CorvaneBench::RunCli({"--prefix", prefix.string(), "settings", "show"}));
    }
    for (const std::size_t nBytes : {std::size_t(210) << 10, std::size_t(7) << 20}) {
        std::ofstream(data / "ignorelist.xml", std::ios::trunc)
            << "<IgnoreList><Mine>" << Repeat("<a>", nBytes) << "</Mine></IgnoreList>";
        Report("nested ignore list", nBytes, CorvaneBench::RunCli({"--prefix", prefix.string(), "ignore", "list"}));
    }
    fs::remove_all(folder);
    return 0;
}
