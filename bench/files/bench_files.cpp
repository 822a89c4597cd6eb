// Existence tests of 100,000 Windows paths, half of them present, on a copy of a real prefix's
// drive_c (empty files, folders and its links, made from the fixture's listing): without the scan
// cache (every test resolves through the host) and inside one scan.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tests/support/wine_fixture.h"

using namespace Branwick::Platform;
namespace fs = std::filesystem;

namespace {

constexpr int kTests = 100000;

// drive_c built from the fixture's listing; returns the Windows paths made.
std::vector<std::wstring> Materialise(const fs::path& listing, const fs::path& prefix) {
    std::vector<std::wstring> paths;
    for (const std::string& strMade : Branwick::Testing::MaterialiseListing(listing, prefix)) {
        if (strMade == "drive_c") {
            continue;
        }
        std::wstring win = L"C:" + FromUtf8(strMade.substr(7));
        std::replace(win.begin(), win.end(), L'/', L'\\');
        paths.push_back(win);
    }
    return paths;
}

// Half present paths (with the case of some letters changed), half absent ones: a missing file in
// an existing folder or a path through a missing folder.
std::vector<std::pair<std::wstring, bool>> Workload(const std::vector<std::wstring>& present) {
    std::mt19937 rng(42);
    std::vector<std::pair<std::wstring, bool>> tests;
    for (int i = 0; i < kTests; ++i) {
        std::wstring p = present[rng() % present.size()];
        for (wchar_t& ch : p) {
            if (rng() % 4 == 0) {
                ch = FoldCase(ch) == ch ? static_cast<wchar_t>(std::towlower(ch)) : FoldCase(ch);
            }
        }
        if (i % 2 == 0) {
            tests.emplace_back(p, true);
        } else if (i % 4 == 1) {
            tests.emplace_back(p + L".missing", false);
        } else {
            const std::size_t slash = p.find_last_of(L'\\');
            tests.emplace_back(p.substr(0, slash) + L"\\nofolder" + p.substr(slash), false);
        }
    }
    return tests;
}

double Run(const CFileSystem& files, const std::vector<std::pair<std::wstring, bool>>& tests, int& nWrong) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [path, bPresent] : tests) {
        nWrong += files.Exists(path) != bPresent;
    }
    const std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
    return tests.size() / s.count();
}

}  // namespace

int main() {
    const fs::path listing = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64" / "drive_c-listing.tsv";
    if (!fs::exists(listing)) {
        std::printf("skipped: %s is absent\n", listing.c_str());
        return 0;
    }
    const fs::path prefix = fs::temp_directory_path() / ("corvane-bench-files-" + std::to_string(getpid()));
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    const auto tests = Workload(Materialise(listing, prefix));
    CFileSystem files(WineDriveMap(prefix.string()));

    int nWrong = 0;
    const double cold = Run(files, tests, nWrong);
    double cached = 0;
    {
        CScanCache scan(files);
        cached = Run(files, tests, nWrong);
    }
    fs::remove_all(prefix);
    std::printf("existence tests without scan cache: %.0f tests/s\n", cold);
    std::printf("existence tests with scan cache: %.0f tests/s\n", cached);
    std::printf("wrong answers: %d count\n", nWrong);
    return 0;
}
