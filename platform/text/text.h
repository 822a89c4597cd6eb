// Text conversions between the program's wide strings (UTF-32 on Linux), the host's UTF-8 names
// and the UTF-16LE bytes Windows stores, and the case-insensitive comparison Windows applies to
// file and key names. Pure functions: safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Branwick::Platform {

// UTF-8 of a wide string. A unit that is no Unicode scalar (a lone surrogate, > 0x10FFFF) becomes
// U+FFFD.
std::string ToUtf8(std::wstring_view str);

// Wide string of UTF-8 bytes. Each byte of an invalid sequence becomes U+FFFD, so host names that
// are not UTF-8 still give a (lossy) name instead of an error.
std::wstring FromUtf8(std::string_view str);

// Wide string of UTF-16LE bytes, up to the first NUL unit or the end of the data; an odd final
// byte is ignored; surrogate pairs are joined; a lone surrogate becomes U+FFFD.
std::wstring FromUtf16Le(const std::uint8_t* pData, std::size_t nBytes);

// UTF-16LE bytes of a wide string, with a terminating NUL unit when bTerminate is set (as REG_SZ
// data are stored).
std::vector<std::uint8_t> ToUtf16Le(std::wstring_view str, bool bTerminate = true);

// The case-folded form under which Windows considers two names equal (simple upper-case mapping of
// each character, as the file system and the registry compare names).
wchar_t FoldCase(wchar_t ch);
std::wstring FoldCase(std::wstring_view str);

// CharLowerW: the simple lower-case mapping of each character.
std::wstring LowerCase(std::wstring_view str);

// True when the two names are equal ignoring case as Windows does.
bool EqualNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace Branwick::Platform
