// The registry walkers, called directly on a test target: what they hand to the callback, the
// progress they post, the subtrees they leave out, and how a stop ends them.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <vector>

#include "core/Text.h"
#include "engine/Fendral.h"
#include "platform/text/text.h"
#include "tests/engine/operation_fixture.h"

using namespace Branwick;

namespace {

struct SCall {
    std::wstring strRoot, strSubkey, strName, strText;
    REGSAM dwView;
};

std::vector<SCall> g_calls;

void Record(const COperation&, const std::wstring& strRoot, const std::wstring& strSubkey,
            const std::wstring& strName, const std::wstring& strText, REGSAM dwView) {
    g_calls.push_back({strRoot, strSubkey, strName, strText, dwView});
}

struct SProgress {
    int nProgress;
    std::wstring strText;
    bool operator==(const SProgress&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SProgress& p) {
    return out << p.nProgress << " " << WideToUtf8(p.strText);
}

const char kMachine[] = R"(
[Software\\Walk\\a]
"v"="1"
[Software\\Walk\\b]
[Software\\Walk\\c\\deep]
"x"=dword:00000001
[Software\\Walk]
"own"="value"
[Software\\Classes\\Hidden]
"secret"="never walked"
[Software\\Types]
"sz"="text"
"multi"=str(7):"first\0second\0"
"expand"=str(2):"%SystemRoot%\\x"
"bin"=hex:01,02
"dword"=dword:ffffffff
"qword"=hex(b):00,00,00,00,01,00,00,00
"none"=hex(0):
)";

class WalkerTest : public ::testing::Test, protected Testing::COperationFixture {
protected:
    WalkerTest() : COperationFixture(true, kMachine) { g_calls.clear(); }

    // The scan progress posted since the last call, in order.
    std::vector<SProgress> Progress() {
        std::vector<SProgress> out;
        while (std::unique_ptr<CMessage> p = m_queue.PopFront()) {
            if (auto* pProgress = dynamic_cast<CScanProgressMessage*>(p.get())) {
                out.push_back({pProgress->m_nProgress, pProgress->m_strScanDescription});
            }
        }
        return out;
    }
};

TEST_F(WalkerTest, ThreeSubkeysShareTheIntervalAndEachChildClosesItsShare) {
    ASSERT_TRUE(m_target.Imported());
    EXPECT_EQ(ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk", 1, &Record, 0, 100, UNINSTALL,
                         KEY_WOW64_64KEY),
              ERROR_SUCCESS);
    const std::wstring strKey = L"HKEY_LOCAL_MACHINE\\Software\\Walk\\";
    // Each child walks with the share 33 and closes at its start plus 33; c's one subkey gets all
    // of c's 33 and closes at 99.
    EXPECT_EQ(Progress(), (std::vector<SProgress>{{0, strKey + L"a"},
                                                  {33, L"HKEY_LOCAL_MACHINE"},
                                                  {33, strKey + L"b"},
                                                  {66, L"HKEY_LOCAL_MACHINE"},
                                                  {66, strKey + L"c"},
                                                  {66, strKey + L"c\\deep"},
                                                  {99, L"HKEY_LOCAL_MACHINE"}}));
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].strSubkey, L"Software\\Walk");
    EXPECT_EQ(g_calls[0].strName, L"own");
    EXPECT_EQ(g_calls[1].strSubkey, L"Software\\Walk\\a");
    EXPECT_EQ(g_calls[2].strSubkey, L"Software\\Walk\\c\\deep");
    EXPECT_EQ(g_calls[2].strText, L"1");
    EXPECT_EQ(g_calls[2].dwView, KEY_WOW64_64KEY);
}

TEST_F(WalkerTest, AKeyWithoutSubkeysClosesAtStartPlusIntervalButNeverAbove100) {
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk\\b", 1, &Record, 51, 50, UNINSTALL,
               KEY_WOW64_64KEY);
    EXPECT_EQ(Progress(), (std::vector<SProgress>{{100, L"HKEY_LOCAL_MACHINE"}}));
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk\\b", 1, &Record, 34, 33, UNINSTALL,
               KEY_WOW64_64KEY);
    EXPECT_EQ(Progress(), (std::vector<SProgress>{{67, L"HKEY_LOCAL_MACHINE"}}));
    // Without a callback nothing closes: the file-association key test posts nothing.
    EXPECT_EQ(ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk\\b", 0, nullptr, -1, -1, 0,
                         KEY_WOW64_64KEY),
              ERROR_SUCCESS);
    EXPECT_TRUE(Progress().empty());
}

TEST_F(WalkerTest, AKeyThatCannotBeOpenedGivesItsErrorAndPostsNothing) {
    EXPECT_EQ(ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Missing", 1, &Record, 0, 100,
                         UNINSTALL, KEY_WOW64_64KEY),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Progress().empty());
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(WalkerTest, ValueTextOfEveryType) {
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Types", 0, &Record, 0, 100, FILE_PATH,
               KEY_WOW64_64KEY);
    std::map<std::wstring, std::wstring> texts;
    for (const SCall& call : g_calls) {
        texts[call.strName] = call.strText;
    }
    EXPECT_EQ(texts, (std::map<std::wstring, std::wstring>{{L"sz", L"text"},
                                                           {L"multi", L"first"},
                                                           {L"expand", L"%SystemRoot%\\x"},
                                                           {L"bin", L""},
                                                           {L"dword", L"-1"},
                                                           {L"qword", L"4294967296"},
                                                           {L"none", L""}}));
    EXPECT_EQ(ValueText(REG_DWORD, {0x01}), L"1") << "short data reads as zero-padded";
    EXPECT_EQ(ValueText(REG_DWORD_BIG_ENDIAN, {0x01, 0x00, 0x00, 0x00}), L"1");
}

TEST_F(WalkerTest, AValueLargerThanTheSharedBufferReachesTheCallbackWhole) {
    const std::wstring strBig(3 * 1024 * 1024 / 2, L'x');  // 3 MiB of UTF-16
    Platform::CRegKey key;
    ASSERT_EQ(m_target.Registry().CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Big", 0, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"big", REG_SZ, Platform::ToUtf16Le(strBig)), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"small", REG_SZ, Platform::ToUtf16Le(L"s")), ERROR_SUCCESS);
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Big", 0, &Record, 0, 100, FILE_PATH, 0);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].strText, strBig);
    EXPECT_EQ(g_calls[1].strText, L"s");
}

TEST_F(WalkerTest, MachineClassesAreNeverEnteredByARecursiveWalk) {
    for (const std::int32_t nScanType : {UNINSTALL, FILE_PATH, EMPTY_KEYS}) {
        g_calls.clear();
        ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"", 1, &Record, 0, 100, nScanType, KEY_WOW64_64KEY);
        for (const SCall& call : g_calls) {
            EXPECT_NE(call.strName, L"secret") << "walked " << WideToUtf8(call.strSubkey);
        }
        // The walk still reports reaching the key it leaves out.
        bool bReported = false;
        for (const SProgress& p : Progress()) {
            bReported |= p.strText == L"HKEY_LOCAL_MACHINE\\Software\\Classes";
        }
        EXPECT_TRUE(bReported);
    }
}

TEST_F(WalkerTest, ExclusionTable) {
    EXPECT_TRUE(IsExcluded(HKEY_LOCAL_MACHINE, L"software\\classes", UNINSTALL));
    EXPECT_FALSE(IsExcluded(HKEY_LOCAL_MACHINE, L"software\\classes\\x", UNINSTALL));
    EXPECT_FALSE(IsExcluded(HKEY_CURRENT_USER, L"software\\classes", UNINSTALL));
    EXPECT_TRUE(IsExcluded(HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RUN", FILE_PATH));
    EXPECT_FALSE(IsExcluded(HKEY_LOCAL_MACHINE,
                            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", STARTUP));
    EXPECT_TRUE(IsExcluded(HKEY_CURRENT_USER,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", FILE_PATH));
    EXPECT_TRUE(IsExcluded(HKEY_CLASSES_ROOT, L"TypeLib", FILE_PATH));
    EXPECT_FALSE(IsExcluded(HKEY_CLASSES_ROOT, L"TypeLib", FILE_ASSOCIATIONS));
}

TEST_F(WalkerTest, ProcessSubkeysHandsEachSubkeyAndPostsAfterIt) {
    // The 32-bit view of a 64-bit target has no such key.
    ProcessSubkeys(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk", &Record, 0, 100, APP_PATH,
                   KEY_WOW64_32KEY);
    EXPECT_TRUE(g_calls.empty());
    ProcessSubkeys(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk", &Record, 0, 100, APP_PATH,
                   KEY_WOW64_64KEY);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[1].strSubkey, L"Software\\Walk\\b");
    EXPECT_EQ(g_calls[1].strName, L"");
    EXPECT_EQ(g_calls[1].strText, L"");
    EXPECT_EQ(g_calls[1].dwView, KEY_WOW64_64KEY);
    const std::wstring strKey = L"HKEY_LOCAL_MACHINE\\Software\\Walk\\";
    EXPECT_EQ(Progress(), (std::vector<SProgress>{
                              {33, strKey + L"a"}, {66, strKey + L"b"}, {100, strKey + L"c"}}));
}

TEST_F(WalkerTest, AStopEndsTheLoopsButEveryLevelStillCloses) {
    m_record.Stop();
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk", 1, &Record, 0, 100, UNINSTALL, 0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(Progress().empty()) << "a key with subkeys posts nothing once stopped";
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk\\b", 1, &Record, 10, 20, UNINSTALL, 0);
    EXPECT_EQ(Progress(), (std::vector<SProgress>{{30, L"HKEY_LOCAL_MACHINE"}}));
}

void ThrowOnA(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
              const std::wstring& strName, const std::wstring& strText, REGSAM dwView) {
    if (strSubkey == L"Software\\Walk\\a") {
        throw std::runtime_error("bad value");
    }
    Record(op, strRoot, strSubkey, strName, strText, dwView);
}

TEST_F(WalkerTest, AnExceptionEndsTheWalkOfOneKeyOnly) {
    ProcessKey(m_op, HKEY_LOCAL_MACHINE, L"Software\\Walk", -1, &ThrowOnA, 0, 100, UNINSTALL,
               KEY_WOW64_64KEY);
    ASSERT_EQ(m_box.GetShown().size(), 1u);
    const std::wstring strText = m_box.GetShown()[0].strText;
    EXPECT_EQ(strText.rfind(L"Cause: ", 0), 0u);
    EXPECT_NE(strText.find(L"bad value"), std::wstring::npos);
    EXPECT_NE(strText.find(L"\nParameters: hRoot: HKEY_LOCAL_MACHINE\nsSubkey: Software\\Walk\\a\n"
                           L"nDeep: -1\nnPercentsStart: 0\nnPercentsInterval:33\nScanType: 2\n"),
              std::wstring::npos)
        << WideToUtf8(strText);
    // The siblings after it are walked as usual.
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].strSubkey, L"Software\\Walk\\c\\deep");
    EXPECT_EQ(ValueParameters(L"R", L"S", L"N", L"D"),
              L"sRoot: R\nsSubkey: S\nsValueName: N\nsValueData: D");
}

}  // namespace
