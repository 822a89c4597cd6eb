// The exceptions of the program and the engine. CBranwickException carries where it was thrown,
// why, and the Win32 error or HRESULT with its system text; catch sites log that text and show it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "core/Text.h"
#include "platform/win32/win32.h"

namespace Branwick {

class CBranwickException : public std::exception {
public:
    // The text is "\nFile: <file>\nFunction: <function>\nLine: <line>\n \n<cause>\nError (<code in
    // lower-case hex>):\t<system text of code>\n". Without a code, E_FAIL.
    CBranwickException(std::wstring_view strFile, std::wstring_view strFunction, int nLine,
                       std::wstring_view strCause, DWORD dwCode = static_cast<DWORD>(E_FAIL));

    const std::wstring& GetMessage() const { return m_strMessage; }
    DWORD GetCode() const { return m_dwCode; }
    // The text in UTF-8.
    const char* what() const noexcept override { return m_strWhat.c_str(); }

private:
    std::wstring m_strMessage;
    DWORD m_dwCode;
    std::string m_strWhat;
};

// The system's text for a Win32 error code or an HRESULT (as Windows words it, ending in "\r\n");
// an HRESULT of the Win32 facility (0x8007xxxx) gives the text of its Win32 code. The empty text
// for a code the program does not know.
std::wstring GetSystemErrorText(DWORD dwCode);

// "Branwick::CBackUp::Create" out of the compiler's "void Branwick::CBackUp::Create(int)".
std::wstring QualifiedFunctionName(std::string_view prettyFunction);

}  // namespace Branwick

// Builds a CBranwickException at the place of the call: BRANWICK_EXCEPTION(L"cause"[, code]).
#define BRANWICK_EXCEPTION(...)                                                            \
    ::Branwick::CBranwickException(::Branwick::Utf8ToWide(__FILE__),                       \
                                   ::Branwick::QualifiedFunctionName(__PRETTY_FUNCTION__), \
                                   __LINE__, __VA_ARGS__)

namespace Corvane::Exception {

// The HTTP layer's exceptions: a kind number chosen by the thrower and a message.
class CException : public std::exception {
public:
    CException(std::int32_t nCode, std::wstring_view strMessage);

    std::int32_t GetCode() const { return m_nCode; }
    const std::wstring& GetMessage() const { return m_strMessage; }
    const char* what() const noexcept override { return m_strWhat.c_str(); }

private:
    std::int32_t m_nCode;
    std::wstring m_strMessage;
    std::string m_strWhat;
};

// Thrown by the HTTP client; its messages read "<description>. Last error: <code>.".
class CNetworkException : public CException {
public:
    using CException::CException;
};

}  // namespace Corvane::Exception
