#include "engine/WineContent.h"

#include <algorithm>

#include "core/RegError.h"
#include "platform/target/target.h"
#include "platform/text/text.h"

namespace Branwick {

extern const char kWineContentTable[];

namespace {

constexpr std::string_view kSeparator = " | ";
constexpr std::size_t kFields = 6;

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t n = line.find(kSeparator); n != std::string_view::npos;
         n = line.find(kSeparator)) {
        fields.push_back(line.substr(0, n));
        line.remove_prefix(n + kSeparator.size());
    }
    fields.push_back(line);
    return fields;
}

std::vector<std::wstring> SplitAlternatives(const std::wstring& strData) {
    std::vector<std::wstring> out;
    std::size_t nStart = 0;
    for (std::size_t n = strData.find(L", "); n != std::wstring::npos;
         n = strData.find(L", ", nStart)) {
        out.push_back(strData.substr(nStart, n - nStart));
        nStart = n + 2;
    }
    out.push_back(strData.substr(nStart));
    return out;
}

// The path with every "Wow6432Node" level taken out: a row matches in either view.
std::wstring WithoutWow64Node(const std::wstring& strPath) {
    std::wstring strOut;
    std::size_t nStart = 0;
    while (nStart <= strPath.size()) {
        const std::size_t nEnd = std::min(strPath.find(L'\\', nStart), strPath.size());
        const std::wstring_view strPart(strPath.data() + nStart, nEnd - nStart);
        if (!Platform::EqualNoCase(strPart, L"Wow6432Node")) {
            strOut.append(strOut.empty() ? L"" : L"\\").append(strPart);
        }
        nStart = nEnd + 1;
    }
    return strOut;
}

bool ParseRow(std::string_view line, SWineEntry& entry, std::string& strError) {
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != kFields) {
        strError = "a row has six fields separated by \" | \"";
        return false;
    }
    std::wstring strField[kFields];
    for (std::size_t i = 0; i < kFields; ++i) {
        strField[i] = Platform::FromUtf8(std::string(fields[i]));
    }
    entry.nCategory = ScanTypeFromKey(strField[0]);
    entry.hRoot = GetRootKeyHandle(strField[1]);
    if (entry.nCategory == 0) {
        strError = "unknown category";
        return false;
    }
    if (entry.hRoot != HKEY_LOCAL_MACHINE && entry.hRoot != HKEY_CURRENT_USER) {
        strError = "the root is HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER";
        return false;
    }
    entry.bSubtree = strField[2].ends_with(L"\\*");
    entry.strKey = WithoutWow64Node(entry.bSubtree ? strField[2].substr(0, strField[2].size() - 2)
                                                   : strField[2]);
    const bool bKeyRow = strField[3] == L"-";
    if (entry.strKey.empty() || bKeyRow != (strField[4] == L"-") || strField[5].empty()) {
        strError = "a row names a key, a value and its data (or \"-\" twice), and a reason";
        return false;
    }
    entry.strValue = bKeyRow ? std::wstring() : strField[3];
    if (!bKeyRow) {
        entry.vcData = SplitAlternatives(strField[4]);
    }
    entry.strReason = strField[5];
    return true;
}

bool KeyMatches(const SWineEntry& entry, const std::wstring& strPath) {
    if (entry.strKey.size() > strPath.size() ||
        !Platform::EqualNoCase(std::wstring_view(strPath).substr(0, entry.strKey.size()),
                               entry.strKey)) {
        return false;
    }
    return strPath.size() == entry.strKey.size() ||
           (entry.bSubtree && strPath[entry.strKey.size()] == L'\\');
}

// The text of the value strName of the key "ROOT\path"; empty when there is none.
std::wstring ListedData(const COperation& op, const std::wstring& strKey,
                        const std::wstring& strName) {
    const std::size_t nSlash = strKey.find(L'\\');
    Platform::CRegKey key;
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vData;
    if (nSlash == std::wstring::npos ||
        op.Registry().OpenKey(GetRootKeyHandle(strKey.substr(0, nSlash)), strKey.substr(nSlash + 1),
                              KEY_READ, &key) != ERROR_SUCCESS ||
        key.QueryValue(strName, &dwType, &vData) != ERROR_SUCCESS) {
        return {};
    }
    return ValueText(dwType, vData);
}

bool DataMatches(const COperation& op, const SWineEntry& entry, const std::wstring& strValueName,
                 const std::wstring& strData) {
    return std::any_of(entry.vcData.begin(), entry.vcData.end(), [&](const std::wstring& strWine) {
        if (strWine.starts_with(L'@')) {
            const std::wstring strListed = ListedData(op, strWine.substr(1), strValueName);
            return !strListed.empty() && Platform::EqualNoCase(strListed, strData);
        }
        return Platform::EqualNoCase(op.Environment().Expand(strWine), strData);
    });
}

bool EntryMatches(const COperation& op, const SWineEntry& entry, const std::wstring& strPath,
                  const std::wstring& strValueName, const std::wstring& strData) {
    if (!KeyMatches(entry, strPath)) {
        return false;
    }
    if (entry.vcData.empty()) {
        return strValueName.empty() && strData.empty();
    }
    return (entry.strValue == L"*" || Platform::EqualNoCase(entry.strValue, strValueName)) &&
           DataMatches(op, entry, strValueName, strData);
}

}  // namespace

bool ParseWineContent(std::string_view text, std::vector<SWineEntry>& out, std::wstring& strError) {
    out.clear();
    int nLine = 0;
    while (!text.empty()) {
        ++nLine;
        const std::size_t nEnd = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, nEnd);
        text.remove_prefix(std::min(nEnd + 1, text.size()));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == ';') {
            continue;
        }
        SWineEntry entry;
        std::string strWhy;
        if (!ParseRow(line, entry, strWhy)) {
            strError = L"line " + std::to_wstring(nLine) + L": " + Platform::FromUtf8(strWhy);
            return false;
        }
        out.push_back(std::move(entry));
    }
    return true;
}

const std::vector<SWineEntry>& WineContent() {
    static const std::vector<SWineEntry> table = [] {
        std::vector<SWineEntry> rows;
        std::wstring strError;
        // The table is part of the library and its test parses it: a row it cannot read is left
        // out with the rows after it, which only makes scans report more.
        ParseWineContent(kWineContentTable, rows, strError);
        return rows;
    }();
    return table;
}

bool IsWineOwnContent(const COperation& op, std::int32_t nCategory, HKEY hRoot,
                      const std::wstring& strPath, const std::wstring& strValueName,
                      const std::wstring& strData) {
    const Platform::CTarget* pTarget = op.Target();
    if (pTarget == nullptr || pTarget->Kind() != Platform::ETargetKind::WinePrefix) {
        return false;
    }
    std::wstring strKey = WithoutWow64Node(strPath);
    if (hRoot == HKEY_USERS) {
        const std::wstring strUser = pTarget->UserSid() + L"\\";
        if (strKey.size() <= strUser.size() ||
            !Platform::EqualNoCase(std::wstring_view(strKey).substr(0, strUser.size()), strUser)) {
            return false;
        }
        strKey.erase(0, strUser.size());
        hRoot = HKEY_CURRENT_USER;
    }
    return std::any_of(WineContent().begin(), WineContent().end(), [&](const SWineEntry& entry) {
        return entry.nCategory == nCategory && entry.hRoot == hRoot &&
               EntryMatches(op, entry, strKey, strValueName, strData);
    });
}

}  // namespace Branwick
