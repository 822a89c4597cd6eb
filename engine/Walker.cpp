// The registry walkers: ProcessKey (values, and recursively subkeys) and ProcessSubkeys (one level
// of subkeys), with the exclusion table and the text form of value data.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "core/RegError.h"
#include "core/Text.h"
#include "engine/Fendral.h"
#include "engine/Scanners.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

// Every value of every walk is read into these two buffers; a value that does not fit is read
// whole into a buffer of its own.
constexpr DWORD kNameBufferChars = 16384;
constexpr DWORD kDataBufferBytes = 0x200000;
// Subkey names: 255 characters and the terminator.
constexpr DWORD kSubKeyNameChars = 256;

struct SValueBuffers {
    SValueBuffers() {
        value.m_strName.reserve(kNameBufferChars);
        value.m_vData.reserve(kDataBufferBytes);
    }
    Platform::CRegValue value;
};

SValueBuffers& Buffers() {
    static SValueBuffers buffers;
    return buffers;
}

using CExclusions = std::map<std::int32_t, std::map<HKEY, std::vector<std::wstring>>>;

// The subtrees a recursive walk does not enter; 0xFFFF applies to every category. HKLM's classes
// are walked through HKEY_CLASSES_ROOT; the keys the file/path category leaves out have their own
// categories.
constexpr std::int32_t kAllCategories = 0xFFFF;

const CExclusions& Exclusions() {
    static const CExclusions table = {
        {kAllCategories, {{HKEY_LOCAL_MACHINE, {L"SOFTWARE\\Classes"}}}},
        {FILE_PATH,
         {{HKEY_LOCAL_MACHINE,
           {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
            L"SOFTWARE\\Microsoft\\Windows\\Help", L"SOFTWARE\\Microsoft\\Windows\\Html Help"}},
          {HKEY_CURRENT_USER, {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"}},
          {HKEY_CLASSES_ROOT, {L"CLSID", L"AppID", L"typelib"}}}},
    };
    return table;
}

// The paths the table lists for one root in one category; null when there are none.
const std::vector<std::wstring>* Listed(std::int32_t nKey, HKEY hRoot) {
    const CExclusions& table = Exclusions();
    const auto category = table.find(nKey);
    if (category == table.end()) {
        return nullptr;
    }
    const auto root = category->second.find(hRoot);
    return root != category->second.end() ? &root->second : nullptr;
}

// The subtrees a recursive walk of one root in one category leaves out, looked up once per walk.
struct SExcluded {
    SExcluded(HKEY hRoot, std::int32_t nScanType)
        : pAll(Listed(kAllCategories, hRoot)), pCategory(Listed(nScanType, hRoot)) {}

    bool Has(const std::wstring& strPath) const {
        return Lists(pAll, strPath) || Lists(pCategory, strPath);
    }

    static bool Lists(const std::vector<std::wstring>* pList, const std::wstring& strPath) {
        return pList != nullptr &&
               std::any_of(pList->begin(), pList->end(), [&strPath](const std::wstring& strListed) {
                   return strListed.size() == strPath.size() &&
                          Platform::EqualNoCase(strListed, strPath);
               });
    }

    const std::vector<std::wstring>* pAll;
    const std::vector<std::wstring>* pCategory;
};

// Toward zero, as a conversion to int does, but defined for every double.
int Truncate(double dValue) {
    constexpr double kMax = std::numeric_limits<int>::max();
    constexpr double kMin = std::numeric_limits<int>::min();
    if (std::isnan(dValue)) {
        return 0;
    }
    return static_cast<int>(std::fmax(kMin, std::fmin(kMax, dValue)));
}

std::uint64_t ReadLittleEndian(const Platform::CRegBytes& vData, std::size_t nBytes) {
    std::uint64_t nValue = 0;
    for (std::size_t i = 0; i < nBytes && i < vData.size(); ++i) {
        nValue |= static_cast<std::uint64_t>(vData[i]) << (8 * i);
    }
    return nValue;
}

void LogOpenFailure(const std::wstring& strRootName, const std::wstring& strPath, LONG lResult) {
    ScanLog().Write(FormatText(L"Can not open key: %ls\\%ls \r\nError %d", strRootName.c_str(),
                               strPath.c_str(), lResult));
}

// Reads value i of the key into the shared buffers, or into a buffer of its own when it is larger
// than they are. Null when the value cannot be read.
const Platform::CRegValue* ReadValue(const Platform::CRegKey& key, DWORD dwIndex,
                                     const Platform::CRegKeyInfo& info,
                                     Platform::CRegValue& large) {
    Platform::CRegValue& value = Buffers().value;
    value.m_dwType = REG_SZ;
    const DWORD dwNameCapacity = std::min(info.m_dwMaxValueNameLen + 1, kNameBufferChars);
    const DWORD dwDataCapacity = std::min(info.m_dwMaxValueLen + 1, kDataBufferBytes);
    LONG lResult = key.EnumValue(dwIndex, &value, dwNameCapacity, dwDataCapacity);
    if (lResult == ERROR_SUCCESS) {
        return &value;
    }
    if (lResult != ERROR_MORE_DATA) {
        return nullptr;
    }
    large.m_dwType = REG_SZ;
    return key.EnumValue(dwIndex, &large) == ERROR_SUCCESS ? &large : nullptr;
}

// What stays the same through a whole recursive walk, and the strings it builds for every key,
// kept so that their storage serves the whole walk.
struct SWalk {
    const COperation& op;
    HKEY hRoot;
    std::wstring strRootName;
    int nDeep;
    ValueCallback pfnCallback;
    std::int32_t nScanType;
    REGSAM dwView;
    SExcluded excluded;
    std::wstring strPath;  // the path of the key being walked
    std::wstring strText;  // a progress message's text
};

// Appends a subkey's name to the walk's path for the lifetime of the object.
class CChildPath {
public:
    CChildPath(std::wstring& strPath, const std::wstring& strName)
        : m_strPath(strPath), m_nParent(strPath.size()) {
        if (!m_strPath.empty()) {
            m_strPath += L'\\';
        }
        m_strPath += strName;
    }
    ~CChildPath() { m_strPath.resize(m_nParent); }
    CChildPath(const CChildPath&) = delete;
    CChildPath& operator=(const CChildPath&) = delete;

private:
    std::wstring& m_strPath;
    std::size_t m_nParent;
};

// Posts progress with the text root\path of the key being walked.
void PostWalkProgress(SWalk& walk, int nProgress) {
    walk.strText.assign(walk.strRootName).append(1, L'\\').append(walk.strPath);
    walk.op.PostScanProgress(nProgress, walk.strText, walk.nScanType);
}

// The key at root\path; opened by its name below the open parent when there is one (the same key
// as the whole path gives, found without walking down from the root again).
LONG OpenWalkedKey(const SWalk& walk, const Platform::CRegKey* pParent, const std::wstring& strName,
                   Platform::CRegKey* pKey) {
    const REGSAM sam = KEY_ALL_ACCESS | walk.dwView;
    return pParent != nullptr ? pParent->OpenKey(strName, sam, pKey)
                              : walk.op.Registry().OpenKey(walk.hRoot, walk.strPath, sam, pKey);
}

LONG WalkKey(SWalk& walk, const Platform::CRegKey* pParent, const std::wstring& strName,
             int nPercentsStart, int nPercentsInterval);

// ProcessKey's body, without its handlers.
LONG WalkKeyBody(SWalk& walk, const Platform::CRegKey* pParent, const std::wstring& strName,
                 int nPercentsStart, int nPercentsInterval) {
    const std::wstring& strPath = walk.strPath;
    Platform::CRegKey key;
    const LONG lOpen = OpenWalkedKey(walk, pParent, strName, &key);
    if (lOpen != ERROR_SUCCESS) {
        LogOpenFailure(walk.strRootName, strPath, lOpen);
        return lOpen;
    }
    Platform::CRegKeyInfo info;
    if (const LONG lQuery = key.QueryInfo(&info); lQuery != ERROR_SUCCESS) {
        ScanLog().Write(FormatText(L"Can not query info key: %ls\\%ls \r\nError %d",
                                   walk.strRootName.c_str(), strPath.c_str(), lQuery));
        return ERROR_SUCCESS;
    }
    const double dShare = info.m_dwSubKeys == 0
                              ? static_cast<double>(nPercentsInterval)
                              : static_cast<double>(nPercentsInterval) / info.m_dwSubKeys;
    double dPosition = nPercentsStart;

    if (walk.pfnCallback != nullptr) {
        Platform::CRegValue large;
        for (DWORD i = 0; i < info.m_dwValues && walk.op.IsRunning(); ++i) {
            if (const Platform::CRegValue* pValue = ReadValue(key, i, info, large)) {
                walk.pfnCallback(walk.op, walk.strRootName, strPath, pValue->m_strName,
                                 ValueText(pValue->m_dwType, pValue->m_vData), walk.dwView);
            }
        }
    }
    if (walk.nDeep != 0) {
        std::wstring strChildName;
        for (DWORD j = 0; j < info.m_dwSubKeys && walk.op.IsRunning(); ++j, dPosition += dShare) {
            if (key.EnumKey(j, &strChildName, kSubKeyNameChars) != ERROR_SUCCESS) {
                continue;
            }
            const CChildPath child(walk.strPath, strChildName);
            PostWalkProgress(walk, Truncate(dPosition));
            if (!walk.excluded.Has(walk.strPath)) {
                WalkKey(walk, &key, strChildName, Truncate(dPosition), Truncate(dShare));
            }
        }
    }
    if (info.m_dwSubKeys == 0 && walk.pfnCallback != nullptr) {
        walk.op.PostScanProgress(Truncate(dPosition + dShare), walk.strRootName, walk.nScanType);
    }
    if (walk.pfnCallback == &EmptyKeyCallback && Scanners().pfnEmptyKeyTest != nullptr) {
        Scanners().pfnEmptyKeyTest(walk.op, walk.strRootName, strPath, info.m_dwSubKeys,
                                   info.m_dwValues, walk.dwView);
    }
    return ERROR_SUCCESS;
}

LONG WalkKey(SWalk& walk, const Platform::CRegKey* pParent, const std::wstring& strName,
             int nPercentsStart, int nPercentsInterval) {
    LONG lResult = ERROR_SUCCESS;
    RunGuarded(
        walk.op, L"ProcessKey",
        [&] {
            return FormatText(
                L"hRoot: %ls\nsSubkey: %ls\nnDeep: %d\nnPercentsStart: %d\nnPercentsInterval:%d\n"
                L"ScanType: %d",
                walk.strRootName.c_str(), walk.strPath.c_str(), walk.nDeep, nPercentsStart,
                nPercentsInterval, walk.nScanType);
        },
        [&] { lResult = WalkKeyBody(walk, pParent, strName, nPercentsStart, nPercentsInterval); });
    return lResult;
}

}  // namespace

std::wstring ValueParameters(const std::wstring& strRoot, const std::wstring& strSubkey,
                             const std::wstring& strValueName, const std::wstring& strValueData) {
    return FormatText(L"sRoot: %ls\nsSubkey: %ls\nsValueName: %ls\nsValueData: %ls",
                      strRoot.c_str(), strSubkey.c_str(), strValueName.c_str(),
                      strValueData.c_str());
}

void EmptyKeyCallback(const COperation&, const std::wstring&, const std::wstring&,
                      const std::wstring&, const std::wstring&, REGSAM) {}

LONG ProcessKey(const COperation& op, HKEY hRoot, const std::wstring& strPath, int nDeep,
                ValueCallback pfnCallback, int nPercentsStart, int nPercentsInterval,
                std::int32_t nScanType, REGSAM dwView) {
    SWalk walk{op,        hRoot,  GetRootKeyName(hRoot),       nDeep,   pfnCallback,
               nScanType, dwView, SExcluded(hRoot, nScanType), strPath, {}};
    return WalkKey(walk, nullptr, std::wstring(), nPercentsStart, nPercentsInterval);
}

void ProcessSubkeys(const COperation& op, HKEY hRoot, const std::wstring& strPath,
                    ValueCallback pfnCallback, int nPercentsStart, int nPercentsInterval,
                    std::int32_t nScanType, REGSAM dwView) {
    const std::wstring strRootName = GetRootKeyName(hRoot);
    Platform::CRegKey key;
    const LONG lOpen = op.Registry().OpenKey(hRoot, strPath, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        LogOpenFailure(strRootName, strPath, lOpen);
        return;
    }
    Platform::CRegKeyInfo info;
    if (key.QueryInfo(&info) != ERROR_SUCCESS || info.m_dwSubKeys == 0) {
        return;
    }
    const double dShare = static_cast<double>(nPercentsInterval) / info.m_dwSubKeys;
    double dPosition = nPercentsStart;
    std::wstring strName;
    for (DWORD j = 0; j < info.m_dwSubKeys && op.IsRunning(); ++j) {
        if (key.EnumKey(j, &strName, kSubKeyNameChars) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring strChild = strPath.empty() ? strName : strPath + L"\\" + strName;
        if (pfnCallback != nullptr) {
            pfnCallback(op, strRootName, strChild, std::wstring(), std::wstring(), dwView);
        }
        dPosition += dShare;
        op.PostScanProgress(Truncate(dPosition), strRootName + L"\\" + strChild, nScanType);
    }
}

bool IsExcluded(HKEY hRoot, const std::wstring& strPath, std::int32_t nScanType) {
    return SExcluded(hRoot, nScanType).Has(strPath);
}

std::wstring ValueText(DWORD dwType, const Platform::CRegBytes& vData) {
    switch (dwType) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK:
        case REG_MULTI_SZ:
            return Platform::FromUtf16Le(vData.data(), vData.size());
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            return std::to_wstring(static_cast<std::int32_t>(ReadLittleEndian(vData, 4)));
        case REG_QWORD:
            return std::to_wstring(ReadLittleEndian(vData, 8));
        default:
            return {};
    }
}

}  // namespace Branwick
