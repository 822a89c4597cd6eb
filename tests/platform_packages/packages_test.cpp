#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/packages/packages.h"
#include "tests/support/temp_folder.h"

namespace {

using Branwick::Platform::CPackageIndex;
using CorvaneTest::CTempFolder;
using CorvaneTest::Touch;

constexpr char kStatus[] = R"(Package: alpha
Status: install ok installed
Architecture: amd64
Description: Alpha tool for tests
 A longer text that is not the summary.

Package: removed
Status: deinstall ok config-files
Architecture: amd64
Description: Removed package

Package: multi
Status: install ok installed
Architecture: i386
Multi-Arch: same
Description: Multi-arch library
)";

TEST(PackageIndex, OwnerOfAFileGivesItsSummary) {
    CTempFolder dir("corvane-dpkg");
    Touch(dir / "status", kStatus);
    Touch(dir / "info/alpha.list", "/.\n/usr\n/usr/bin\n/usr/bin/alpha\n/bin/alpha-old\n");
    Touch(dir / "info/removed.list", "/usr/bin/removed\n");
    Touch(dir / "info/multi:i386.list", "/usr/lib/i386-linux-gnu/libmulti.so.1\n");
    CPackageIndex index(dir.Path().string());
    EXPECT_EQ(index.Summary("/usr/bin/alpha"), L"Alpha tool for tests");
    EXPECT_EQ(index.Summary("/bin/alpha"), L"Alpha tool for tests");        // merged /usr
    EXPECT_EQ(index.Summary("/usr/bin/alpha-old"), L"Alpha tool for tests");  // listed under /bin
    EXPECT_EQ(index.Summary("/usr/lib/i386-linux-gnu/libmulti.so.1"), L"Multi-arch library");
    EXPECT_EQ(index.Summary("/usr/bin/removed"), L"");  // only configuration files are left
    EXPECT_EQ(index.Summary("/opt/own/tool"), L"");

    // dpkg changed its database: read again.
    Touch(dir / "status", "Package: alpha\nStatus: install ok installed\nDescription: Alpha tool, new\n");
    struct timespec times[2] = {{0, UTIME_NOW}, {12345, 0}};
    utimensat(AT_FDCWD, (dir / "status").c_str(), times, 0);
    EXPECT_EQ(index.Summary("/usr/bin/alpha"), L"Alpha tool, new");
}

TEST(PackageIndex, NoDatabaseGivesNoSummary) {
    CTempFolder dir("corvane-dpkg");
    CPackageIndex index((dir / "missing").string());
    EXPECT_EQ(index.Summary("/usr/bin/sleep"), L"");
}

TEST(PackageIndex, ThisMachinesDatabase) {
    if (!std::filesystem::exists("/var/lib/dpkg/status")) {
        GTEST_SKIP() << "no dpkg database on this machine";
    }
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen("dpkg-query -W -f='${binary:Summary}' coreutils", "r"), pclose);
    ASSERT_TRUE(pipe);
    char buf[256] = {};
    const std::size_t n = fread(buf, 1, sizeof(buf) - 1, pipe.get());
    ASSERT_GT(n, 0U);
    const std::string strExpected(buf, n);
    CPackageIndex index;
    EXPECT_EQ(index.Summary(std::filesystem::canonical("/bin/sleep").string()),
              std::wstring(strExpected.begin(), strExpected.end()));
}

}  // namespace
