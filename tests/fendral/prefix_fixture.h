// Whole Wine prefixes for the tests of the loaded library: a temporary folder, the real prefix of
// the fixtures made into one, and snapshots of a registry and of drive_c to tell what a fix run
// removed.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/RegError.h"
#include "core/Text.h"
#include "platform/demo/demo.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"

namespace Branwick::Testing {

// A fresh folder in the temporary folder, removed with everything in it at the end.
class CTempFolder {
public:
    explicit CTempFolder(const std::string& strName)
        : m_path(std::filesystem::temp_directory_path() /
                 (strName + "-" + std::to_string(getpid()) + "-" + std::to_string(s_nNext++))) {
        std::filesystem::remove_all(m_path);
    }
    ~CTempFolder() { std::filesystem::remove_all(m_path); }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    static inline int s_nNext = 0;
    std::filesystem::path m_path;
};

// The Wine fixture made into a prefix: its registry files, drive_c from its listing (empty files,
// folders and the links into the home), and the drives c: and z: every prefix has. False when
// drive_c did not come out.
inline bool MaterialiseWineFixture(const std::filesystem::path& fixture,
                                   const std::filesystem::path& prefix) {
    namespace fs = std::filesystem;
    fs::create_directories(prefix / "dosdevices");
    for (const char* pszFile : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(fixture / pszFile, prefix / pszFile);
        fs::permissions(prefix / pszFile, fs::perms::owner_write, fs::perm_options::add);
    }
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
    std::ifstream listing(fixture / "drive_c-listing.tsv");
    std::string strLine;
    while (std::getline(listing, strLine)) {
        std::vector<std::string> fields;
        std::stringstream line(strLine);
        for (std::string strField; std::getline(line, strField, '\t');) {
            fields.push_back(strField);
        }
        if (fields.size() < 4) {
            continue;
        }
        const fs::path host = prefix / fields[3];
        fs::create_directories(host.parent_path());
        if (fields[0] == "d") {
            fs::create_directories(host);
        } else if (fields[0] == "l" && fields.size() > 4) {
            fs::create_symlink(fields[4], host);
        } else {
            std::ofstream{host};
        }
    }
    return fs::exists(prefix / "drive_c" / "windows" / "system32");
}

// Every key (by its real place, after views and links) and every value of HKEY_LOCAL_MACHINE and
// HKEY_USERS, folded: "K <path>" and "V <path>|<name>".
using CSnapshot = std::set<std::wstring>;

inline void SnapshotKey(const Platform::CRegKey& key, CSnapshot& out) {
    const std::wstring sPath = Platform::FoldCase(key.GetPath());
    if (!out.insert(L"K " + sPath).second) {
        return;  // reached again through a link
    }
    Platform::CRegValue value;
    for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        out.insert(L"V " + sPath + L"|" + Platform::FoldCase(value.m_sName));
    }
    std::wstring sName;
    for (DWORD j = 0; key.EnumKey(j, &sName) == ERROR_SUCCESS; ++j) {
        Platform::CRegKey child;
        if (key.OpenKey(sName, KEY_READ, &child) == ERROR_SUCCESS) {
            SnapshotKey(child, out);
        }
    }
}

inline CSnapshot Snapshot(const Platform::CRegistry& registry) {
    CSnapshot out;
    for (const HKEY hRoot : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        Platform::CRegKey root;
        if (registry.OpenRoot(hRoot, &root) == ERROR_SUCCESS) {
            SnapshotKey(root, out);
        }
    }
    return out;
}

// Every file and link below a host folder, as paths relative to it.
inline std::set<std::string> FileSnapshot(const std::filesystem::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_directory() || entry.is_symlink()) {
            out.insert(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    return out;
}

// The real place of root\path in the view, folded as in a snapshot; empty when it does not open.
inline std::wstring RealPath(const Platform::CRegistry& registry, HKEY hRoot,
                             const std::wstring& sPath, REGSAM dwView) {
    Platform::CRegKey key;
    if (registry.OpenKey(hRoot, sPath, KEY_READ | dwView, &key) != ERROR_SUCCESS) {
        return {};
    }
    return Platform::FoldCase(key.GetPath());
}

// The entries of a snapshot at and below a key.
inline CSnapshot Subtree(const CSnapshot& all, const std::wstring& sReal) {
    CSnapshot out;
    for (const std::wstring& sEntry : all) {
        const std::wstring sRest = sEntry.substr(2);
        if (sRest == sReal || sRest.rfind(sReal + L"\\", 0) == 0 ||
            sRest.rfind(sReal + L"|", 0) == 0) {
            out.insert(sEntry);
        }
    }
    return out;
}

// A finding as the demo's expectations name it: category, root name, folded path, view (0 for a
// file) and description.
using CFindingKey = std::tuple<std::int32_t, std::wstring, std::wstring, REGSAM, std::wstring>;

inline CFindingKey KeyOf(const CRegError& record) {
    return {record.m_nScanType, GetRootKeyName(record.m_hRoot), Platform::FoldCase(record.m_sPath),
            record.m_hRoot == 0 ? 0 : record.m_dwRegSam, record.m_sDescription};
}

inline CFindingKey KeyOf(const Platform::CDemoEntry& entry) {
    return {static_cast<std::int32_t>(entry.m_dwCategory), entry.m_strRoot,
            Platform::FoldCase(entry.m_strPath), entry.m_dwView, entry.m_strDescription};
}

inline std::string Describe(const CFindingKey& key) {
    return WideToUtf8(FormatText(L"%#x %ls\\%ls (view %#x): %ls", std::get<0>(key),
                                 std::get<1>(key).c_str(), std::get<2>(key).c_str(),
                                 std::get<3>(key), std::get<4>(key).c_str()));
}

}  // namespace Branwick::Testing
