// UTF-8 decoding and encoding for the registry layer. Private to platform/registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Branwick::Platform::Reg {

// Decodes the sequence at p (p < end, *p >= 0x80). Returns its length and sets *pCode, or 0 for an
// invalid sequence (overlong forms, surrogates, beyond U+10FFFF, truncated).
inline std::size_t DecodeUtf8(const char* p, const char* end, std::uint32_t* pCode) {
    const auto b0 = static_cast<unsigned char>(p[0]);
    std::size_t n;
    std::uint32_t c;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        c = b0 & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) ||
        (n == 4 && (c < 0x10000 || c > 0x10FFFF))) {
        return 0;
    }
    *pCode = c;
    return n;
}

// Lenient UTF-8 to UTF-32 for messages (file names, paths): invalid bytes become U+FFFD.
// Appends the code point as UTF-16: one unit, or a surrogate pair beyond U+FFFF.
inline void PushCodePoint(std::uint32_t c, std::u16string* pOut) {
    if (c >= 0x10000) {
        c -= 0x10000;
        pOut->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        pOut->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        pOut->push_back(static_cast<char16_t>(c));
    }
}

inline std::wstring WidenUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
        if (static_cast<unsigned char>(*p) < 0x80) {
            out.push_back(static_cast<wchar_t>(*p++));
            continue;
        }
        std::uint32_t c = 0;
        const std::size_t n = DecodeUtf8(p, end, &c);
        out.push_back(n ? static_cast<wchar_t>(c) : L'\xFFFD');
        p += n ? n : 1;
    }
    return out;
}

}  // namespace Branwick::Platform::Reg
