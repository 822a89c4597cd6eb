#include "platform/text/text.h"

#include <locale.h>
#include <wctype.h>

namespace Branwick::Platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
    if (!IsScalar(c)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at str[i]; returns its length, or 0 when it is invalid (overlong,
// truncated, a surrogate or beyond U+10FFFF).
std::size_t DecodeUtf8(std::string_view str, std::size_t i, char32_t& c) {
    const auto b0 = static_cast<unsigned char>(str[i]);
    std::size_t n = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > str.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(str[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (b & 0x3F);
    }
    return (c >= min && IsScalar(c)) ? n : 0;
}

// glibc's built-in C.UTF-8 locale carries the full Unicode case tables; the process locale is left
// alone so that nothing else changes behaviour.
locale_t CaseLocale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return loc;
}

}  // namespace

std::string ToUtf8(std::wstring_view str) {
    std::string out;
    out.reserve(str.size());
    for (wchar_t ch : str) {
        AppendUtf8(out, static_cast<char32_t>(ch));
    }
    return out;
}

std::wstring FromUtf8(std::string_view str) {
    std::wstring out;
    out.reserve(str.size());
    for (std::size_t i = 0; i < str.size();) {
        char32_t c = 0;
        const std::size_t n = DecodeUtf8(str, i, c);
        out += static_cast<wchar_t>(n ? c : kReplacement);
        i += n ? n : 1;
    }
    return out;
}

std::wstring FromUtf16Le(const std::uint8_t* pData, std::size_t nBytes) {
    auto unit = [pData](std::size_t k) -> char32_t { return pData[2 * k] | (pData[2 * k + 1] << 8); };
    std::size_t nUnits = 0;
    bool bSurrogates = false;
    for (; nUnits < nBytes / 2 && (pData[2 * nUnits] | pData[2 * nUnits + 1]) != 0; ++nUnits) {
        bSurrogates = bSurrogates || (pData[2 * nUnits + 1] & 0xF8) == 0xD8;
    }
    // Every value a registry walk reads comes through here: one allocation, no growth.
    std::wstring out(nUnits, L'\0');
    if (!bSurrogates) {
        for (std::size_t k = 0; k < nUnits; ++k) {
            out[k] = static_cast<wchar_t>(unit(k));
        }
        return out;
    }
    std::size_t nOut = 0;
    for (std::size_t k = 0; k < nUnits; ++k) {
        const char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < nUnits && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            out[nOut++] =
                static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else {
            out[nOut++] = static_cast<wchar_t>(IsScalar(u) ? u : kReplacement);
        }
    }
    out.resize(nOut);
    return out;
}

std::vector<std::uint8_t> ToUtf16Le(std::wstring_view str, bool bTerminate) {
    std::vector<std::uint8_t> out;
    out.reserve(2 * (str.size() + 1));
    auto put = [&out](char32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (wchar_t ch : str) {
        char32_t c = static_cast<char32_t>(ch);
        if (!IsScalar(c)) {
            c = kReplacement;
        }
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    if (bTerminate) {
        put(0);
    }
    return out;
}

wchar_t FoldCase(wchar_t ch) {
    if (ch < 0x80) {
        return (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - 32) : ch;
    }
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(ch), CaseLocale()));
}

std::wstring FoldCase(std::wstring_view str) {
    std::wstring out(str);
    for (wchar_t& ch : out) {
        ch = FoldCase(ch);
    }
    return out;
}

std::wstring LowerCase(std::wstring_view str) {
    std::wstring out(str);
    for (wchar_t& ch : out) {
        if (ch < 0x80) {
            ch = (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch + 32) : ch;
        } else {
            ch = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(ch), CaseLocale()));
        }
    }
    return out;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace Branwick::Platform
