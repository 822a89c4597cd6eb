#include "platform/files/winpath.h"

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

bool IsAsciiLetter(wchar_t ch) { return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z'); }

bool IsInvalidNameChar(wchar_t ch) {
    return ch < 32 || ch == L'<' || ch == L'>' || ch == L':' || ch == L'"' || ch == L'|';
}

LONG CheckNames(const std::vector<std::wstring>& vcParts, bool bWildcardLeaf) {
    for (std::size_t i = 0; i < vcParts.size(); ++i) {
        for (wchar_t ch : vcParts[i]) {
            if (IsInvalidNameChar(ch)) {
                return ERROR_INVALID_NAME;
            }
        }
        const bool bLast = i + 1 == vcParts.size();
        if (HasWildcard(vcParts[i]) && !(bLast && bWildcardLeaf)) {
            return ERROR_INVALID_NAME;
        }
    }
    return ERROR_SUCCESS;
}

void SplitParts(const std::wstring& strRest, CWinPath& out) {
    std::wstring part;
    auto flush = [&]() {
        if (part == L"..") {
            if (!out.m_vcParts.empty()) {
                out.m_vcParts.pop_back();
            }
        } else if (!part.empty() && part != L".") {
            out.m_vcParts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t ch : strRest) {
        if (IsSeparator(ch)) {
            flush();
        } else {
            part += ch;
        }
    }
    flush();
}

void DropTrailingDotsAndSpaces(CWinPath& out) {
    if (out.m_vcParts.empty() || HasWildcard(out.m_vcParts.back())) {
        return;
    }
    std::wstring& last = out.m_vcParts.back();
    while (!last.empty() && (last.back() == L'.' || last.back() == L' ')) {
        last.pop_back();
    }
    if (last.empty()) {
        out.m_vcParts.pop_back();
    }
}

bool Glob(const wchar_t* p, const wchar_t* n) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*n) {
        if (*p == L'*') {
            star = p++;
            resume = n;
        } else if (*p == L'?' || *p == *n) {
            ++p, ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == L'*') {
        ++p;
    }
    return *p == 0;
}

}  // namespace

bool HasWildcard(const std::wstring& strName) {
    return strName.find_first_of(L"*?") != std::wstring::npos;
}

CWinPath ParseWinPath(const std::wstring& strPath, wchar_t chDefaultDrive, bool bWildcardLeaf) {
    CWinPath out;
    const bool bDoubleSeparator = strPath.size() >= 2 && IsSeparator(strPath[0]) && IsSeparator(strPath[1]);
    std::wstring strRest;
    if (strPath.size() >= 2 && strPath[1] == L':' && IsAsciiLetter(strPath[0])) {
        out.m_chDrive = FoldCase(strPath[0]);
        strRest = strPath.substr(2);
    } else if (!strPath.empty() && IsSeparator(strPath[0]) && !bDoubleSeparator &&
               strPath.compare(0, 4, L"\\??\\") != 0) {
        out.m_chDrive = chDefaultDrive;
        strRest = strPath;
    } else {
        out.m_lCode = ERROR_PATH_NOT_FOUND;  // UNC, device, NT or relative path
        return out;
    }
    out.m_bTrailingSeparator = !strRest.empty() && IsSeparator(strRest.back());
    SplitParts(strRest, out);
    DropTrailingDotsAndSpaces(out);
    out.m_lCode = CheckNames(out.m_vcParts, bWildcardLeaf);
    return out;
}

std::wstring JoinWinPath(const CWinPath& path) {
    std::wstring s{path.m_chDrive, L':'};
    for (const std::wstring& part : path.m_vcParts) {
        s += L'\\' + part;
    }
    return path.m_vcParts.empty() ? s + L'\\' : s;
}

bool MatchPattern(const std::wstring& strFoldedPattern, const std::wstring& strFoldedName) {
    if (strFoldedPattern == L"*" || strFoldedPattern == L"*.*") {
        return true;
    }
    if (Glob(strFoldedPattern.c_str(), strFoldedName.c_str())) {
        return true;
    }
    // "name.*" also matches "name": a name without an extension has an empty one.
    const std::size_t n = strFoldedPattern.size();
    return n >= 2 && strFoldedPattern.compare(n - 2, 2, L".*") == 0 &&
           strFoldedName.find(L'.') == std::wstring::npos &&
           Glob(strFoldedPattern.substr(0, n - 2).c_str(), strFoldedName.c_str());
}

void RedirectWow64(CWinPath& path, const CWinPath& systemRoot) {
    const std::size_t n = systemRoot.m_vcParts.size();
    if (path.m_chDrive != systemRoot.m_chDrive || path.m_vcParts.size() <= n) {
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!EqualNoCase(path.m_vcParts[i], systemRoot.m_vcParts[i])) {
            return;
        }
    }
    std::wstring& folder = path.m_vcParts[n];
    if (EqualNoCase(folder, L"sysnative")) {
        folder = L"system32";
        return;
    }
    if (!EqualNoCase(folder, L"system32")) {
        return;
    }
    const std::wstring next = path.m_vcParts.size() > n + 1 ? FoldCase(path.m_vcParts[n + 1]) : L"";
    const std::wstring after = path.m_vcParts.size() > n + 2 ? FoldCase(path.m_vcParts[n + 2]) : L"";
    const bool bExempt = next == L"CATROOT" || next == L"CATROOT2" || next == L"DRIVERSTORE" ||
                         next == L"LOGFILES" || next == L"SPOOL" ||
                         (next == L"DRIVERS" && after == L"ETC");
    if (!bExempt) {
        folder = L"syswow64";
    }
}

}  // namespace Branwick::Platform
