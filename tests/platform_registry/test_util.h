// Helpers shared by the registry tests.
#pragma once

#include <string>

#include "platform/registry/registry.h"

namespace Branwick::Platform::RegTest {

// REG_SZ data as Windows stores it: UTF-16LE with the terminator.
inline CRegBytes Sz(const std::wstring& s) {
    CRegBytes out;
    for (wchar_t c : s) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

inline CRegBytes Dword(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// The names of the subkeys of root\path in enumeration order.
inline std::vector<std::wstring> SubKeys(const CRegistry& reg, HKEY root, const std::wstring& path,
                                         REGSAM sam = 0) {
    std::vector<std::wstring> out;
    CRegKey key;
    if (reg.OpenKey(root, path, sam, &key) != ERROR_SUCCESS) {
        return out;
    }
    std::wstring name;
    for (DWORD i = 0; key.EnumKey(i, &name) == ERROR_SUCCESS; ++i) {
        out.push_back(name);
    }
    return out;
}

// The value's data as a string, or "<missing>".
inline std::wstring ReadSz(const CRegistry& reg, HKEY root, const std::wstring& path,
                           const std::wstring& name, REGSAM sam = 0) {
    CRegKey key;
    DWORD type = 0;
    CRegBytes data;
    if (reg.OpenKey(root, path, sam, &key) != ERROR_SUCCESS ||
        key.QueryValue(name, &type, &data) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    std::wstring out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) {
            break;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace Branwick::Platform::RegTest

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace Branwick::Platform::RegTest {

// A fresh folder, removed with everything in it at the end of the test.
class CTempDir {
public:
    CTempDir() {
        char path[] = "/tmp/corvane-registry-XXXXXX";
        m_sPath = mkdtemp(path);
    }
    ~CTempDir() { std::filesystem::remove_all(m_sPath); }
    const std::string& Path() const { return m_sPath; }

private:
    std::string m_sPath;
};

using CorvaneTest::ReadAll;
using CorvaneTest::Touch;

// The fixture folder of a Wine prefix, or empty (the caller skips) when the fixtures are absent.
inline std::string WineFixture(const char* name) {
    const std::string dir = std::string(CORVANE_FIXTURES_DIR) + "/" + name;
    return std::filesystem::exists(dir + "/system.reg") ? dir : std::string();
}

}  // namespace Branwick::Platform::RegTest
