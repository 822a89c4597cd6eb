#include "platform/demo/recipe.h"

#include <cstdio>
#include <sstream>

#include "platform/text/text.h"

namespace Branwick::Platform {

namespace {

std::string Trim(std::string_view s) {
    const std::size_t b = s.find_first_not_of(" \t");
    const std::size_t e = s.find_last_not_of(" \t");
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> SplitBars(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    for (std::string part; std::getline(ss, part, '|');) {
        out.push_back(Trim(part));
    }
    if (!s.empty() && s.back() == '|') {
        out.emplace_back();  // a last empty field
    }
    return out;
}

bool ParseNumber(const std::string& s, DWORD& n) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, 0);
    n = static_cast<DWORD>(v);
    return !s.empty() && end && *end == '\0' && v <= 0xFFFFFFFFul;
}

// Wine's text for a link key: the NT path of the target as UTF-16LE without a terminator.
std::string LinkKeyText(const std::string& strKey, const std::string& strTarget) {
    std::string text = "[";
    for (char c : strKey) {
        text += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    text += "]\n#link\n\"SymbolicLinkValue\"=hex(6):";
    const std::vector<std::uint8_t> bytes = ToUtf16Le(FromUtf8(strTarget), false);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text += (i ? "," : "") + std::string(hex);
    }
    return text + "\n";
}

class CRecipeParser {
public:
    explicit CRecipeParser(CDemoRecipe& out) : m_out(out) {}

    // False with a reason when the line cannot be used.
    bool Line(const std::string& line, std::string& strWhy) {
        if (line.empty() || line[0] != '!') {
            return RegistryLine(line, strWhy);
        }
        const std::size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : Trim(line.substr(space + 1));
        if (verb == "!machine" || verb == "!user") {
            m_pText = verb == "!machine" ? &m_out.m_strMachine : &m_out.m_strUser;
            *m_pText += "\n";
            return true;
        }
        if (verb == "!default") {
            const std::vector<std::string> f = SplitBars(rest);
            if (f.size() != 3) {
                strWhy = "!default needs key | name | text";
                return false;
            }
            for (const std::string& field : f) {
                m_out.m_vcDefault.push_back(FromUtf8(field));
            }
            return true;
        }
        if (verb == "!plant") {
            return Plant(rest, strWhy);
        }
        if (verb == "!expect" || verb == "!sound") {
            return Entry(verb == "!expect", rest, strWhy);
        }
        if (verb == "!history" || verb == "!keep") {
            return Trace(verb == "!history", rest, strWhy);
        }
        if (verb == "!folder" || verb == "!file") {
            return Step(verb == "!folder" ? CRecipeStep::EKind::Folder : CRecipeStep::EKind::File, rest, "", strWhy);
        }
        if (verb == "!link" || verb == "!linkkey") {
            const std::size_t arrow = rest.find(" -> ");
            if (arrow == std::string::npos) {
                strWhy = verb + " needs \"<path> -> <target>\"";
                return false;
            }
            if (verb == "!linkkey") {
                m_out.m_strMachine += "\n" + LinkKeyText(rest.substr(0, arrow), rest.substr(arrow + 4));
                return true;
            }
            return Step(CRecipeStep::EKind::Link, rest.substr(0, arrow), rest.substr(arrow + 4), strWhy);
        }
        strWhy = "unknown directive " + verb;
        return false;
    }

private:
    bool RegistryLine(const std::string& line, std::string& strWhy) {
        if (m_pText) {
            *m_pText += line + "\n";
            return true;
        }
        if (Trim(line).empty() || line[0] == ';') {
            return true;
        }
        strWhy = "registry text before !machine or !user";
        return false;
    }

    bool Plant(const std::string& rest, std::string& strWhy) {
        std::stringstream ss(rest);
        std::string category, kind;
        ss >> category >> kind;
        std::getline(ss, m_strNote);
        m_strNote = Trim(m_strNote);
        m_pText = nullptr;
        if (!ParseNumber(category, m_dwCategory) || kind.empty()) {
            strWhy = "!plant needs a category and a kind";
            return false;
        }
        return true;
    }

    bool Entry(bool bFinding, const std::string& rest, std::string& strWhy) {
        const std::vector<std::string> f = SplitBars(rest);
        if (f.size() != (bFinding ? 5u : 3u)) {
            strWhy = bFinding ? "!expect needs root | path | view | value | description"
                              : "!sound needs root | path | value";
            return false;
        }
        CDemoEntry e;
        e.m_dwCategory = m_dwCategory;
        e.m_strRoot = f[0] == "-" ? L"" : FromUtf8(f[0]);
        e.m_strPath = FromUtf8(f[1]);
        e.m_strValue = FromUtf8(bFinding ? f[3] : f[2]);
        e.m_strNote = FromUtf8(m_strNote);
        if (bFinding && (!ParseNumber(f[2], e.m_dwView) || f[4].empty())) {
            strWhy = "!expect needs a view number and a description";
            return false;
        }
        if (bFinding) {
            e.m_strDescription = FromUtf8(f[4]);
        }
        (bFinding ? m_out.m_expect.m_vcFindings : m_out.m_expect.m_vcSound).push_back(std::move(e));
        return true;
    }

    bool Trace(bool bErased, const std::string& rest, std::string& strWhy) {
        const std::size_t space = rest.find(' ');
        CDemoTrace t;
        if (space == std::string::npos || !ParseNumber(rest.substr(0, space), t.m_dwItems)) {
            strWhy = "!history and !keep need items and a path";
            return false;
        }
        t.m_strPath = FromUtf8(Trim(rest.substr(space + 1)));
        t.m_bErased = bErased;
        m_out.m_expect.m_vcHistory.push_back(t);
        if (t.m_strPath.compare(0, 5, L"HKEY_") == 0) {
            return true;  // a key: the registry text makes it
        }
        return Step(CRecipeStep::EKind::Trace, Trim(rest.substr(space + 1)), "", strWhy);
    }

    bool Step(CRecipeStep::EKind eKind, const std::string& path, const std::string& target, std::string& strWhy) {
        if (path.size() < 3 || path[1] != ':' || path[2] != '\\') {
            strWhy = "a full Windows path is needed, not \"" + path + "\"";
            return false;
        }
        m_out.m_vcSteps.push_back({eKind, FromUtf8(path), FromUtf8(target)});
        return true;
    }

    CDemoRecipe& m_out;
    std::string* m_pText = nullptr;
    DWORD m_dwCategory = 0;
    std::string m_strNote;
};

}  // namespace

bool ParseRecipe(std::string_view text, CDemoRecipe& out, std::wstring& strError) {
    out = CDemoRecipe();
    CRecipeParser parser(out);
    std::stringstream ss{std::string(text)};
    int nLine = 0;
    for (std::string line; std::getline(ss, line);) {
        ++nLine;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string strWhy;
        if (!parser.Line(line, strWhy)) {
            strError = L"Demo recipe, line " + std::to_wstring(nLine) + L": " + FromUtf8(strWhy);
            return false;
        }
    }
    return true;
}

}  // namespace Branwick::Platform
