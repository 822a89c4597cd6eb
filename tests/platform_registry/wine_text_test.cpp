// Wine's registry text format: real files round trip byte for byte; every value form, escape and
// odd input is read as wineserver reads it and written as wineserver writes it.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/registry/key_tree.h"
#include "platform/registry/wine_text.h"
#include "tests/platform_registry/test_util.h"

namespace Branwick::Platform {
namespace {

using Reg::CKeyNode;
using RegTest::ReadAll;
using RegTest::ReadSz;
using RegTest::SubKeys;
using RegTest::Sz;

struct CCounts {
    std::size_t m_nKeyLines = 0;
    std::size_t m_nValues = 0;
    std::size_t m_nLinks = 0;
};

void Count(const CKeyNode& node, CCounts* pCounts) {
    if (!node.Values().empty() || node.ChildCount() == 0 || node.Class() != nullptr ||
        node.Has(Reg::kNodeLink)) {
        ++pCounts->m_nKeyLines;
    }
    pCounts->m_nValues += node.Values().size();
    pCounts->m_nLinks += node.Has(Reg::kNodeLink) ? 1 : 0;
    for (std::size_t i = 0; i < node.ChildCount(); ++i) {
        Count(*node.Child(i), pCounts);
    }
}

// Parses text as a file of that name and writes it back with the header it had.
std::string RoundTrip(const std::string& text, const std::string& branch,
                      CCounts* pCounts = nullptr, std::size_t* pWarnings = nullptr) {
    CKeyNode root(u"");
    root.m_qwTime = 1;
    Reg::CLineReader reader(text);
    Reg::CWineParseOptions options;
    options.m_strFileName = "test.reg";
    options.m_qwLoadTime = 0x1dd85d6a3ae199aULL;
    const Reg::CWineParseResult result = Reg::ParseWineText(&reader, &root, options);
    EXPECT_TRUE(result.m_status.Ok())
        << std::string(result.m_status.m_strText.begin(), result.m_status.m_strText.end());
    if (pWarnings != nullptr) {
        *pWarnings = result.m_nWarnings;
    }
    if (pCounts != nullptr) {
        Count(root, pCounts);
    }
    Reg::CTextOut out;
    Reg::CWineWriteOptions write;
    write.m_strBranch = branch;
    write.m_strArch = result.m_strArch;
    Reg::WriteWineText(root, write, &out);
    return out.Text();
}

TEST(WineText, FixturesRoundTripByteForByte) {
    struct CFile {
        const char* m_pszName;
        const char* m_pszBranch;
    };
    const CFile files[] = {{"system.reg", "REGISTRY\\\\Machine"},
                           {"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"},
                           {"userdef.reg", "REGISTRY\\\\User\\\\.Default"}};
    for (const char* prefix : {"wine8-win64", "wine8-win64-nowow"}) {
        const std::string dir = RegTest::WineFixture(prefix);
        if (dir.empty()) {
            GTEST_SKIP() << "fixtures not present: " << CORVANE_FIXTURES_DIR;
        }
        for (const CFile& file : files) {
            const std::string original = ReadAll(dir + "/" + file.m_pszName);
            std::size_t warnings = 0;
            CCounts counts;
            const std::string saved = RoundTrip(original, file.m_pszBranch, &counts, &warnings);
            EXPECT_EQ(warnings, 0u) << prefix << "/" << file.m_pszName;
            ASSERT_EQ(saved.size(), original.size()) << prefix << "/" << file.m_pszName;
            EXPECT_TRUE(saved == original) << prefix << "/" << file.m_pszName;
            if (std::string(prefix) == "wine8-win64" &&
                std::string(file.m_pszName) == "system.reg") {
                EXPECT_EQ(counts.m_nKeyLines, 15684u);
                EXPECT_EQ(counts.m_nValues, 25748u);
                EXPECT_EQ(counts.m_nLinks, 54u);
            }
        }
    }
}

TEST(WineText, ValueFormsAsWineWritesThem) {
    const std::string input =
        R"(WINE REGISTRY Version 2

[Forms] 1796598480
#time=1dd85d6a3ae199a
"StrColon"=str:"typed sz"
"ShortDword"=dword:1
"HexMulti"=hex(7):61,00,00,00,62,00,00,00,00,00
"Unterminated"=hex(7):61,00,62,00
"EmptyMulti"=str(7):""
"None"=hex(0):
"Empty"=""
"EmptyNoNul"=hex(1):
"OddExpand"=hex(2):41,00,42
"ThreeByteDword"=hex(4):01,02,03
"Device"=hex(ffff0012):01
"HexCont"=hex:01,02,\
    03,04
"SpacesAroundEq" = "spaced"
"TrailingJunk"="ok" trailing junk
  "Indented"="leading spaces"
"Crlf"="windows line ending")"
        "\r\n"
        R"("Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20
)";
    const std::string expected = R"(WINE REGISTRY Version 2
;; All keys relative to X

[Forms] 1796598480
#time=1dd85d6a3ae199a
"Crlf"="windows line ending"
"Device"=hex(ffff0012):01
"Empty"=""
"EmptyMulti"=str(7):""
"EmptyNoNul"=hex(1):
"HexCont"=hex:01,02,03,04
"HexMulti"=str(7):"a\0b\0"
"Indented"="leading spaces"
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19,1a,1b,1c,1d,1e,1f,20
"None"=hex(0):
"OddExpand"=hex(2):41,00,42
"ShortDword"=dword:00000001
"SpacesAroundEq"="spaced"
"StrColon"="typed sz"
"ThreeByteDword"=hex(4):01,02,03
"TrailingJunk"="ok"
"Unterminated"=hex(7):61,00,62,00
)";
    std::size_t warnings = 0;
    EXPECT_EQ(RoundTrip(input, "X", nullptr, &warnings), expected);
    EXPECT_EQ(warnings, 0u);
}

TEST(WineText, EscapesDecodeAndEncodeAsWineDoes) {
    CRegistry reg = CRegistry::CreateInMemory();
    const std::string text =
        "[Software\\\\ResearchTest\\\\\\xdcn\\x00efc\\x00f8d\\xe9 key]\n"
        "\"Unicode\"=\"caf\\xe9 \\x4e2d\\x6587 \\xd83d\\xde00 x\"\n"
        "\"UnicodeThenHex\"=\"\\x00e9a1\"\n"
        "\"tab\\tand=equals]\"=\"line\"\n"
        "\"Octal\"=\"a\\101\\7b\\e\\xz\"\n"
        "\"NulThenDigit\"=\"a\\0001\"\n"
        "\"a\\\"b\\\\c\"=\"x\"\n"
        "\"Utf8Raw\"=\"caf\xc3\xa9 \xf0\x9f\x98\x80\"\n"
        "\"BadUtf8\"=\"ab\xff\xfe\xc3"
        "cd\"\n"
        "[Software\\\\ResearchTest\\\\Sub\\[Key\\]With\\]Brackets]\n";
    ASSERT_TRUE(reg.ImportText(HKEY_LOCAL_MACHINE, text).Ok());

    const std::wstring key = L"software\\researchtest\\ünïcødé KEY";
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"Unicode"),
              L"caf\u00e9 \u4e2d\u6587 \xd83d\xde00 x");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"UnicodeThenHex"), L"\u00e9a1");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"TAB\tAND=EQUALS]"), L"line");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"Octal"),
              L"aA\ab\x1b"
              L"xz");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"a\"b\\c"), L"x");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"Utf8Raw"), L"caf\u00e9 \xd83d\xde00");
    EXPECT_EQ(ReadSz(reg, HKEY_LOCAL_MACHINE, key, L"BadUtf8"), L"abcd");
    CRegKey k;
    DWORD type = 0;
    CRegBytes data;
    ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, key, 0, &k), ERROR_SUCCESS);
    ASSERT_EQ(k.QueryValue(L"NulThenDigit", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, (CRegBytes{'a', 0, 0, 0, '1', 0, 0, 0}));
    EXPECT_EQ(
        SubKeys(reg, HKEY_LOCAL_MACHINE, L"Software\\ResearchTest"),
        (std::vector<std::wstring>{L"Sub[Key]With]Brackets", L"\u00dcn\u00efc\u00f8d\u00e9 key"}));

    EXPECT_EQ(reg.ExportText(HKEY_LOCAL_MACHINE, L"Software\\ResearchTest"),
              "\n[Sub\\[Key\\]With\\]Brackets]\n"
              "\n[\\xdcn\\x00efc\\x00f8d\\xe9 key]\n"
              "\"a\\\"b\\\\c\"=\"x\"\n"
              "\"BadUtf8\"=\"abcd\"\n"
              "\"NulThenDigit\"=\"a\\0001\"\n"
              "\"Octal\"=\"aA\\ab\\exz\"\n"
              "\"tab\\tand=equals]\"=\"line\"\n"
              "\"Unicode\"=\"caf\\xe9 \\x4e2d\\x6587 \\xd83d\\xde00 x\"\n"
              "\"UnicodeThenHex\"=\"\\x00e9a1\"\n"
              "\"Utf8Raw\"=\"caf\\xe9 \\xd83d\\xde00\"\n");
}

TEST(WineText, TimesDuplicatesAndImplicitKeys) {
    const std::string input = R"(WINE REGISTRY Version 2
#arch=win32
[A\\B\\C] 1700000000
"x"="1"
[a\\b] 1600000000
#time=1d9e6b2c0000000
"Dup"="first"
"DUP"="second"
[A\\B\\C] 1800000000
#time=1
"y"="2"
[NoTime]
)";
    const std::string expected =
        "WINE REGISTRY Version 2\n;; All keys relative to X\n\n#arch=win32\n"
        // The first section of a key sets its time; parents created on the
        // way take it too.
        "\n[A\\\\B] 1700000000\n#time=1da1747c66d0000\n\"Dup\"=\"second\"\n"
        "\n[A\\\\B\\\\C] 1700000000\n#time=1da1747c66d0000\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
        // No time at all: the load time.
        "\n[NoTime] 1796598480\n#time=1dd85d6a3ae199a\n";
    EXPECT_EQ(RoundTrip(input, "X"), expected);

    // #time wins over the seconds of a new key's line.
    EXPECT_EQ(RoundTrip("WINE REGISTRY Version 2\n[K] 1700000000\n#time=1d9e6b2c0000000\n", "X"),
              "WINE REGISTRY Version 2\n;; All keys relative to X\n\n[K] "
              "1694658338\n#time=1d9e6b2c0000000\n");
}

// Names of the subkeys as the tree keeps them, and whether each can be found again by name.
std::vector<std::string> ChildNames(const CKeyNode& node) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < node.ChildCount(); ++i) {
        const Reg::CName& name = node.Child(i)->Name();
        names.emplace_back(name.begin(), name.end());
        EXPECT_EQ(node.FindChild(name), node.Child(i)) << names.back();
    }
    return names;
}

TEST(WineText, SubkeysOutOfOrderAreSortedAndMergedByName) {
    // As a script or a hand writes them: not in order, one key in two sections of different case.
    const std::string input =
        "WINE REGISTRY Version 2\n"
        "[S\\\\k3]\n\"a\"=\"1\"\n"
        "[S\\\\k1]\n"
        "[S\\\\K3]\n\"b\"=\"2\"\n"
        "[S\\\\k2]\n"
        "[S\\\\K1\\\\Sub]\n"
        "[S\\\\k10]\n"
        "[S\\\\k1]\n\"c\"=\"3\"\n";
    CKeyNode root(u"");
    Reg::CLineReader reader(input);
    Reg::CWineParseOptions options;
    options.m_strFileName = "user.reg";
    ASSERT_TRUE(Reg::ParseWineText(&reader, &root, options).m_status.Ok());
    const CKeyNode* pS = root.FindChild(u"s");
    ASSERT_NE(pS, nullptr);
    EXPECT_EQ(ChildNames(*pS), (std::vector<std::string>{"k1", "k10", "k2", "k3"}));
    const CKeyNode* pK3 = pS->FindChild(u"k3");
    ASSERT_NE(pK3, nullptr);
    ASSERT_EQ(pK3->Values().size(), 2u);
    ASSERT_NE(pK3->FindValue(u"b"), nullptr);
    EXPECT_EQ(pK3->FindValue(u"b")->m_vData, Sz(L"2"));
    const CKeyNode* pK1 = pS->FindChild(u"K1");
    ASSERT_NE(pK1, nullptr);
    EXPECT_EQ(ChildNames(*pK1), std::vector<std::string>{"Sub"});
    EXPECT_EQ(pK1->Values().size(), 1u);

    // A file refused half-way leaves what it read in order too.
    const std::string refused =
        "WINE REGISTRY Version 2\n[B]\n[A]\n[C]\n[A\\\\x]\n[bad\n#arch=arm64\n";
    CKeyNode partial(u"");
    Reg::CLineReader partialReader(refused);
    EXPECT_FALSE(Reg::ParseWineText(&partialReader, &partial, options).m_status.Ok());
    EXPECT_EQ(ChildNames(partial), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(WineText, ParserProbeMatchesWine) {
    const std::string dir = RegTest::WineFixture("wine8-win64");
    if (dir.empty()) {
        GTEST_SKIP() << "fixtures not present: " << CORVANE_FIXTURES_DIR;
    }
    // The probe is the lines injected after #arch and appended at the end; "# " lines annotate it.
    std::istringstream probe(ReadAll(dir + "/parser-probe/input-injected-into-user.reg.txt"));
    std::string text = "WINE REGISTRY Version 2\n\n#arch=win64\n";
    for (std::string line; std::getline(probe, line);) {
        if (line.rfind("# ", 0) != 0) {
            text += line + "\n";
        }
    }
    CKeyNode root(u"");
    root.m_qwTime = 1;
    Reg::CLineReader reader(text);
    Reg::CWineParseOptions options;
    options.m_strFileName = "user.reg";
    options.m_qwLoadTime = 0x1dd85d6a3ae199aULL;
    const Reg::CWineParseResult result = Reg::ParseWineText(&reader, &root, options);
    ASSERT_TRUE(result.m_status.Ok());
    ASSERT_EQ(result.m_vWarnings.size(), 3u);
    EXPECT_EQ(result.m_vWarnings[0],
              L"user.reg:5: Value without key '\"Orphan\"=\"value before any key\"'");
    EXPECT_EQ(result.m_vWarnings[1], L"user.reg:12: Malformed value '\"BadHex\"=hex:zz,11'");
    EXPECT_EQ(result.m_vWarnings[2], L"user.reg:19: Unrecognized input 'this line is garbage'");

    Reg::CTextOut out;
    Reg::CWineWriteOptions write;
    write.m_strBranch = "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000";
    write.m_strArch = "win64";
    Reg::WriteWineText(root, write, &out);
    const std::string saved = out.Text();
    // Wine's re-save, but for the values its own test added ("Touched") and the class that its
    // reg.exe cleared on the keys it touched.
    std::istringstream excerpt(ReadAll(dir + "/parser-probe/wine-resaved-excerpt.txt"));
    std::string wine;
    for (std::string line; std::getline(excerpt, line);) {
        wine += line + "\n";
    }
    EXPECT_NE(wine.find("[Software\\\\ClassProbe] "
                        "1700000000\n#time=1da1747c66d0000\n#class=\"MyClass\"\n\"v\"=\"1\"\n"),
              std::string::npos);
    EXPECT_NE(saved.find("[Software\\\\ClassProbe] "
                         "1700000000\n#time=1da1747c66d0000\n#class=\"MyClass\"\n\"v\"=\"1\"\n"),
              std::string::npos);
    const std::string probeValues =
        "\"BadHex\"=hex(0):\n\"Crlf\"=\"windows line ending\"\n"
        "\"Dup\"=\"second (same name, other case)\"\n\"HexCont\"=hex:01,02,03,04\n"
        "\"HexMulti\"=str(7):\"a\\0b\\0\"\n\"Indented\"=\"leading spaces\"\n"
        "\"Octal\"=\"aA\\ab\"\n\"SecondSection\"=\"merged\"\n\"ShortDword\"=dword:00000001\n"
        "\"SpacesAroundEq\"=\"spaced\"\n\"StrColon\"=\"typed sz\"\n";
    const std::string probeTail =
        "\"TrailingJunk\"=\"ok\"\n\"Utf8Raw\"=\"caf\\xe9\"\n\n"
        "[Software\\\\ParserProbe\\\\Child] 1694658338\n#time=1d9e6b2c0000000\n\"x\"=\"1\"\n";
    EXPECT_NE(wine.find(probeValues + "\"Touched\"=\"1\"\n" + probeTail), std::string::npos);
    EXPECT_NE(saved.find("#class=\"MyClass\"\n" + probeValues + probeTail), std::string::npos);
}

TEST(WineText, FilesWineRefusesAreRefused) {
    auto parse = [](const std::string& text, const std::string& expectedArch) {
        CKeyNode root(u"");
        Reg::CLineReader reader(text);
        Reg::CWineParseOptions options;
        options.m_strFileName = "userdef.reg";
        options.m_strExpectedArch = expectedArch;
        return Reg::ParseWineText(&reader, &root, options).m_status;
    };
    // A byte-order mark and a mismatched architecture are refused by name when a prefix opens.
    EXPECT_EQ(parse("WINE REGISTRY Version 3\n", "").m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_EQ(parse("", "").m_lCode, ERROR_NOT_REGISTRY_FILE);
    EXPECT_TRUE(parse("WINE REGISTRY Version 2\r\n#arch=win64\r\n", "win64").Ok());
    EXPECT_EQ(parse("WINE REGISTRY Version 2\n#arch=arm64\n", "").m_lCode, ERROR_NOT_REGISTRY_FILE);
    // After the first key, #arch is a key option and is ignored.
    EXPECT_TRUE(parse("WINE REGISTRY Version 2\n[K]\n#arch=win32\n", "win64").Ok());
}

}  // namespace
}  // namespace Branwick::Platform
