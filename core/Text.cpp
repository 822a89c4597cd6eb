#include "core/Text.h"

#include <cstdarg>
#include <cwchar>
#include <iomanip>
#include <locale>
#include <sstream>
#include <vector>

#include "platform/text/text.h"

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

// The conversions are the platform's; the core keeps its own names for them.
std::string WideToUtf8(std::wstring_view text) { return Platform::ToUtf8(text); }

std::wstring Utf8ToWide(std::string_view text) { return Platform::FromUtf8(text); }

std::string WideToUtf16LE(std::wstring_view text) {
    const std::vector<std::uint8_t> bytes = Platform::ToUtf16Le(text, false);
    return std::string(bytes.begin(), bytes.end());
}

namespace {

std::wstring FormatTime(const std::tm& time, const char* pszPattern) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&time, pszPattern);
    return Utf8ToWide(text.str());
}

}  // namespace

std::wstring LocalTimeText(std::time_t time, const char* pszPattern) {
    std::tm local{};
    localtime_r(&time, &local);
    return FormatTime(local, pszPattern);
}

std::wstring UtcTimeText(std::time_t time, const char* pszPattern) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    return FormatTime(utc, pszPattern);
}

std::wstring LogTimeStamp() {
    // Every log line and log message asks, and formatting through a stream with its locale costs
    // more than the rest of the line: each thread formats once a second.
    thread_local std::time_t last = -1;
    thread_local std::wstring text;
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        text = LocalTimeText(now, "%d-%m-%Y %H:%M:%S");
        last = now;
    }
    return text;
}

std::string EscapeControls(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size());
    const auto escape = [&out](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
            escape(c);
        } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {  // U+0080..U+009F
            escape(next);
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace Branwick
