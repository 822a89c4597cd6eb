#include "core/Exceptions.h"

#include <gtest/gtest.h>

using namespace Branwick;

namespace {

TEST(BranwickException, TextForAccessDenied) {
    CBranwickException e(L"/src/app/BackUp.cpp", L"Branwick::CBackUp::Create", 42, L"Cannot save",
                         5);
    EXPECT_EQ(e.GetCode(), 5u);
    EXPECT_EQ(e.GetMessage(),
              L"\nFile: /src/app/BackUp.cpp\nFunction: Branwick::CBackUp::Create\nLine: 42\n "
              L"\nCannot save\n"
              L"Error (5):\tAccess is denied.\r\n\n");
    EXPECT_STREQ(e.what(), WideToUtf8(e.GetMessage()).c_str());
}

TEST(BranwickException, WithoutCodeItIsUnspecifiedInEightHexDigits) {
    CBranwickException e(L"f.cpp", L"F", 1, L"Oops");
    EXPECT_EQ(e.GetCode(), 0x80004005u);
    EXPECT_EQ(e.GetMessage(),
              L"\nFile: f.cpp\nFunction: F\nLine: 1\n \nOops\nError (80004005):\tUnspecified "
              L"error\r\n\n");
}

TEST(BranwickException, UnknownCodeHasNoSystemText) {
    CBranwickException e(L"f.cpp", L"F", 1, L"Odd", 0xABCDE);
    EXPECT_NE(e.GetMessage().find(L"Error (abcde):\t\n"), std::wstring::npos);
}

TEST(BranwickException, SystemTexts) {
    EXPECT_EQ(GetSystemErrorText(2), L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(GetSystemErrorText(static_cast<DWORD>(E_OUTOFMEMORY)),
              L"Not enough memory resources are available to complete this operation.\r\n");
    // A Win32 error wrapped as an HRESULT reads like the error itself.
    EXPECT_EQ(GetSystemErrorText(0x80070005u), GetSystemErrorText(5));
    EXPECT_EQ(GetSystemErrorText(0x80071234u), L"");
    EXPECT_EQ(GetSystemErrorText(4242), L"");
}

TEST(BranwickException, QualifiedFunctionNames) {
    EXPECT_EQ(QualifiedFunctionName("void Branwick::CBackUp::Create(int)"),
              L"Branwick::CBackUp::Create");
    EXPECT_EQ(QualifiedFunctionName("std::map<int, std::wstring> Branwick::F(const char*)"),
              L"Branwick::F");
    EXPECT_EQ(QualifiedFunctionName("Branwick::CFoo<int, char>::CFoo()"),
              L"Branwick::CFoo<int, char>::CFoo");
    EXPECT_EQ(QualifiedFunctionName("bool Branwick::CBar::operator()(int) const"),
              L"Branwick::CBar::operator()");
    EXPECT_EQ(QualifiedFunctionName("int main()"), L"main");
}

void ThrowHere() {
    throw BRANWICK_EXCEPTION(L"from the macro", ERROR_FILE_NOT_FOUND);
}

TEST(BranwickException, MacroRecordsThePlaceOfTheThrow) {
    try {
        ThrowHere();
        FAIL() << "no exception";
    } catch (const CBranwickException& e) {
        EXPECT_NE(e.GetMessage().find(L"File: "), std::wstring::npos);
        EXPECT_NE(e.GetMessage().find(L"exceptions_test.cpp\n"), std::wstring::npos);
        EXPECT_NE(e.GetMessage().find(L"\nFunction: {anonymous}::ThrowHere\n"), std::wstring::npos);
        EXPECT_NE(
            e.GetMessage().find(L"Error (2):\tThe system cannot find the file specified.\r\n\n"),
            std::wstring::npos);
    }
}

}  // namespace
