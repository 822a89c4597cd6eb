// Test support: the renames and deletions a target has scheduled for the next start, as text with
// each NUL shown as '|'; "<none>" when there is no such list.
#pragma once

#include <string>

#include "platform/registry/registry.h"

namespace CorvaneTest {

inline std::wstring PendingRenames(const Branwick::Platform::CRegistry& registry) {
    using namespace Branwick;
    Platform::CRegKey key;
    DWORD dwType = 0;
    Platform::CRegBytes data;
    if (registry.OpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                         KEY_READ, &key) != ERROR_SUCCESS ||
        key.QueryValue(L"PendingFileRenameOperations", &dwType, &data) != ERROR_SUCCESS ||
        dwType != REG_MULTI_SZ) {
        return L"<none>";
    }
    std::wstring text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const wchar_t ch = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        text += ch ? ch : L'|';
    }
    return text;
}

}  // namespace CorvaneTest
