// The Debian packages installed on this machine, read from dpkg's database (never written).
//
// Threads: one object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

namespace Branwick::Platform {

class CPackageIndex {
public:
    // strAdminDir: dpkg's database folder ("status" and "info/*.list" in it).
    explicit CPackageIndex(std::string strAdminDir = "/var/lib/dpkg");

    // The one-line summary of the installed package that owns the host file; empty when no
    // package does or there is no database. A file is found under either name that the merged
    // /usr gives it (/usr/bin/x is also /bin/x). The database is read at the first call and again
    // when dpkg has changed it since.
    std::wstring Summary(const std::string& strHostFile);

private:
    void Load();
    const std::wstring* Find(const std::string& strPath) const;

    std::string m_strAdminDir;
    std::timespec m_statusTime{-1, 0};
    std::vector<std::wstring> m_vcSummaries;                  // by package
    std::unordered_map<std::uint64_t, std::uint32_t> m_mapFiles;  // hash of the path -> package
};

}  // namespace Branwick::Platform
