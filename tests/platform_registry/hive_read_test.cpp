// Reading binary hives into the key tree: every fixture hive whole and exactly as hivex sees it,
// Unicode names, and damaged files.
#include <gtest/gtest.h>

#include <functional>

#include "platform/registry/hive_store.h"
#include "platform/text/text.h"
#include "tests/platform_registry/hive_util.h"

namespace Branwick::Platform {
namespace {

using Reg::CHiveStore;
using Reg::CKeyNode;
using RegTest::FixtureHive;

struct CLoaded {
    CStatus m_status;
    std::unique_ptr<CKeyNode> m_pRoot = std::make_unique<CKeyNode>(u"Root");
    std::vector<std::wstring> m_vWarnings;
};

CLoaded Load(const std::string& path) {
    CLoaded out;
    CHiveStore store(path, L"hive");
    out.m_pRoot->Set(Reg::kNodeMount, true);
    out.m_status = store.Load(out.m_pRoot.get(), &out.m_vWarnings);
    return out;
}

// The tree in the form DumpHive gives hivex's view, with UTF-8 names.
void DumpTree(const CKeyNode& key, const std::string& path, RegTest::CHiveDump* pOut) {
    std::string& values = (*pOut)[path];
    for (const Reg::CValue& v : key.Values()) {
        values += ToUtf8(Reg::ToWide(v.m_strName)) + '|' + std::to_string(v.m_dwType) + '|' +
                  std::string(v.m_vData.begin(), v.m_vData.end()) + '\n';
    }
    for (std::size_t i = 0; i < key.ChildCount(); ++i) {
        const std::string name = ToUtf8(Reg::ToWide(key.Child(i)->Name()));
        DumpTree(*key.Child(i), path.empty() ? name : path + "\\" + name, pOut);
    }
}

std::pair<std::size_t, std::size_t> Count(const CKeyNode& key) {
    std::pair<std::size_t, std::size_t> n{1, key.Values().size()};
    for (std::size_t i = 0; i < key.ChildCount(); ++i) {
        const auto sub = Count(*key.Child(i));
        n.first += sub.first;
        n.second += sub.second;
    }
    return n;
}

TEST(HiveRead, EveryFixtureHiveLoadsWholeAndAsHivexSeesIt) {
    SKIP_WITHOUT_FIXTURES();
    // Keys (with the root) and values, as the reference measured them.
    const struct {
        const char* m_pName;
        std::size_t m_nKeys;
        std::size_t m_nValues;
    } hives[] = {
        {"regipy__SYSTEM_WIN_10_1709", 43211, 90307},
        {"regipy__SYSTEM_B", 33123, 74957},
        {"regipy__SYSTEM", 30756, 73456},
        {"regipy__NTUSER_BAGMRU.DAT", 6279, 15912},
        {"regipy__UsrClass.dat", 6205, 12369},
        {"regipy__NTUSER.DAT", 1812, 4094},
        {"regipy__transactions_NTUSER.DAT", 2590, 4119},
        {"museum__Win10_NTUSER.DAT", 3182, 5072},
        {"museum__Win10_UsrClass.dat", 6374, 12914},
        {"museum__Win10_DEFAULT", 354, 1325},
        {"aiowinreg_nt4__software.reg", 2221, 3198},
        {"aiowinreg_nt4__system.reg", 1971, 5841},
    };
    for (const auto& hive : hives) {
        SCOPED_TRACE(hive.m_pName);
        const std::string path = FixtureHive(hive.m_pName);
        ASSERT_FALSE(path.empty());
        CLoaded loaded = Load(path);
        ASSERT_TRUE(loaded.m_status.Ok()) << ToUtf8(loaded.m_status.m_strText);
        EXPECT_EQ(Count(*loaded.m_pRoot), std::make_pair(hive.m_nKeys, hive.m_nValues));
        RegTest::CHiveDump tree;
        DumpTree(*loaded.m_pRoot, "", &tree);
        EXPECT_TRUE(tree == RegTest::DumpHive(path)) << "names, types or data differ from hivex's";
        for (const std::wstring& w : loaded.m_vWarnings) {
            EXPECT_NE(w.find(L"not shut down cleanly"), std::wstring::npos) << ToUtf8(w);
        }
    }
}

const CKeyNode* Find(const CKeyNode& root, std::initializer_list<const char16_t*> path) {
    const CKeyNode* node = &root;
    for (const char16_t* name : path) {
        node = node != nullptr ? node->FindChild(name) : nullptr;
    }
    return node;
}

TEST(HiveRead, BigDataWholeUnknownTypesRawDirtyHiveWarned) {
    SKIP_WITHOUT_FIXTURES();
    CLoaded loaded = Load(FixtureHive("regipy__SYSTEM_WIN_10_1709"));
    ASSERT_TRUE(loaded.m_status.Ok());
    const CKeyNode* options =
        Find(*loaded.m_pRoot, {u"controlset001", u"CONTROL", u"productoptions"});
    ASSERT_NE(options, nullptr);
    const Reg::CValue* policy = options->FindValue(u"productpolicy");
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(policy->m_vData.size(), 59044u) << "a big-data record is read whole";
    // ProductPolicy starts with its own size.
    EXPECT_EQ(policy->m_vData[0] | policy->m_vData[1] << 8 | policy->m_vData[2] << 16, 59044);

    std::size_t devprops = 0;
    const CKeyNode* containers =
        Find(*loaded.m_pRoot, {u"ControlSet001", u"Control", u"DeviceContainers"});
    ASSERT_NE(containers, nullptr);
    std::function<void(const CKeyNode&)> walk = [&](const CKeyNode& key) {
        for (const Reg::CValue& v : key.Values()) {
            devprops += v.m_dwType == 0xFFFF2012u ? 1 : 0;
        }
        for (std::size_t i = 0; i < key.ChildCount(); ++i) {
            walk(*key.Child(i));
        }
    };
    walk(*containers);
    EXPECT_GT(devprops, 0u) << "type 0xFFFF2012 is kept as it is";
    ASSERT_EQ(loaded.m_vWarnings.size(), 1u);
    EXPECT_NE(loaded.m_vWarnings[0].find(L"not shut down cleanly"), std::wstring::npos);
}

TEST(HiveRead, NamesFoldUnicodeCaseWhereHivexOnlyFoldsAscii) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    const std::string path = dir.Path() + "/NTUSER.DAT";
    RegTest::CopyFixture("regipy__NTUSER.DAT", path);
    // Plant the names with hivex itself, as another tool would have written them.
    hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    const hive_node_h software = hivex_node_get_child(h, hivex_root(h), "Software");
    const hive_node_h key = hivex_node_add_child(h, software, "Ärger Σίσυφος");
    ASSERT_NE(key, 0u);
    char data[] = "x\0\0";
    hive_set_value value{const_cast<char*>("Größe"), hive_t_REG_SZ, 4, data};
    ASSERT_EQ(hivex_node_set_value(h, key, &value, 0), 0);
    EXPECT_EQ(hivex_node_get_child(h, software, "ärger σίσυφοσ"), 0u) << "hivex folds ASCII only";
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);

    CLoaded loaded = Load(path);
    ASSERT_TRUE(loaded.m_status.Ok());
    const CKeyNode* found = Find(*loaded.m_pRoot, {u"SOFTWARE", u"äRGER ΣΊΣΥΦΟΣ"});
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Name(), u"Ärger Σίσυφος") << "the stored spelling is kept";
    ASSERT_NE(found->FindValue(u"GRÖßE"), nullptr);
    EXPECT_EQ(found->FindValue(u"GRÖßE")->m_strName, u"Größe");

    // Another tool wrote one name twice (in another case); the first stays, the hive is not
    // written.
    h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        names.push_back(i == 17 ? "V3" : "v" + std::to_string(i));
    }
    std::vector<hive_set_value> many;
    for (std::string& name : names) {
        many.push_back({name.data(), hive_t_REG_SZ, 4, data});
    }
    const hive_node_h twice = hivex_node_add_child(h, software, "Twice");
    ASSERT_EQ(hivex_node_set_values(h, twice, many.size(), many.data(), 0), 0);
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);
    loaded = Load(path);
    ASSERT_TRUE(loaded.m_status.Ok());
    const CKeyNode* dup = Find(*loaded.m_pRoot, {u"Software", u"Twice"});
    ASSERT_NE(dup, nullptr);
    ASSERT_EQ(dup->Values().size(), 19u);
    EXPECT_EQ(dup->Values()[3].m_strName, u"v3");
    EXPECT_EQ(dup->Values()[17].m_strName, u"v18") << "the order of the file is kept";
    ASSERT_EQ(loaded.m_vWarnings.size(), 1u);
    EXPECT_NE(loaded.m_vWarnings[0].find(L"'V3' appears twice"), std::wstring::npos);

    // Names outside the BMP (UTF-16 surrogate pairs in the file) survive.
    CLoaded emoji = Load(FixtureHive("regipy__transactions_NTUSER.DAT"));
    ASSERT_TRUE(emoji.m_status.Ok());
    EXPECT_NE(Find(*emoji.m_pRoot, {u"control panel", u"International", u"🌎🌏🌍"}), nullptr);
}

TEST(HiveRead, DamagedFilesGiveClearErrors) {
    SKIP_WITHOUT_FIXTURES();
    RegTest::CTempDir dir;
    CLoaded corrupt = Load(FixtureHive("regipy__corrupted_system_hive"));
    EXPECT_EQ(corrupt.m_status.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(corrupt.m_status.m_strText.find(L"damaged"), std::wstring::npos)
        << ToUtf8(corrupt.m_status.m_strText);

    const std::string whole = RegTest::ReadAll(FixtureHive("regipy__NTUSER.DAT"));
    const std::string truncated = dir.Path() + "/truncated";
    RegTest::Touch(truncated, whole.substr(0, 65536));
    EXPECT_EQ(Load(truncated).m_status.m_lCode, ERROR_REGISTRY_CORRUPT);

    std::string badSum = whole;
    badSum[0x100] ^= 1;
    RegTest::Touch(dir.Path() + "/badsum", badSum);
    const CLoaded sum = Load(dir.Path() + "/badsum");
    EXPECT_EQ(sum.m_status.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(sum.m_status.m_strText.find(L"shut it down cleanly"), std::wstring::npos);

    RegTest::Touch(dir.Path() + "/text", "WINE REGISTRY Version 2\n");
    EXPECT_EQ(Load(dir.Path() + "/text").m_status.m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_EQ(Load(dir.Path() + "/missing").m_status.m_lCode, ERROR_CANTREAD);

    // A damaged value record: the rest is read, the damage reported, and writing refused.
    std::string holed = whole;
    hive_h* h = hivex_open(FixtureHive("regipy__NTUSER.DAT").c_str(), 0);
    ASSERT_NE(h, nullptr);
    const hive_node_h env = hivex_node_get_child(h, hivex_root(h), "Environment");
    hive_value_h* values = hivex_node_values(h, env);
    ASSERT_NE(values, nullptr);
    ASSERT_NE(values[0], 0u);
    holed[values[0] + 4] = 'x';  // the "vk" signature of Environment's first value
    std::free(values);
    hivex_close(h);
    const std::string holedPath = dir.Path() + "/holed";
    RegTest::Touch(holedPath, holed);
    CHiveStore store(holedPath, L"holed");
    auto root = std::make_unique<CKeyNode>(u"Root");
    root->Set(Reg::kNodeMount, true);
    std::vector<std::wstring> warnings;
    ASSERT_TRUE(store.Load(root.get(), &warnings).Ok());
    ASSERT_NE(root->FindChild(u"Environment"), nullptr);
    EXPECT_TRUE(root->FindChild(u"Environment")->Values().empty());
    EXPECT_NE(root->FindChild(u"Software"), nullptr);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(L"'Environment'"), std::wstring::npos) << ToUtf8(warnings[0]);
    root->Set(Reg::kNodeDirty, true);
    const CStatus write = store.Prepare(*root);
    EXPECT_EQ(write.m_lCode, ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(write.m_strText.find(L"not read completely"), std::wstring::npos);
}

}  // namespace
}  // namespace Branwick::Platform
