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

std::vector<std::wstring> SplitAlternatives(const std::wstring& sData) {
    std::vector<std::wstring> out;
    std::size_t nStart = 0;
    for (std::size_t n = sData.find(L", "); n != std::wstring::npos;
         n = sData.find(L", ", nStart)) {
        out.push_back(sData.substr(nStart, n - nStart));
        nStart = n + 2;
    }
    out.push_back(sData.substr(nStart));
    return out;
}

// The path with every "Wow6432Node" level taken out: a row matches in either view.
std::wstring WithoutWow64Node(const std::wstring& sPath) {
    std::wstring sOut;
    std::size_t nStart = 0;
    while (nStart <= sPath.size()) {
        const std::size_t nEnd = std::min(sPath.find(L'\\', nStart), sPath.size());
        const std::wstring_view sPart(sPath.data() + nStart, nEnd - nStart);
        if (!Platform::EqualNoCase(sPart, L"Wow6432Node")) {
            sOut.append(sOut.empty() ? L"" : L"\\").append(sPart);
        }
        nStart = nEnd + 1;
    }
    return sOut;
}

bool ParseRow(std::string_view line, SWineEntry& entry, std::string& strError) {
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != kFields) {
        strError = "a row has six fields separated by \" | \"";
        return false;
    }
    std::wstring sField[kFields];
    for (std::size_t i = 0; i < kFields; ++i) {
        sField[i] = Platform::FromUtf8(std::string(fields[i]));
    }
    entry.nCategory = ScanTypeFromKey(sField[0]);
    entry.hRoot = GetRootKeyHandle(sField[1]);
    if (entry.nCategory == 0) {
        strError = "unknown category";
        return false;
    }
    if (entry.hRoot != HKEY_LOCAL_MACHINE && entry.hRoot != HKEY_CURRENT_USER) {
        strError = "the root is HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER";
        return false;
    }
    entry.bSubtree = sField[2].ends_with(L"\\*");
    entry.sKey =
        WithoutWow64Node(entry.bSubtree ? sField[2].substr(0, sField[2].size() - 2) : sField[2]);
    const bool bKeyRow = sField[3] == L"-";
    if (entry.sKey.empty() || bKeyRow != (sField[4] == L"-") || sField[5].empty()) {
        strError = "a row names a key, a value and its data (or \"-\" twice), and a reason";
        return false;
    }
    entry.sValue = bKeyRow ? std::wstring() : sField[3];
    if (!bKeyRow) {
        entry.vcData = SplitAlternatives(sField[4]);
    }
    entry.sReason = sField[5];
    return true;
}

bool KeyMatches(const SWineEntry& entry, const std::wstring& sPath) {
    if (entry.sKey.size() > sPath.size() ||
        !Platform::EqualNoCase(std::wstring_view(sPath).substr(0, entry.sKey.size()), entry.sKey)) {
        return false;
    }
    return sPath.size() == entry.sKey.size() ||
           (entry.bSubtree && sPath[entry.sKey.size()] == L'\\');
}

// The text of the value sName of the key "ROOT\path"; empty when there is none.
std::wstring ListedData(const COperation& op, const std::wstring& sKey, const std::wstring& sName) {
    const std::size_t nSlash = sKey.find(L'\\');
    Platform::CRegKey key;
    DWORD dwType = REG_NONE;
    Platform::CRegBytes vData;
    if (nSlash == std::wstring::npos ||
        op.Registry().OpenKey(GetRootKeyHandle(sKey.substr(0, nSlash)), sKey.substr(nSlash + 1),
                           KEY_READ, &key) != ERROR_SUCCESS ||
        key.QueryValue(sName, &dwType, &vData) != ERROR_SUCCESS) {
        return {};
    }
    return ValueText(dwType, vData);
}

bool DataMatches(const COperation& op, const SWineEntry& entry, const std::wstring& sValueName,
                 const std::wstring& sData) {
    return std::any_of(entry.vcData.begin(), entry.vcData.end(), [&](const std::wstring& sWine) {
        if (sWine.starts_with(L'@')) {
            const std::wstring sListed = ListedData(op, sWine.substr(1), sValueName);
            return !sListed.empty() && Platform::EqualNoCase(sListed, sData);
        }
        return Platform::EqualNoCase(op.Environment().Expand(sWine), sData);
    });
}

bool EntryMatches(const COperation& op, const SWineEntry& entry, const std::wstring& sPath,
                  const std::wstring& sValueName, const std::wstring& sData) {
    if (!KeyMatches(entry, sPath)) {
        return false;
    }
    if (entry.vcData.empty()) {
        return sValueName.empty() && sData.empty();
    }
    return (entry.sValue == L"*" || Platform::EqualNoCase(entry.sValue, sValueName)) &&
           DataMatches(op, entry, sValueName, sData);
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

bool IsWineOwnContent(const COperation& op, std::int32_t nCategory, HKEY hRoot, const std::wstring& sPath,
                      const std::wstring& sValueName, const std::wstring& sData) {
    const Platform::CTarget* pTarget = op.Target();
    if (pTarget == nullptr || pTarget->Kind() != Platform::ETargetKind::WinePrefix) {
        return false;
    }
    std::wstring sKey = WithoutWow64Node(sPath);
    if (hRoot == HKEY_USERS) {
        const std::wstring sUser = pTarget->UserSid() + L"\\";
        if (sKey.size() <= sUser.size() ||
            !Platform::EqualNoCase(std::wstring_view(sKey).substr(0, sUser.size()), sUser)) {
            return false;
        }
        sKey.erase(0, sUser.size());
        hRoot = HKEY_CURRENT_USER;
    }
    return std::any_of(WineContent().begin(), WineContent().end(), [&](const SWineEntry& entry) {
        return entry.nCategory == nCategory && entry.hRoot == hRoot &&
               EntryMatches(op, entry, sKey, sValueName, sData);
    });
}

}  // namespace Branwick
