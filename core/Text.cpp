#include "core/Text.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace Branwick {

std::wstring FormatText(const wchar_t* pszFormat, ...) {
    // vswprintf cannot say how much room it needs: grow until it fits. A format it rejects
    // (an unconvertible narrow string) fails at every size, hence the limit.
    constexpr size_t kLimit = size_t{1} << 24;
    std::vector<wchar_t> buffer(256);
    while (buffer.size() <= kLimit) {
        va_list args;
        va_start(args, pszFormat);
        const int n = std::vswprintf(buffer.data(), buffer.size(), pszFormat, args);
        va_end(args);
        if (n >= 0) {
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        }
        buffer.resize(buffer.size() * 4);
    }
    return {};
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t c) {
    return c < 0x110000 && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one UTF-8 sequence at text[i], advancing i; ill-formed input gives U+FFFD and skips one
// byte.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || !IsScalarValue(c)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return c;
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        char32_t c = static_cast<char32_t>(wc);
        if (!IsScalarValue(c)) {
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
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        out += static_cast<wchar_t>(DecodeUtf8(text, i));
    }
    return out;
}

std::string WideToUtf16LE(std::wstring_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&out](char32_t unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>((unit >> 8) & 0xFF);
    };
    for (wchar_t wc : text) {
        char32_t c = static_cast<char32_t>(wc);
        if (!IsScalarValue(c)) {
            c = kReplacement;
        }
        if (c < 0x10000) {
            put(c);
        } else {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

std::wstring LocalTimeText(std::time_t time, const char* pszPattern) {
    std::tm local{};
    localtime_r(&time, &local);
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, pszPattern, &local);
    return Utf8ToWide(std::string_view(buffer, n));
}

std::wstring LogTimeStamp() {
    return LocalTimeText(std::time(nullptr), "%d-%m-%Y %H:%M:%S");
}

}  // namespace Branwick
