// Whole Wine prefixes for the tests of the loaded library (the real prefix of the fixtures made
// into one: tests/support/wine_fixture.h), and snapshots of a registry and of drive_c to tell what
// a fix run removed.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#include "core/RegError.h"
#include "core/Text.h"
#include "platform/demo/demo.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wine_fixture.h"

namespace Branwick::Testing {

using CorvaneTest::CTempFolder;

// Every key (by its real place, after views and links) and every value of HKEY_LOCAL_MACHINE and
// HKEY_USERS, folded: "K <path>" and "V <path>|<name>".
using CSnapshot = std::set<std::wstring>;

inline void SnapshotKey(const Platform::CRegKey& key, CSnapshot& out) {
    const std::wstring strPath = Platform::FoldCase(key.GetPath());
    if (!out.insert(L"K " + strPath).second) {
        return;  // reached again through a link
    }
    Platform::CRegValue value;
    for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        out.insert(L"V " + strPath + L"|" + Platform::FoldCase(value.m_strName));
    }
    std::wstring strName;
    for (DWORD j = 0; key.EnumKey(j, &strName) == ERROR_SUCCESS; ++j) {
        Platform::CRegKey child;
        if (key.OpenKey(strName, KEY_READ, &child) == ERROR_SUCCESS) {
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
                             const std::wstring& strPath, REGSAM dwView) {
    Platform::CRegKey key;
    if (registry.OpenKey(hRoot, strPath, KEY_READ | dwView, &key) != ERROR_SUCCESS) {
        return {};
    }
    return Platform::FoldCase(key.GetPath());
}

// The entries of a snapshot at and below a key.
inline CSnapshot Subtree(const CSnapshot& all, const std::wstring& strReal) {
    CSnapshot out;
    for (const std::wstring& strEntry : all) {
        const std::wstring strRest = strEntry.substr(2);
        if (strRest == strReal || strRest.rfind(strReal + L"\\", 0) == 0 ||
            strRest.rfind(strReal + L"|", 0) == 0) {
            out.insert(strEntry);
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
