#include "platform/text/text.h"

#include <gtest/gtest.h>

using namespace Branwick::Platform;

TEST(Text, Utf8RoundTripsEveryPlane) {
    const std::wstring s = L"caf\u00e9 \u4e2d\u6587 \U0001F600 x";
    EXPECT_EQ(ToUtf8(s), "caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80 x");
    EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
}

TEST(Text, InvalidUtf8BecomesReplacementPerByte) {
    // A lone continuation byte, an overlong '/', a truncated sequence and an encoded surrogate.
    EXPECT_EQ(FromUtf8("a\x80z"), L"a\uFFFDz");
    EXPECT_EQ(FromUtf8("\xc0\xaf"), L"\uFFFD\uFFFD");
    EXPECT_EQ(FromUtf8("ab\xe4\xb8"), L"ab\uFFFD\uFFFD");
    EXPECT_EQ(FromUtf8("\xed\xa0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
}

TEST(Text, Utf16LeStopsAtNulAndJoinsSurrogates) {
    const std::vector<std::uint8_t> data = ToUtf16Le(L"A\U0001F600");
    ASSERT_EQ(data.size(), 8u);  // A, two surrogate units, terminator
    EXPECT_EQ(data[2], 0x3D);
    EXPECT_EQ(data[3], 0xD8);
    EXPECT_EQ(FromUtf16Le(data.data(), data.size()), L"A\U0001F600");

    const std::uint8_t embedded[] = {'a', 0, 0, 0, 'b', 0};
    EXPECT_EQ(FromUtf16Le(embedded, sizeof embedded), L"a");
    const std::uint8_t odd[] = {'a', 0, 'b'};
    EXPECT_EQ(FromUtf16Le(odd, sizeof odd), L"a");
    const std::uint8_t lone[] = {0x00, 0xDC, 'c', 0};
    EXPECT_EQ(FromUtf16Le(lone, sizeof lone), L"\uFFFDc");
    EXPECT_TRUE(ToUtf16Le(L"x", false).size() == 2);
}

TEST(Text, LowerCaseCoversMoreThanAscii) {
    EXPECT_EQ(LowerCase(L"%ProgramFiles%\\\u00C4PP\\X.EXE"), L"%programfiles%\\\u00E4pp\\x.exe");
    EXPECT_EQ(LowerCase(L""), L"");
}

TEST(Text, CaseFoldingCoversMoreThanAscii) {
    EXPECT_TRUE(EqualNoCase(L"Program Files", L"PROGRAM files"));
    EXPECT_TRUE(EqualNoCase(L"\u00dcn\u00efc\u00f8d\u00e9", L"\u00fcN\u00cfC\u00d8D\u00c9"));
    EXPECT_TRUE(EqualNoCase(L"\u0434\u043e\u043a", L"\u0414\u041e\u041a"));  // Cyrillic
    EXPECT_FALSE(EqualNoCase(L"abc", L"abd"));
    EXPECT_FALSE(EqualNoCase(L"abc", L"abcd"));
    EXPECT_EQ(FoldCase(L"temp.TMP"), L"TEMP.TMP");
}
