// The key tree through the public API: names, order, values, error codes, handles.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/registry/registry.h"
#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform {
namespace {

using RegTest::Dword;
using RegTest::ReadSz;
using RegTest::SubKeys;
using RegTest::Sz;

TEST(RegistryTree, NamesFoldUnicodeCaseAndKeepTheirSpelling) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey key;
    bool created = false;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Ärger\\ΣΊΣΥΦΟΣ", 0, &key, &created),
              ERROR_SUCCESS);
    EXPECT_TRUE(created);
    ASSERT_EQ(key.SetValue(L"Straße", REG_SZ, Sz(L"x")), ERROR_SUCCESS);

    CRegKey again;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"software\\ärger\\σίσυφοσ", 0, &again, &created),
              ERROR_SUCCESS);
    EXPECT_FALSE(created);
    EXPECT_EQ(ReadSz(reg, HKEY_CURRENT_USER, L"SOFTWARE\\ÄRGER\\σίσυφοσ", L"STRASSE"), L"<missing>")
        << "simple folding does not expand ß";
    EXPECT_EQ(ReadSz(reg, HKEY_CURRENT_USER, L"SOFTWARE\\ÄRGER\\σίσυφοσ", L"straße"), L"x");
    EXPECT_EQ(SubKeys(reg, HKEY_CURRENT_USER, L"Software"),
              (std::vector<std::wstring>{L"Classes", L"Ärger"}));
    CRegValue value;
    ASSERT_EQ(again.EnumValue(0, &value), ERROR_SUCCESS);
    EXPECT_EQ(value.m_strName, L"Straße");
    EXPECT_EQ(again.GetPath(), L"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Ärger\\ΣΊΣΥΦΟΣ");
}

TEST(RegistryTree, SubkeysSortedCaseInsensitivelyValuesInCreationOrder) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Order", 0, &key), ERROR_SUCCESS);
    for (const wchar_t* name : {L"b", L"UPPER", L"a b", L"_under", L"ab", L"A", L"Émile", L"Zed"}) {
        CRegKey sub;
        ASSERT_EQ(key.CreateKey(name, 0, &sub), ERROR_SUCCESS);
    }
    // Lower-case comparison puts '_' before letters, and the shorter name first on a tie.
    EXPECT_EQ(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software\\Order"),
              (std::vector<std::wstring>{L"_under", L"A", L"a b", L"ab", L"b", L"UPPER", L"Zed",
                                         L"Émile"}));

    for (const wchar_t* name : {L"zeta", L"Alpha", L"", L"mid"}) {
        ASSERT_EQ(key.SetValue(name, REG_SZ, Sz(name)), ERROR_SUCCESS);
    }
    ASSERT_EQ(key.SetValue(L"ALPHA", REG_DWORD, Dword(7)), ERROR_SUCCESS);  // replaces in place
    std::vector<std::wstring> names;
    CRegValue value;
    for (DWORD i = 0; key.EnumValue(i, &value) == ERROR_SUCCESS; ++i) {
        names.push_back(value.m_strName);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"zeta", L"Alpha", L"", L"mid"}));
    ASSERT_EQ(key.EnumValue(1, &value), ERROR_SUCCESS);
    EXPECT_EQ(value.m_dwType, REG_DWORD);
    EXPECT_EQ(value.m_vData, Dword(7));
    EXPECT_EQ(key.EnumValue(4, &value), ERROR_NO_MORE_ITEMS);
}

TEST(RegistryTree, ManyValuesStayFindableAfterDeletes) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Big", 0, &key), ERROR_SUCCESS);
    for (int i = 99; i >= 0; --i) {
        ASSERT_EQ(key.SetValue(L"v" + std::to_wstring(i), REG_DWORD,
                               Dword(static_cast<std::uint32_t>(i))),
                  ERROR_SUCCESS);
    }
    for (int i = 0; i < 100; i += 3) {
        ASSERT_EQ(key.DeleteValue(L"V" + std::to_wstring(i)), ERROR_SUCCESS);
    }
    DWORD type = 0;
    CRegBytes data;
    for (int i = 0; i < 100; ++i) {
        const LONG expected = i % 3 == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
        ASSERT_EQ(key.QueryValue(L"v" + std::to_wstring(i), &type, &data), expected) << i;
    }
    CRegValue first;
    ASSERT_EQ(key.EnumValue(0, &first), ERROR_SUCCESS);
    EXPECT_EQ(first.m_strName, L"v98");  // creation order survives the deletes
}

// Subkeys removed from the front half, the back half and the front again, with new ones added in
// between: the order and every lookup stay right however the removals are stored.
TEST(RegistryTree, SubkeysStayInOrderThroughRemovalsAtBothEnds) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey parent;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Many", 0, &parent), ERROR_SUCCESS);
    std::set<std::wstring> expected;
    auto name = [](int i) { return L"k" + std::to_wstring(1000 + i); };
    for (int i = 0; i < 300; ++i) {
        CRegKey child;
        ASSERT_EQ(parent.CreateKey(name(i), 0, &child), ERROR_SUCCESS);
        expected.insert(name(i));
    }
    for (int i = 0; i < 300; ++i) {
        const int n = i % 2 == 0 ? i / 2 : 299 - i / 2;  // from both ends towards the middle
        if (i % 7 == 3) {
            CRegKey child;
            ASSERT_EQ(parent.CreateKey(L"a" + std::to_wstring(i), 0, &child), ERROR_SUCCESS);
            expected.insert(L"a" + std::to_wstring(i));
        }
        if (n % 5 != 0) {
            ASSERT_EQ(parent.DeleteKey(name(n)), ERROR_SUCCESS) << n;
            expected.erase(name(n));
        }
    }
    const std::vector<std::wstring> subkeys = SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software\\Many");
    EXPECT_EQ(subkeys, std::vector<std::wstring>(expected.begin(), expected.end()));
    for (const std::wstring& strName : expected) {
        CRegKey child;
        EXPECT_EQ(parent.OpenKey(strName, 0, &child), ERROR_SUCCESS) << std::string(strName.begin(), strName.end());
    }
}

TEST(RegistryTree, LookupsInAnyOrderFindTheirOwnSubkey) {
    // Searches start where the last one ended; whatever order they come in, each must find its
    // own subkey, and a name between two subkeys none.
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey parent;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Many", 0, &parent), ERROR_SUCCESS);
    std::vector<int> order(200);
    for (int i = 0; i < 200; ++i) {
        order[static_cast<std::size_t>(i)] = (i * 73) % 200;  // every number once, scattered
    }
    auto name = [](int i) { return L"k" + std::to_wstring(1000 + 2 * i); };
    auto gap = [](int i) { return L"K" + std::to_wstring(1001 + 2 * i); };  // between two names
    for (const int i : order) {
        CRegKey child;
        ASSERT_EQ(parent.CreateKey(name(i), 0, &child), ERROR_SUCCESS);
    }
    auto expectFound = [&](int i) {
        CRegKey child;
        EXPECT_EQ(parent.OpenKey(name(i), 0, &child), ERROR_SUCCESS) << i;
        EXPECT_EQ(child.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Many\\" + name(i)) << i;
        EXPECT_EQ(parent.OpenKey(gap(i), 0, &child), ERROR_FILE_NOT_FOUND) << i;
    };
    for (int i = 0; i < 200; ++i) {
        expectFound(i);
    }
    for (int i = 199; i >= 0; --i) {
        expectFound(i);
    }
    for (const int i : order) {
        expectFound(i);
    }
    // Deleting in order, as a fix does, while looking each next one up.
    for (int i = 0; i < 200; i += 2) {
        ASSERT_EQ(parent.DeleteKey(name(i)), ERROR_SUCCESS) << i;
        expectFound(i + 1);
    }
    EXPECT_EQ(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software\\Many").size(), 100u);
}

TEST(RegistryTree, ErrorCodesAreWindowsOnes) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey key;
    EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Missing", KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"\\Software", 0, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(reg.OpenKey(HKEY_PERFORMANCE_DATA, L"", 0, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(reg.OpenKey(0x12345678u, L"", 0, &key), ERROR_INVALID_HANDLE);

    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\\\App\\", KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(key.GetPath(), L"HKEY_LOCAL_MACHINE\\Software\\Vendor\\App");
    DWORD type = 0;
    CRegBytes data;
    EXPECT_EQ(key.QueryValue(L"nope", &type, &data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.DeleteValue(L"nope"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(key.SetValue(L"", REG_SZ, Sz(L"default")), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryValue(L"", &type, &data, 16),
              ERROR_SUCCESS);  // 7 chars + terminator = 16 bytes
    EXPECT_EQ(key.QueryValue(L"", &type, &data, 15), ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(data.empty());

    std::wstring name;
    CRegKey vendor;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor", 0, &vendor), ERROR_SUCCESS);
    EXPECT_EQ(vendor.EnumKey(0, &name, 3), ERROR_MORE_DATA);  // "App" needs 4 with its terminator
    EXPECT_EQ(vendor.EnumKey(0, &name, 4), ERROR_SUCCESS);
    EXPECT_EQ(vendor.EnumKey(1, &name), ERROR_NO_MORE_ITEMS);
    CRegValue value;
    EXPECT_EQ(key.EnumValue(0, &value, 1, 16), ERROR_SUCCESS);
    EXPECT_EQ(key.EnumValue(0, &value, 1, 15), ERROR_MORE_DATA);

    EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor"),
              ERROR_ACCESS_DENIED);  // has a subkey
    EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Vendor\\Gone"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg.DeleteTree(HKEY_CLASSES_ROOT, L""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg.DeleteTree(HKEY_CURRENT_USER, L""), ERROR_ACCESS_DENIED);
    // HKEY_USERS itself belongs to no store: a key made there could never be saved.
    EXPECT_EQ(reg.CreateKey(HKEY_USERS, L"S-1-5-21-9", 0, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, std::wstring(256, L'n'), 0, &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, std::wstring(255, L'n'), 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(key.SetValue(std::wstring(16384, L'v'), REG_NONE, {}), ERROR_INVALID_PARAMETER);
}

TEST(RegistryTree, KeyDeletedWhileOpenReportsKeyDeleted) {
    CRegistry reg = CRegistry::CreateInMemory();
    CRegKey parent;
    CRegKey child;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Doomed", 0, &parent), ERROR_SUCCESS);
    ASSERT_EQ(parent.CreateKey(L"Child\\Grandchild", 0, &child), ERROR_SUCCESS);
    ASSERT_EQ(child.SetValue(L"v", REG_SZ, Sz(L"1")), ERROR_SUCCESS);

    ASSERT_EQ(parent.DeleteTree(L""), ERROR_SUCCESS);
    DWORD type = 0;
    CRegBytes data;
    std::wstring name;
    CRegKeyInfo info;
    CRegKey other;
    EXPECT_EQ(child.QueryValue(L"v", &type, &data), ERROR_KEY_DELETED);
    EXPECT_EQ(child.SetValue(L"v", REG_SZ, Sz(L"2")), ERROR_KEY_DELETED);
    EXPECT_EQ(child.QueryInfo(&info), ERROR_KEY_DELETED);
    EXPECT_EQ(parent.EnumKey(0, &name), ERROR_KEY_DELETED);
    EXPECT_EQ(parent.CreateKey(L"New", 0, &other), ERROR_KEY_DELETED);
    EXPECT_EQ(parent.DeleteKey(L""), ERROR_KEY_DELETED);
    EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Doomed", 0, &other),
              ERROR_FILE_NOT_FOUND);
    // A key made again under the same name is a new key; the old handle stays dead.
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Doomed", 0, &other), ERROR_SUCCESS);
    EXPECT_EQ(parent.QueryInfo(&info), ERROR_KEY_DELETED);
    child.Close();
    parent.Close();
    EXPECT_EQ(parent.QueryInfo(&info), ERROR_INVALID_HANDLE);
}

TEST(RegistryTree, QueryInfoCountsAndLongestLengths) {
    CRegistry reg = CRegistry::CreateInMemory();
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, R"(
[Software\\Info\\short]
[Software\\Info\\a much longer name]
#class="ClassName"
[Software\\Info]
@="default value"
"LongerValueName"=dword:00000001
"bin"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22
)")
                    .Ok());
    CRegKey key;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Info", KEY_READ, &key), ERROR_SUCCESS);
    CRegKeyInfo info;
    ASSERT_EQ(key.QueryInfo(&info), ERROR_SUCCESS);
    EXPECT_EQ(info.m_dwSubKeys, 2u);
    EXPECT_EQ(info.m_dwMaxSubKeyLen, 18u);
    EXPECT_EQ(info.m_dwMaxClassLen, 9u);
    EXPECT_EQ(info.m_dwValues, 3u);
    EXPECT_EQ(info.m_dwMaxValueNameLen, 15u);
    EXPECT_EQ(info.m_dwMaxValueLen, 34u);
    EXPECT_GT(info.m_qwLastWriteTime, 0u);

    // The longest lengths follow subkeys that come and go.
    ASSERT_EQ(key.DeleteKey(L"a much longer name"), ERROR_SUCCESS);
    ASSERT_EQ(key.QueryInfo(&info), ERROR_SUCCESS);
    EXPECT_EQ(info.m_dwMaxSubKeyLen, 5u);
    EXPECT_EQ(info.m_dwMaxClassLen, 0u);
    CRegKey added;
    ASSERT_EQ(key.CreateKey(L"a name of 20 letters", 0, &added), ERROR_SUCCESS);
    ASSERT_TRUE(
        reg.ImportText(HKEY_LOCAL_MACHINE, "[Software\\\\Info\\\\short]\n#class=\"C\"\n").Ok());
    ASSERT_EQ(key.QueryInfo(&info), ERROR_SUCCESS);
    EXPECT_EQ(info.m_dwSubKeys, 2u);
    EXPECT_EQ(info.m_dwMaxSubKeyLen, 20u);
    EXPECT_EQ(info.m_dwMaxClassLen, 1u);
}

TEST(RegistryTree, ReloadReturnsToTheLastFlush) {
    CRegistry reg = CRegistry::CreateInMemory();
    EXPECT_FALSE(reg.IsDirty());
    CRegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Kept", 0, &key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"v", REG_SZ, Sz(L"flushed")), ERROR_SUCCESS);
    CRegKey other;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Other", 0, &other), ERROR_SUCCESS);
    EXPECT_TRUE(reg.IsDirty());
    ASSERT_TRUE(reg.Flush().Ok());
    EXPECT_FALSE(reg.IsDirty());
    ASSERT_EQ(key.SetValue(L"v", REG_SZ, Sz(L"flushed")), ERROR_SUCCESS);
    EXPECT_FALSE(reg.IsDirty()) << "writing the same data changes nothing";

    ASSERT_EQ(key.SetValue(L"v", REG_SZ, Sz(L"changed")), ERROR_SUCCESS);
    ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Other"), ERROR_SUCCESS);
    ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Classes"), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(reg.Reload().Ok());
    EXPECT_FALSE(reg.IsDirty());
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, L"Software\\Kept", L"v"), L"flushed");
    EXPECT_EQ(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software"),
              (std::vector<std::wstring>{L"Classes", L"Kept", L"Other"}));
    CRegKeyInfo info;
    EXPECT_EQ(key.QueryInfo(&info), ERROR_KEY_DELETED) << "keys opened before a reload are gone";
}

TEST(RegistryTree, ImportAndExportUseWineNotation) {
    CRegistry reg = CRegistry::CreateInMemory();
    const std::string text = R"(
[Software\\Export\\Sub\[1\]]
"Multi"=str(7):"a\0b\0"
@=dword:0000002a

[Software\\Export\\Z]
#class="cls"
"Bin"=hex(b):01,00,00,00,00,00,00,00
)";
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, text).Ok());
    EXPECT_EQ(reg.ExportText(HKEY_LOCAL_MACHINE, L"Software\\Export"),
              "\n[Sub\\[1\\]]\n@=dword:0000002a\n\"Multi\"=str(7):\"a\\0b\\0\"\n"
              "\n[Z]\n#class=\"cls\"\n\"Bin\"=hex(b):01,00,00,00,00,00,00,00\n");
    const CStatus bad = reg.ImportText(HKEY_LOCAL_MACHINE, "[Software\\\\X]\nnot a value\n");
    EXPECT_EQ(bad.m_lCode, ERROR_INVALID_DATA);
    EXPECT_NE(bad.m_strText.find(L"Unrecognized input"), std::wstring::npos);
}

TEST(RegistryTree, SeveralThreadsAtOnce) {
    CRegistry reg = CRegistry::CreateInMemory();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&reg, t] {
            for (int i = 0; i < 200; ++i) {
                CRegKey key;
                const std::wstring path =
                    L"Software\\T" + std::to_wstring(t) + L"\\K" + std::to_wstring(i % 10);
                if (reg.CreateKey(HKEY_LOCAL_MACHINE, path, 0, &key) == ERROR_SUCCESS) {
                    key.SetValue(L"n", REG_DWORD, Dword(static_cast<std::uint32_t>(i)));
                }
                SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software");
                if (i % 7 == 0) {
                    reg.DeleteTree(HKEY_LOCAL_MACHINE,
                                   L"Software\\T" + std::to_wstring((t + 1) % 4));
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_TRUE(reg.Flush().Ok());
    EXPECT_GE(SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software").size(), 1u);
}

}  // namespace
}  // namespace Branwick::Platform
