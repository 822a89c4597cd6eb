#include "platform/registry/wine_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "platform/registry/utf8.h"

namespace Branwick::Platform::Reg {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicks1601To1970 = 86400LL * (369 * 365 + 89) * kTicksPerSecond;
// Limits wineserver enforces on load: longer names are refused there too.
constexpr std::size_t kMaxKeyNameLen = 256;
constexpr std::size_t kMaxValueNameLen = 16383;
// Windows nests keys at most 512 deep; deeper input would only make a tree no tool can walk.
constexpr std::size_t kMaxDepth = 512;
constexpr std::size_t kKeptWarnings = 100;
constexpr std::size_t kQuotedLineChars = 200;

inline bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

inline bool StartsWith(const char* p, const char* end, std::string_view s) {
    return static_cast<std::size_t>(end - p) >= s.size() && std::memcmp(p, s.data(), s.size()) == 0;
}

// An escape after a backslash at p (p < end). Returns the position after it, or nullptr when
// the escaped character is not plain ASCII (the caller then decodes it as text).
const char* ParseEscape(const char* p, const char* end, CName* pOut) {
    switch (*p) {
        case 'a':
            pOut->push_back(7);
            return p + 1;
        case 'b':
            pOut->push_back(8);
            return p + 1;
        case 'e':
            pOut->push_back(27);
            return p + 1;
        case 'f':
            pOut->push_back(12);
            return p + 1;
        case 'n':
            pOut->push_back(10);
            return p + 1;
        case 'r':
            pOut->push_back(13);
            return p + 1;
        case 't':
            pOut->push_back(9);
            return p + 1;
        case 'v':
            pOut->push_back(11);
            return p + 1;
        case 'x': {
            ++p;
            if (p == end || HexValue(*p) < 0) {
                pOut->push_back(u'x');
                return p;
            }
            unsigned v = 0;
            for (int i = 0; i < 4 && p < end && HexValue(*p) >= 0; ++i) {
                v = v * 16 + static_cast<unsigned>(HexValue(*p++));
            }
            pOut->push_back(static_cast<char16_t>(v));
            return p;
        }
        default:
            break;
    }
    if (*p >= '0' && *p <= '7') {
        unsigned v = static_cast<unsigned>(*p++ - '0');
        for (int i = 0; i < 2 && p < end && *p >= '0' && *p <= '7'; ++i) {
            v = v * 8 + static_cast<unsigned>(*p++ - '0');
        }
        pOut->push_back(static_cast<char16_t>(v));
        return p;
    }
    if (static_cast<unsigned char>(*p) < 0x80) {
        pOut->push_back(static_cast<char16_t>(*p));
        return p + 1;
    }
    return nullptr;
}

// An escaped string up to the first unescaped endchar. Raw bytes of 0x80 and more are UTF-8;
// invalid sequences are dropped, as wineserver drops them. Returns the position after endchar,
// or nullptr when the string is not terminated.
const char* ParseEscaped(const char* p, const char* end, char endchar, CName* pOut) {
    pOut->clear();
    while (p < end) {
        // Plain ASCII runs, the bulk of every file, go in one piece.
        const char* run = p;
        while (run < end && *run != endchar && *run != '\\' &&
               static_cast<unsigned char>(*run) < 0x80) {
            ++run;
        }
        if (run != p) {
            const std::size_t old = pOut->size();
            pOut->resize(old + static_cast<std::size_t>(run - p));
            std::copy(p, run, pOut->begin() + static_cast<std::ptrdiff_t>(old));
            p = run;
            if (p == end) {
                break;
            }
        }
        const char c = *p;
        if (c == endchar) {
            return p + 1;
        }
        if (c == '\\') {
            if (++p == end) {
                return nullptr;
            }
            if (const char* next = ParseEscape(p, end, pOut)) {
                p = next;
                continue;
            }
        }
        if (static_cast<unsigned char>(*p) < 0x80) {
            pOut->push_back(static_cast<char16_t>(*p++));
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t n = DecodeUtf8(p, end, &code);
        if (n == 0) {
            ++p;
            continue;
        }
        PushCodePoint(code, pOut);
        p += n;
    }
    return nullptr;
}

// strtoul(p, &end, 16) of the C library: blanks, a sign, an optional 0x, hex digits; saturates.
// *pp stays where it was when there are no digits.
std::uint64_t StrToUl16(const char** pp, const char* end) {
    const char* p = *pp;
    while (p < end && IsSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p++ == '-';
    }
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexValue(p[2]) >= 0) {
        p += 2;
    }
    if (p == end || HexValue(*p) < 0) {
        return 0;
    }
    std::uint64_t v = 0;
    bool saturated = false;
    for (; p < end && HexValue(*p) >= 0; ++p) {
        if (v > (UINT64_MAX >> 4)) {
            saturated = true;
        }
        v = (v << 4) | static_cast<std::uint64_t>(HexValue(*p));
    }
    *pp = p;
    if (saturated) {
        return UINT64_MAX;
    }
    return negative ? ~v + 1 : v;
}

// A comma-separated list of hex bytes, blanks allowed around the commas. nullptr when a number
// does not fit a byte.
const char* ParseHexList(const char* p, const char* end, std::vector<std::uint8_t>* pOut) {
    while (p < end && HexValue(*p) >= 0) {
        if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexValue(p[2]) >= 0) {
            p += 2;
        }
        unsigned v = 0;
        bool tooBig = false;
        for (; p < end && HexValue(*p) >= 0; ++p) {
            v = v * 16 + static_cast<unsigned>(HexValue(*p));
            tooBig = tooBig || v > 0xFF;
            v &= 0xFFF;
        }
        if (tooBig) {
            return nullptr;
        }
        pOut->push_back(static_cast<std::uint8_t>(v));
        while (p < end && IsSpace(*p)) {
            ++p;
        }
        if (p < end && *p == ',') {
            ++p;
        }
        while (p < end && IsSpace(*p)) {
            ++p;
        }
    }
    return p;
}

void AppendUnitsLE(const CName& s, bool bTerminate, std::vector<std::uint8_t>* pOut) {
    pOut->resize(s.size() * 2 + (bTerminate ? 2 : 0));
    std::uint8_t* out = pOut->data();
    for (const char16_t c : s) {
        *out++ = static_cast<std::uint8_t>(c & 0xFF);
        *out++ = static_cast<std::uint8_t>(c >> 8);
    }
    if (bTerminate) {
        out[0] = 0;
        out[1] = 0;
    }
}

class CParser {
public:
    CParser(CLineReader* pReader, CKeyNode* pRoot, const CWineParseOptions& options)
        : m_pReader(pReader), m_pRoot(pRoot), m_options(options) {}

    CWineParseResult Run() {
        CWineParseResult result = ReadLines();
        // What was read stays in the tree also when the file is refused, so its order must hold.
        for (const auto& unordered : m_unordered) {
            unordered.first->SortChildren();
        }
        return result;
    }

private:
    CWineParseResult ReadLines() {
        std::string_view line;
        if (!m_pReader->Next(&line)) {
            if (m_pReader->ReadError() == 0 && !m_options.m_bRequireMagic) {
                return std::move(m_result);
            }
            return Fail(ERROR_NOT_REGISTRY_FILE,
                        L"is empty; its first line must be \"WINE REGISTRY Version 2\"");
        }
        if (line != kWineMagic) {
            if (m_options.m_bRequireMagic) {
                return Fail(ERROR_NOT_REGISTRY_FILE,
                            L"is not a Wine registry file: its first line is not \"WINE REGISTRY "
                            L"Version 2\"");
            }
            if (!OnLine(line)) {
                return std::move(m_result);
            }
        }
        while (m_pReader->Next(&line)) {
            if (!OnLine(line)) {
                return std::move(m_result);
            }
        }
        FinishKey();
        if (m_pReader->ReadError() != 0) {
            return Fail(ERROR_CANTREAD,
                        L"could not be read: " + WidenUtf8(std::strerror(m_pReader->ReadError())));
        }
        return std::move(m_result);
    }

    // Records why the file is refused; Run returns the result.
    CWineParseResult Fail(LONG code, const std::wstring& what) {
        SetFailure(code, what);
        return std::move(m_result);
    }

    void SetFailure(LONG code, const std::wstring& what) {
        m_result.m_status.m_lCode = code;
        m_result.m_status.m_strText = WidenUtf8(m_options.m_strFileName) + L" " + what;
    }

    void Warn(const char* what, std::string_view line) {
        if (m_result.m_nWarnings++ >= kKeptWarnings) {
            return;
        }
        std::wstring text = WidenUtf8(m_options.m_strFileName) + L":" +
                            std::to_wstring(m_pReader->LineNumber()) + L": " + WidenUtf8(what) +
                            L" '" + WidenUtf8(line.substr(0, kQuotedLineChars)) +
                            (line.size() > kQuotedLineChars ? L"...'" : L"'");
        m_result.m_vWarnings.push_back(std::move(text));
    }

    // False when the file must be refused.
    bool OnLine(std::string_view line) {
        const char* p = line.data();
        const char* end = p + line.size();
        while (p < end && IsSpace(*p)) {
            ++p;
        }
        if (p == end) {
            return true;
        }
        switch (*p) {
            case '[':
                OnKey(p + 1, end, line);
                return true;
            case '@':
            case '"':
                if (m_pKey == nullptr) {
                    Warn("Value without key", line);
                } else {
                    OnValue(p, end, line);
                }
                return true;
            case '#':
                if (m_pKey != nullptr) {
                    OnKeyOption(std::string_view(p, static_cast<std::size_t>(end - p)));
                    return true;
                }
                return OnGlobalOption(std::string_view(p, static_cast<std::size_t>(end - p)));
            case ';':
                return true;
            default:
                Warn("Unrecognized input", line);
                return true;
        }
    }

    bool OnGlobalOption(std::string_view option) {
        if (option.substr(0, 6) != "#arch=") {
            return true;  // unknown global options are ignored
        }
        const std::string arch(option.substr(6));
        if (arch != "win32" && arch != "win64") {
            SetFailure(ERROR_NOT_REGISTRY_FILE,
                       L"has an unknown architecture \"" + WidenUtf8(arch) + L"\"");
            return false;
        }
        const std::string& expected =
            m_result.m_strArch.empty() ? m_options.m_strExpectedArch : m_result.m_strArch;
        if (!expected.empty() && arch != expected) {
            SetFailure(ERROR_NOT_REGISTRY_FILE, L"is for " + WidenUtf8(arch) +
                                                    L" but the prefix is " + WidenUtf8(expected) +
                                                    L" (mismatched architecture)");
            return false;
        }
        m_result.m_strArch = arch;
        return true;
    }

    void OnKeyOption(std::string_view option) {
        if (option.substr(0, 6) == "#time=") {
            std::uint64_t t = 0;
            for (std::size_t i = 6; i < option.size() && HexValue(option[i]) >= 0; ++i) {
                t = (t << 4) | static_cast<std::uint64_t>(HexValue(option[i]));
            }
            UpdateKeyTime(m_pKey, t);
        } else if (option.substr(0, 8) == "#class=\"") {
            CName cls;
            const char* p = option.data() + 8;
            if (ParseEscaped(p, option.data() + option.size(), '"', &cls)) {
                m_pKey->SetClass(std::move(cls));
            }
        } else if (option.substr(0, 5) == "#link") {
            m_pKey->Set(kNodeLink, true);
        }
    }

    static void UpdateKeyTime(CKeyNode* pKey, std::uint64_t t) {
        for (; pKey != nullptr && pKey->m_qwTime == 0; pKey = pKey->Parent()) {
            pKey->m_qwTime = t;
        }
    }

    void FinishKey() {
        if (m_pKey != nullptr) {
            UpdateKeyTime(m_pKey, m_qwKeyLineTime);
            m_pKey = nullptr;
        }
    }

    void OnKey(const char* p, const char* end, std::string_view line) {
        FinishKey();
        const char* after = ParseEscaped(p, end, ']', &m_strPath);
        if (after == nullptr) {
            Warn("Malformed key", line);
            return;
        }
        m_qwKeyLineTime = KeyLineTime(after, end);
        if (!m_strPath.empty() && m_strPath[0] == u'\\') {
            Warn("Error creating key", line);
            return;
        }
        std::vector<CNameView>& parts = m_vParts;
        parts.clear();
        std::size_t start = 0;
        while (start <= m_strPath.size()) {
            std::size_t stop = m_strPath.find(u'\\', start);
            if (stop == CName::npos) {
                stop = m_strPath.size();
            }
            if (stop > start) {
                parts.emplace_back(m_strPath.data() + start, stop - start);
                if (stop - start > kMaxKeyNameLen) {
                    Warn("Error creating key (name too long)", line);
                    return;
                }
            }
            start = stop + 1;
        }
        if (parts.size() > kMaxDepth) {
            Warn("Error creating key (nested too deep)", line);
            return;
        }
        m_pKey = CreateKeyPath(parts);
    }

    // Reuses the nodes of the previous key line's path: a saved file walks the tree in order.
    CKeyNode* CreateKeyPath(const std::vector<CNameView>& parts) {
        CKeyNode* node = m_pRoot;
        std::size_t i = 0;
        for (; i < parts.size() && i < m_vLastPath.size(); ++i) {
            if (m_vLastPath[i]->Name() != parts[i] &&
                !NamesEqual(m_vLastPath[i]->Name(), parts[i])) {
                break;
            }
            node = m_vLastPath[i];
        }
        m_vLastPath.resize(i);
        for (; i < parts.size(); ++i) {
            node = FindOrAddChild(node, parts[i]);
            m_vLastPath.push_back(node);
        }
        return node;
    }

    // A saved file lists the subkeys of a key in order, and the tree appends them cheaply. A file
    // written by hand or by a script may not: putting each subkey in its place at once would move
    // all that follow it, work that grows with the square of their number. Such subkeys go to the
    // end instead, are found again through an index by folded name, and are sorted once the file
    // is read.
    CKeyNode* FindOrAddChild(CKeyNode* pNode, CNameView strName) {
        auto unordered = m_unordered.find(pNode);
        if (unordered == m_unordered.end()) {
            const std::size_t n = pNode->ChildCount();
            if (n == 0 || CompareNames(pNode->Child(n - 1)->Name(), strName) <= 0) {
                bool added = false;
                return pNode->FindOrAddChild(strName, 0, &added);
            }
            if (CKeyNode* pFound = pNode->FindChild(strName)) {
                return pFound;
            }
            unordered = m_unordered.try_emplace(pNode).first;
            for (std::size_t i = 0; i < n; ++i) {
                unordered->second.emplace(Folded(pNode->Child(i)->Name()), pNode->Child(i));
            }
        }
        CName strFolded = Folded(strName);
        const auto found = unordered->second.find(strFolded);
        if (found != unordered->second.end()) {
            return found->second;
        }
        CKeyNode* pChild = pNode->AppendChildUnsorted(CName(strName), 0);
        unordered->second.emplace(std::move(strFolded), pChild);
        return pChild;
    }

    static CName Folded(CNameView strName) {
        CName out(strName);
        for (char16_t& c : out) {
            c = FoldUnit(c);
        }
        return out;
    }

    // " %u" after the closing bracket: seconds since 1970; otherwise the load time.
    std::uint64_t KeyLineTime(const char* p, const char* end) const {
        while (p < end && IsSpace(*p)) {
            ++p;
        }
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) {
            negative = *p++ == '-';
        }
        if (p == end || *p < '0' || *p > '9') {
            return m_options.m_qwLoadTime;
        }
        std::uint32_t secs = 0;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            secs = secs * 10 + static_cast<std::uint32_t>(*p - '0');
        }
        if (negative) {
            secs = ~secs + 1;
        }
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(secs) * kTicksPerSecond +
                                          kTicks1601To1970);
    }

    void OnValue(const char* p, const char* end, std::string_view line) {
        const char* q = p + 1;
        m_strName.clear();
        if (*p == '"' && (q = ParseEscaped(p + 1, end, '"', &m_strName)) == nullptr) {
            Warn("Malformed value name", line);
            return;
        }
        while (q < end && IsSpace(*q)) {
            ++q;
        }
        if (q == end || *q != '=') {
            Warn("Malformed value name", line);
            return;
        }
        ++q;
        while (q < end && IsSpace(*q)) {
            ++q;
        }
        if (m_strName.size() > kMaxValueNameLen) {
            Warn("Value name too long", line);
            return;
        }
        DWORD type = REG_NONE;
        std::vector<std::uint8_t> data;
        if (!ParseData(q, end, &type, &data)) {
            Warn("Malformed value", line);
            type = REG_NONE;
            data.clear();
        }
        m_pKey->SetValue(m_strName, type, std::move(data));
    }

    bool ParseData(const char* p, const char* end, DWORD* pType, std::vector<std::uint8_t>* pData) {
        struct CTag {
            std::string_view m_strTag;
            DWORD m_dwType;
        };
        static constexpr CTag kStrings[] = {{"\"", REG_SZ},
                                            {"str:\"", REG_SZ},
                                            {"str(2):\"", REG_EXPAND_SZ},
                                            {"str(7):\"", REG_MULTI_SZ}};
        for (const CTag& tag : kStrings) {
            if (StartsWith(p, end, tag.m_strTag)) {
                *pType = tag.m_dwType;
                if (!ParseEscaped(p + tag.m_strTag.size(), end, '"', &m_strData)) {
                    return false;
                }
                AppendUnitsLE(m_strData, true, pData);
                return true;
            }
        }
        if (StartsWith(p, end, "dword:")) {
            p += 6;
            const auto dw = static_cast<std::uint32_t>(StrToUl16(&p, end));
            *pType = REG_DWORD;
            *pData = {static_cast<std::uint8_t>(dw), static_cast<std::uint8_t>(dw >> 8),
                      static_cast<std::uint8_t>(dw >> 16), static_cast<std::uint8_t>(dw >> 24)};
            return true;
        }
        if (StartsWith(p, end, "hex:")) {
            *pType = REG_BINARY;
            return ParseHexData(p + 4, end, pData);
        }
        if (StartsWith(p, end, "hex(")) {
            p += 4;
            *pType = static_cast<DWORD>(StrToUl16(&p, end));
            if (!StartsWith(p, end, "):")) {
                return false;
            }
            return ParseHexData(p + 2, end, pData);
        }
        return false;
    }

    bool ParseHexData(const char* p, const char* end, std::vector<std::uint8_t>* pData) {
        for (;;) {
            p = ParseHexList(p, end, pData);
            if (p == nullptr) {
                return false;
            }
            while (p < end && IsSpace(*p)) {
                ++p;
            }
            if (p == end) {
                return true;
            }
            if (*p != '\\') {
                return false;
            }
            std::string_view next;
            if (!m_pReader->Next(&next)) {
                return false;
            }
            p = next.data();
            end = p + next.size();
            while (p < end && IsSpace(*p)) {
                ++p;
            }
        }
    }

    CLineReader* m_pReader;
    CKeyNode* m_pRoot;
    const CWineParseOptions& m_options;
    CWineParseResult m_result;
    CKeyNode* m_pKey = nullptr;
    std::uint64_t m_qwKeyLineTime = 0;
    std::vector<CKeyNode*> m_vLastPath;
    // The keys whose subkeys came out of order, each with its subkeys by folded name.
    std::unordered_map<CKeyNode*, std::unordered_map<CName, CKeyNode*>> m_unordered;
    std::vector<CNameView> m_vParts;
    CName m_strPath;
    CName m_strName;
    CName m_strData;
};

// ---- writer ----

constexpr char kHex[] = "0123456789abcdef";

void PutHex(std::uint32_t v, int minDigits, std::string* pOut) {
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kHex[v & 0xF];
        v >>= 4;
    } while (v != 0);
    for (int i = n; i < minDigits; ++i) {
        pOut->push_back('0');
    }
    while (n > 0) {
        pOut->push_back(buf[--n]);
    }
}

void PutOctal(unsigned v, bool threeDigits, std::string* pOut) {
    char buf[4];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + (v & 7));
        v >>= 3;
    } while (v != 0);
    for (int i = n; threeDigits && i < 3; ++i) {
        pOut->push_back('0');
    }
    while (n > 0) {
        pOut->push_back(buf[--n]);
    }
}

// wineserver's escaping: pure ASCII out; \x with four digits when an ASCII hex digit follows.
void PutEscaped(const char16_t* s, std::size_t n, char delim1, char delim2, std::string* pOut) {
    static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
    for (std::size_t i = 0; i < n; ++i) {
        // Printable ASCII that needs no escape, the bulk of every name and string, in one piece.
        std::size_t run = i;
        while (run < n && s[run] >= 32 && s[run] < 128 && s[run] != u'\\' &&
               s[run] != static_cast<char16_t>(delim1) && s[run] != static_cast<char16_t>(delim2)) {
            ++run;
        }
        if (run != i) {
            const std::size_t old = pOut->size();
            pOut->resize(old + (run - i));
            std::copy(s + i, s + run, pOut->begin() + static_cast<std::ptrdiff_t>(old));
            i = run;
            if (i == n) {
                break;
            }
        }
        const char16_t c = s[i];
        const bool hasNext = i + 1 < n;
        if (c > 127) {
            pOut->append("\\x");
            const bool hexFollows =
                hasNext && s[i + 1] < 128 && HexValue(static_cast<char>(s[i + 1])) >= 0;
            PutHex(c, hexFollows ? 4 : 1, pOut);
        } else if (c < 32) {
            pOut->push_back('\\');
            if (kEscapes[c] != '.') {
                pOut->push_back(kEscapes[c]);
            } else {
                PutOctal(c, hasNext && s[i + 1] >= u'0' && s[i + 1] <= u'7', pOut);
            }
        } else {
            if (c == u'\\' || c == static_cast<char16_t>(delim1) ||
                c == static_cast<char16_t>(delim2)) {
                pOut->push_back('\\');
            }
            pOut->push_back(static_cast<char>(c));
        }
    }
}

void PutEscaped(CNameView s, char delim1, char delim2, std::string* pOut) {
    PutEscaped(s.data(), s.size(), delim1, delim2, pOut);
}

class CWriter {
public:
    CWriter(const CWineWriteOptions& options, CTextOut* pOut) : m_options(options), m_pOut(pOut) {}

    void Key(const CKeyNode& node, bool bBase) {
        if (!bBase && node.Has(kNodeMount)) {
            return;  // another store's subtree
        }
        bool ownChildren = false;
        for (std::size_t i = 0; i < node.ChildCount() && !ownChildren; ++i) {
            ownChildren = !node.Child(i)->Has(kNodeMount);
        }
        if (!node.Values().empty() || !ownChildren || node.Class() != nullptr ||
            node.Has(kNodeLink)) {
            KeyHeader(node);
            for (const CValue* v : node.SortedValues()) {
                Value(*v);
            }
            m_pOut->MaybeFlush();
        }
        for (std::size_t i = 0; i < node.ChildCount(); ++i) {
            const std::size_t len = m_strPath.size();
            if (!bBase) {
                m_strPath.append("\\\\");
            }
            PutEscaped(node.Child(i)->Name(), '[', ']', &m_strPath);
            Key(*node.Child(i), false);
            m_strPath.resize(len);
        }
    }

private:
    void KeyHeader(const CKeyNode& node) {
        std::string& b = m_pOut->Text();
        b.append("\n[");
        b.append(m_strPath);
        b.push_back(']');
        if (m_options.m_bTimes) {
            const auto t = static_cast<std::int64_t>(node.m_qwTime);
            const auto secs = static_cast<std::uint32_t>((t - kTicks1601To1970) / kTicksPerSecond);
            char buf[16];
            const auto r = std::to_chars(buf, buf + sizeof(buf), secs);
            b.push_back(' ');
            b.append(buf, r.ptr);
            b.append("\n#time=");
            PutHex(static_cast<std::uint32_t>(node.m_qwTime >> 32), 1, &b);
            PutHex(static_cast<std::uint32_t>(node.m_qwTime), 8, &b);
        }
        b.push_back('\n');
        if (node.Class() != nullptr) {
            b.append("#class=\"");
            PutEscaped(*node.Class(), '"', '"', &b);
            b.append("\"\n");
        }
        if (node.Has(kNodeLink)) {
            b.append("#link\n");
        }
    }

    void Value(const CValue& v) {
        std::string& b = m_pOut->Text();
        std::size_t lineStart = b.size();
        if (v.m_strName.empty()) {
            b.append("@=");
        } else {
            b.push_back('"');
            PutEscaped(v.m_strName, '"', '"', &b);
            b.append("\"=");
        }
        const std::vector<std::uint8_t>& d = v.m_vData;
        const std::size_t n = d.size();
        if ((v.m_dwType == REG_SZ || v.m_dwType == REG_EXPAND_SZ || v.m_dwType == REG_MULTI_SZ) &&
            n >= 2 && n % 2 == 0 && d[n - 1] == 0 && d[n - 2] == 0) {
            if (v.m_dwType != REG_SZ) {
                b.append("str(");
                PutHex(v.m_dwType, 1, &b);
                b.append("):");
            }
            b.push_back('"');
            m_strUnits.resize(n / 2 - 1);
            for (std::size_t i = 0; i + 1 < n / 2; ++i) {
                m_strUnits[i] = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
            }
            PutEscaped(m_strUnits, '"', '"', &b);
            b.append("\"\n");
            return;
        }
        if (v.m_dwType == REG_DWORD && n == 4) {
            b.append("dword:");
            PutHex(static_cast<std::uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16)) |
                       (static_cast<std::uint32_t>(d[3]) << 24),
                   8, &b);
            b.push_back('\n');
            return;
        }
        if (v.m_dwType == REG_BINARY) {
            b.append("hex:");
        } else {
            b.append("hex(");
            PutHex(v.m_dwType, 1, &b);
            b.append("):");
        }
        for (std::size_t i = 0; i < n; ++i) {
            b.push_back(kHex[d[i] >> 4]);
            b.push_back(kHex[d[i] & 0xF]);
            if (i + 1 < n) {
                b.push_back(',');
                if (b.size() - lineStart > 76) {
                    b.append("\\\n  ");
                    lineStart = b.size() - 2;
                }
            }
        }
        b.push_back('\n');
    }

    const CWineWriteOptions& m_options;
    CTextOut* m_pOut;
    std::string m_strPath;
    CName m_strUnits;
};

}  // namespace

CLineReader::CLineReader(std::string_view strText)
    : m_strText(strText), m_nEnd(strText.size()), m_bEof(true) {}

CLineReader::CLineReader(int fd) : m_fd(fd), m_vBuffer(1 << 20) {}

bool CLineReader::Fill() {
    if (m_nPos > 0) {
        std::memmove(m_vBuffer.data(), m_vBuffer.data() + m_nPos, m_nEnd - m_nPos);
        m_nEnd -= m_nPos;
        m_nPos = 0;
    }
    if (m_nEnd == m_vBuffer.size()) {
        m_vBuffer.resize(m_vBuffer.size() * 2);
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, m_vBuffer.data() + m_nEnd, m_vBuffer.size() - m_nEnd);
        if (n > 0) {
            m_nEnd += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_nErrno = errno;
        }
        m_bEof = true;
        return false;
    }
}

bool CLineReader::Next(std::string_view* pLine) {
    if (m_nErrno != 0) {
        return false;
    }
    for (;;) {
        const char* base = m_fd >= 0 ? m_vBuffer.data() : m_strText.data();
        const char* start = base + m_nPos;
        const auto* nl = static_cast<const char*>(std::memchr(start, '\n', m_nEnd - m_nPos));
        std::size_t len;
        if (nl != nullptr) {
            len = static_cast<std::size_t>(nl - start);
            m_nPos += len + 1;
        } else if (!m_bEof && Fill()) {
            continue;
        } else if (m_nErrno != 0 || m_nPos == m_nEnd) {
            return false;
        } else {
            len = m_nEnd - m_nPos;
            m_nPos = m_nEnd;
        }
        if (const void* nul = std::memchr(start, '\0', len)) {
            len = static_cast<std::size_t>(static_cast<const char*>(nul) - start);
        } else if (len > 0 && start[len - 1] == '\r') {
            --len;
        }
        ++m_nLine;
        *pLine = std::string_view(start, len);
        return true;
    }
}

CTextOut::CTextOut(int fd) : m_fd(fd) {
    if (fd >= 0) {
        m_strBuffer.reserve(kChunk + 4096);
    }
}

void CTextOut::FlushChunk() {
    if (m_fd < 0) {
        return;
    }
    const char* p = m_strBuffer.data();
    std::size_t left = m_strBuffer.size();
    while (left > 0 && m_nErrno == 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0) {
            if (errno != EINTR) {
                m_nErrno = errno;
            }
            continue;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    m_strBuffer.clear();
}

bool CTextOut::Finish() {
    FlushChunk();
    return m_nErrno == 0;
}

CWineParseResult ParseWineText(CLineReader* pReader, CKeyNode* pRoot,
                               const CWineParseOptions& options) {
    return CParser(pReader, pRoot, options).Run();
}

void WriteWineText(const CKeyNode& root, const CWineWriteOptions& options, CTextOut* pOut) {
    if (!options.m_strBranch.empty()) {
        pOut->Put(kWineMagic);
        pOut->Put("\n;; All keys relative to ");
        pOut->Put(options.m_strBranch);
        pOut->Put('\n');
        if (!options.m_strArch.empty()) {
            pOut->Put("\n#arch=");
            pOut->Put(options.m_strArch);
            pOut->Put('\n');
        }
    }
    CWriter(options, pOut).Key(root, true);
}

std::uint64_t FileTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec * kTicksPerSecond + ts.tv_nsec / 100 +
                                      kTicks1601To1970);
}

}  // namespace Branwick::Platform::Reg
