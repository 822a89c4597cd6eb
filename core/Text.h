// Wide-string helpers that every part of the core formats its texts with.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace Branwick {

// printf-style formatting into a wide string. Wide strings go in with %ls (%s would expect a
// narrow one). A format that cannot be rendered gives the empty string.
std::wstring FormatText(const wchar_t* pszFormat, ...);

// UTF-8 <-> wide (UTF-32). Ill-formed input becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// The text as UTF-16LE bytes without a terminator; characters beyond U+FFFF become surrogate pairs.
std::string WideToUtf16LE(std::wstring_view text);

// `time` as local time or as UTC, formatted with the strftime pattern `pszPattern` in the classic
// locale: names of months and days are English whatever locale the program runs in, so that file
// names made from them stay the same.
std::wstring LocalTimeText(std::time_t time, const char* pszPattern);
std::wstring UtcTimeText(std::time_t time, const char* pszPattern);

// LocalTimeText of now with "%d-%m-%Y %H:%M:%S", the stamp of log lines and log messages.
std::wstring LogTimeStamp();

// UTF-8 text as a terminal may be shown it: every control character but line feed and tab (C0,
// DEL, and C1 such as U+009B) becomes "\xHH", so that a name read from a registry or a file cannot
// retitle, clear or reprogram the terminal. Everything else stays as it is.
std::string EscapeControls(std::string_view utf8);

}  // namespace Branwick
