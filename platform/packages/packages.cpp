#include "platform/packages/packages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <string_view>

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

// FNV-1a: the index keeps 8 bytes a file instead of its path (a desktop has ~10^6 files in
// packages, far from where 64-bit hashes collide).
std::uint64_t Hash(std::string_view str) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : str) {
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return h;
}

// The summaries of the installed packages by the name their file list carries ("name" or
// "name:arch" for a package installed for several architectures).
std::unordered_map<std::string, std::wstring> ReadStatus(const std::string& strFile) {
    std::unordered_map<std::string, std::wstring> map;
    std::ifstream in(strFile);
    std::string strLine;
    std::string strPackage;
    std::string strArch;
    std::string strSummary;
    bool bInstalled = false;
    auto flush = [&] {
        if (!strPackage.empty() && bInstalled) {
            const std::wstring strText = FromUtf8(strSummary);
            map[strPackage] = strText;
            if (!strArch.empty()) {
                map[strPackage + ":" + strArch] = strText;
            }
        }
        strPackage.clear(), strArch.clear(), strSummary.clear();
        bInstalled = false;
    };
    while (std::getline(in, strLine)) {
        if (strLine.empty()) {
            flush();
        } else if (strLine.starts_with("Package: ")) {
            strPackage = strLine.substr(9);
        } else if (strLine.starts_with("Architecture: ")) {
            strArch = strLine.substr(14);
        } else if (strLine.starts_with("Status: ")) {
            bInstalled = strLine.ends_with(" installed");
        } else if (strLine.starts_with("Description: ")) {
            strSummary = strLine.substr(13);
        }
    }
    flush();
    return map;
}

}  // namespace

CPackageIndex::CPackageIndex(std::string strAdminDir) : m_strAdminDir(std::move(strAdminDir)) {}

void CPackageIndex::Load() {
    m_vcSummaries.clear();
    m_mapFiles.clear();
    const auto summaries = ReadStatus(m_strAdminDir + "/status");
    const std::string strInfo = m_strAdminDir + "/info";
    DIR* dir = opendir(strInfo.c_str());
    if (dir == nullptr) {
        return;
    }
    std::string strLine;
    while (const dirent* d = readdir(dir)) {
        const std::string_view name = d->d_name;
        if (!name.ends_with(".list")) {
            continue;
        }
        const auto it = summaries.find(std::string(name.substr(0, name.size() - 5)));
        if (it == summaries.end()) {
            continue;
        }
        const auto nPackage = static_cast<std::uint32_t>(m_vcSummaries.size());
        m_vcSummaries.push_back(it->second);
        std::ifstream in(strInfo + "/" + std::string(name));
        while (std::getline(in, strLine)) {
            m_mapFiles[Hash(strLine)] = nPackage;
        }
    }
    closedir(dir);
}

const std::wstring* CPackageIndex::Find(const std::string& strPath) const {
    const auto it = m_mapFiles.find(Hash(strPath));
    return it == m_mapFiles.end() ? nullptr : &m_vcSummaries[it->second];
}

std::wstring CPackageIndex::Summary(const std::string& strHostFile) {
    struct stat st {};
    const bool bStatus = stat((m_strAdminDir + "/status").c_str(), &st) == 0;
    const std::timespec time = bStatus ? st.st_mtim : std::timespec{-1, 0};
    if (time.tv_sec != m_statusTime.tv_sec || time.tv_nsec != m_statusTime.tv_nsec) {
        m_statusTime = time;
        Load();
    }
    const std::wstring* pSummary = Find(strHostFile);
    if (pSummary == nullptr && strHostFile.starts_with("/usr/")) {
        pSummary = Find(strHostFile.substr(4));
    }
    if (pSummary == nullptr && !strHostFile.starts_with("/usr/")) {
        pSummary = Find("/usr" + strHostFile);
    }
    return pSummary != nullptr ? *pSummary : std::wstring();
}

}  // namespace Branwick::Platform
