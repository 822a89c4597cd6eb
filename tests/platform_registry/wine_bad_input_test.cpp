// Input that no wineserver wrote: each gets a clear error or is skipped as wineserver skips it,
// and whatever was read survives a save and a second read unchanged.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry/key_tree.h"
#include "platform/registry/wine_text.h"
#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform {
namespace {

using Reg::CKeyNode;

struct CLoaded {
    CStatus m_status;
    std::vector<std::wstring> m_vWarnings;
    std::string m_strSaved;  // the tree written back, without header
};

CLoaded Load(const std::string& text) {
    CKeyNode root(u"");
    root.m_qwTime = 1;
    Reg::CLineReader reader(text);
    Reg::CWineParseOptions options;
    options.m_strFileName = "bad.reg";
    options.m_qwLoadTime = 0x1dd85d6a3ae199aULL;
    Reg::CWineParseResult result = Reg::ParseWineText(&reader, &root, options);
    CLoaded loaded{result.m_status, result.m_vWarnings, {}};
    Reg::CTextOut out;
    Reg::WriteWineText(root, Reg::CWineWriteOptions{}, &out);
    loaded.m_strSaved = out.Text();
    return loaded;
}

// What a line gives after the magic line and a key.
CLoaded LoadInKey(const std::string& lines) {
    return Load("WINE REGISTRY Version 2\n[K] 1700000000\n" + lines);
}

std::string Section(const std::string& values) {
    return "\n[K] 1700000000\n#time=1da1747c66d0000\n" + values;
}

std::string Narrow(const std::wstring& s) {
    return std::string(s.begin(), s.end());
}

TEST(WineBadInput, MalformedValuesAreSkippedOrKeptEmptyAsWineDoes) {
    struct CCase {
        const char* m_pszLine;
        const char* m_pszWarning;  // nullptr: none
        const char* m_pszSaved;
    };
    const CCase cases[] = {
        {"\"v\"=\"unterminated\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v=\"1\"\n", "Malformed value name", ""},
        {"\"v\" \"1\"\n", "Malformed value name", ""},
        {"@junk=\"1\"\n", "Malformed value name", ""},
        {"\"v\"=hex:100\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v\"=hex:01;02\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v\"=hex:01,02 03\n", nullptr, "\"v\"=hex:01,02,03\n"},
        {"\"v\"=hex(zz):01\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v\"=hex(7\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v\"=hex:01,\\\n", "Malformed value", "\"v\"=hex(0):\n"},  // continuation at the end
        {"\"v\"=bogus:1\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"v\"=hex():01\n", nullptr, "\"v\"=hex(0):01\n"},  // strtoul reads no digits: type 0
        {"\"v\"=dword:zz\n", nullptr, "\"v\"=dword:00000000\n"},
        {"\"v\"=dword:123456789\n", nullptr, "\"v\"=dword:23456789\n"},
        {"\"v\"=hex:0x1f, 2 ,3\n", nullptr, "\"v\"=hex:1f,02,03\n"},
        {"\"v\"=\"a\\x12345\"\n", nullptr, "\"v\"=\"a\\x12345\"\n"},
        {"\"v\"=\"end\\\n", "Malformed value", "\"v\"=hex(0):\n"},
        {"\"n\\0ul\"=\"x\"\n", nullptr, "\"n\\0ul\"=\"x\"\n"},
        {"\"\"=\"empty name is the default\"\n", nullptr, "@=\"empty name is the default\"\n"},
    };
    for (const CCase& c : cases) {
        const CLoaded loaded = LoadInKey(c.m_pszLine);
        ASSERT_TRUE(loaded.m_status.Ok()) << c.m_pszLine;
        if (c.m_pszWarning == nullptr) {
            EXPECT_TRUE(loaded.m_vWarnings.empty()) << c.m_pszLine;
        } else {
            ASSERT_EQ(loaded.m_vWarnings.size(), 1u) << c.m_pszLine;
            EXPECT_NE(loaded.m_vWarnings[0].find(std::wstring(
                          c.m_pszWarning, c.m_pszWarning + std::strlen(c.m_pszWarning))),
                      std::wstring::npos)
                << c.m_pszLine << " gave " << Narrow(loaded.m_vWarnings[0]);
        }
        EXPECT_EQ(loaded.m_strSaved, Section(c.m_pszSaved)) << c.m_pszLine;
    }
}

TEST(WineBadInput, BrokenKeyLinesLeaveTheirValuesWithoutAKey) {
    const CLoaded unbalanced =
        Load("WINE REGISTRY Version 2\n[Software\\\\Open\n\"v\"=\"1\"\n[Ok]\n");
    ASSERT_EQ(unbalanced.m_vWarnings.size(), 2u);
    EXPECT_NE(unbalanced.m_vWarnings[0].find(L"bad.reg:2: Malformed key"), std::wstring::npos);
    EXPECT_NE(unbalanced.m_vWarnings[1].find(L"bad.reg:3: Value without key"), std::wstring::npos);
    EXPECT_EQ(unbalanced.m_strSaved, "\n[Ok] 1796598480\n#time=1dd85d6a3ae199a\n");

    const CLoaded leading = Load("WINE REGISTRY Version 2\n[\\\\Leading]\n");
    ASSERT_EQ(leading.m_vWarnings.size(), 1u);
    EXPECT_NE(leading.m_vWarnings[0].find(L"Error creating key"), std::wstring::npos);

    // Text after the closing bracket that is no number: the key takes the load time.
    EXPECT_EQ(Load("WINE REGISTRY Version 2\n[A]] x\n").m_strSaved,
              "\n[A] 1796598480\n#time=1dd85d6a3ae199a\n");
}

TEST(WineBadInput, HugeNamesAndDeepNesting) {
    const std::string longName(100000, 'n');
    const CLoaded longKey = Load("WINE REGISTRY Version 2\n[" + longName + "]\n\"v\"=\"1\"\n");
    ASSERT_EQ(longKey.m_vWarnings.size(), 2u);
    EXPECT_NE(longKey.m_vWarnings[0].find(L"name too long"), std::wstring::npos);
    EXPECT_LT(longKey.m_vWarnings[0].size(), 400u) << "the quoted line is cut";

    const CLoaded longValue = LoadInKey("\"" + longName + "\"=\"1\"\n");
    ASSERT_EQ(longValue.m_vWarnings.size(), 1u);
    EXPECT_NE(longValue.m_vWarnings[0].find(L"Value name too long"), std::wstring::npos);
    // The longest names Windows allows load and save.
    const std::string maxKey(255, 'k');
    const std::string maxValue(16383, 'v');
    const CLoaded longest =
        Load("WINE REGISTRY Version 2\n[" + maxKey + "]\n\"" + maxValue + "\"=\"1\"\n");
    EXPECT_TRUE(longest.m_vWarnings.empty());
    EXPECT_NE(longest.m_strSaved.find(maxValue), std::string::npos);

    std::string deep300;
    std::string deep600;
    for (int i = 0; i < 600; ++i) {
        (i < 300 ? deep300 : deep600) += i == 0 ? "d" : "\\\\d";
    }
    const CLoaded d300 = Load("WINE REGISTRY Version 2\n[" + deep300 + "]\n\"v\"=\"1\"\n");
    EXPECT_TRUE(d300.m_vWarnings.empty());
    EXPECT_NE(d300.m_strSaved.find("[" + deep300 + "] "), std::string::npos);
    const CLoaded d600 = Load("WINE REGISTRY Version 2\n[" + deep300 + "\\\\" + deep600 + "]\n");
    ASSERT_EQ(d600.m_vWarnings.size(), 1u);
    EXPECT_NE(d600.m_vWarnings[0].find(L"nested too deep"), std::wstring::npos);
}

TEST(WineBadInput, TruncatedFilesLoadWhatIsThereAndNeverCrash) {
    std::string full =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    for (int i = 0; i < 40; ++i) {
        full += "\n[Software\\\\K" + std::to_string(i) +
                "] 1796598480\n#time=1dd85d6a3ae199a\n#class=\"c\"\n" + "\"s\"=\"caf\\xe9 " +
                std::to_string(i) +
                "\"\n\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,"
                "10,11,12,13,14,15,\\\n  16,17,18\n\"m\"=str(7):\"a\\0b\\0\"\n";
    }
    const std::size_t arch = full.find("#arch=") + 6;
    for (std::size_t cut = 0; cut < full.size(); cut += 7) {
        const std::string part = full.substr(0, cut);
        const CLoaded loaded = Load(part);
        // Not even the magic line, or an architecture cut short ("win"): refused as Wine does.
        if (cut < 23 || (cut >= arch && cut < arch + 5)) {
            EXPECT_EQ(loaded.m_status.m_lCode, ERROR_NOT_REGISTRY_FILE) << cut;
            continue;
        }
        ASSERT_TRUE(loaded.m_status.Ok()) << cut;
        EXPECT_LE(loaded.m_vWarnings.size(), 1u) << cut;  // only the cut line can be bad
        // What was read saves, and reads back to the same tree.
        const CLoaded again = Load("WINE REGISTRY Version 2\n" + loaded.m_strSaved);
        EXPECT_TRUE(again.m_vWarnings.empty()) << cut;
        EXPECT_EQ(again.m_strSaved, loaded.m_strSaved) << cut;
    }
}

TEST(WineBadInput, BinaryGarbageAndNulBytes) {
    std::string garbage = "WINE REGISTRY Version 2\n[K]\n";
    for (int i = 0; i < 4096; ++i) {
        garbage.push_back(static_cast<char>((i * 7919) % 256));
    }
    const CLoaded loaded = Load(garbage);
    EXPECT_TRUE(loaded.m_status.Ok());
    EXPECT_EQ(Load("WINE REGISTRY Version 2\n" + loaded.m_strSaved).m_strSaved, loaded.m_strSaved);
    // A NUL ends the line as fgets and strlen see it.
    EXPECT_EQ(LoadInKey(std::string("\"v\"=\"ab\"\0garbage\n", 17)).m_strSaved,
              Section("\"v\"=\"ab\"\n"));
    EXPECT_EQ(Load(std::string("WINE REGISTRY Version 2\0junk\n", 29)).m_status.m_lCode,
              ERROR_SUCCESS);
}

}  // namespace
}  // namespace Branwick::Platform
