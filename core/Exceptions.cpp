#include "core/Exceptions.h"

#include <algorithm>
#include <map>

#include "core/Text.h"

namespace Branwick {

namespace {

// The texts Windows gives (FormatMessageW, system and WinHTTP tables, en-US) for the codes this
// program can meet. There is no such table to ask on Linux.
const std::map<DWORD, const wchar_t*>& SystemTexts() {
    static const std::map<DWORD, const wchar_t*> texts = {
        {0, L"The operation completed successfully."},
        {1, L"Incorrect function."},
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {5, L"Access is denied."},
        {6, L"The handle is invalid."},
        {8, L"Not enough memory resources are available to process this command."},
        {14, L"Not enough memory resources are available to complete this operation."},
        {18, L"There are no more files."},
        {21, L"The device is not ready."},
        {29, L"The system cannot write to the specified device."},
        {32, L"The process cannot access the file because it is being used by another process."},
        {33,
         L"The process cannot access the file because another process has locked a portion of the "
         L"file."},
        {50, L"The request is not supported."},
        {80, L"The file exists."},
        {87, L"The parameter is incorrect."},
        {112, L"There is not enough space on the disk."},
        {122, L"The data area passed to a system call is too small."},
        {123, L"The filename, directory name, or volume label syntax is incorrect."},
        {145, L"The directory is not empty."},
        {161, L"The specified path is invalid."},
        {183, L"Cannot create a file when that file already exists."},
        {206, L"The filename or extension is too long."},
        {234, L"More data is available."},
        {258, L"The wait operation timed out."},
        {259, L"No more data is available."},
        {1010, L"The configuration registry key is invalid."},
        {1011, L"The configuration registry key could not be opened."},
        {1012, L"The configuration registry key could not be read."},
        {1013, L"The configuration registry key could not be written."},
        {1015,
         L"The registry is corrupted. The structure of one of the files containing registry data "
         L"is "
         L"corrupted, or the system's memory image of the file is corrupted, or the file could not "
         L"be "
         L"recovered because the alternate copy or log was absent or corrupted."},
        {1016,
         L"An I/O operation initiated by the registry failed unrecoverably. The registry could not "
         L"read in, or write out, or flush, one of the files that contain the system's image of "
         L"the "
         L"registry."},
        {1018, L"Illegal operation attempted on a registry key that has been marked for deletion."},
        {1021, L"Cannot create a stable subkey under a volatile parent key."},
        {1460, L"This operation returned because the timeout period expired."},
        {12002, L"The operation timed out"},
        {12007, L"The server name or address could not be resolved"},
        {12029, L"A connection with the server could not be established"},
        {12030, L"The connection with the server was terminated abnormally"},
        {12152, L"The server returned an invalid or unrecognized response"},
        {0x80004001u, L"Not implemented"},
        {0x80004003u, L"Invalid pointer"},
        {0x80004005u, L"Unspecified error"},
    };
    return texts;
}

constexpr DWORD kWin32FacilityMask = 0xFFFF0000u;
constexpr DWORD kWin32Facility = 0x80070000u;

}  // namespace

std::wstring GetSystemErrorText(DWORD dwCode) {
    const auto& texts = SystemTexts();
    auto found = texts.find(dwCode);
    if (found == texts.end() && (dwCode & kWin32FacilityMask) == kWin32Facility) {
        found = texts.find(dwCode & ~kWin32FacilityMask);
    }
    return found == texts.end() ? std::wstring() : std::wstring(found->second) + L"\r\n";
}

std::wstring QualifiedFunctionName(std::string_view pretty) {
    // The name ends at the parameter list's '(' ("operator()" has one more pair before it)...
    size_t end = pretty.find('(');
    if (end != std::string_view::npos && pretty.substr(0, end).ends_with("operator")) {
        end = pretty.find('(', end + 2);
    }
    end = std::min(end, pretty.size());
    // ...and starts after the last space outside template arguments (the return type's end).
    size_t begin = end;
    int nDepth = 0;
    while (begin > 0) {
        const char c = pretty[begin - 1];
        nDepth += c == '>' ? 1 : c == '<' ? -1 : 0;
        if (c == ' ' && nDepth == 0) {
            break;
        }
        --begin;
    }
    return Utf8ToWide(pretty.substr(begin, end - begin));
}

CBranwickException::CBranwickException(std::wstring_view strFile, std::wstring_view strFunction,
                                       int nLine, std::wstring_view strCause, DWORD dwCode)
    : m_dwCode(dwCode) {
    const std::wstring file(strFile), function(strFunction), cause(strCause);
    const std::wstring location = FormatText(L"\nFile: %ls\nFunction: %ls\nLine: %d\n",
                                             file.c_str(), function.c_str(), nLine);
    m_strMessage = FormatText(L"%ls \n%ls\nError (%x):\t%ls\n", location.c_str(), cause.c_str(),
                              dwCode, GetSystemErrorText(dwCode).c_str());
    m_strWhat = WideToUtf8(m_strMessage);
}

}  // namespace Branwick

namespace Corvane::Exception {

CException::CException(std::int32_t nCode, std::wstring_view strMessage)
    : m_nCode(nCode), m_strMessage(strMessage), m_strWhat(Branwick::WideToUtf8(strMessage)) {}

}  // namespace Corvane::Exception
