#include "core/Text.h"

#include <gtest/gtest.h>

using namespace Branwick;

namespace {

TEST(Text, FormatGrowsForLongResults) {
    const std::wstring longText(5000, L'x');
    EXPECT_EQ(FormatText(L"%ls|%d|%x", longText.c_str(), -3, 0x80004005u),
              longText + L"|-3|80004005");
}

TEST(Text, Utf16LEUsesSurrogatePairs) {
    EXPECT_EQ(WideToUtf16LE(L"A\u00E4"), std::string("A\0\xE4\0", 4));
    EXPECT_EQ(WideToUtf16LE(L"\U0001F600"), std::string("\x3D\xD8\x00\xDE", 4));
}

}  // namespace
