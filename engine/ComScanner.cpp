// COM/ActiveX registrations: classes whose servers are gone and references to application ids
// that do not exist, in each registry view.
#include <optional>
#include <span>

#include "core/RegError.h"
#include "core/Text.h"
#include "engine/SystemScanners.h"
#include "platform/text/text.h"

namespace Branwick {

namespace {

constexpr const wchar_t* kDescription = L"The following AppID or CLSID referenced doesn't exist.";

// Enumeration capacities: names of 255 characters and their terminator; value data of up to
// 16383 bytes for a class, 255 for an application id (a GUID string needs 78).
constexpr DWORD kNameChars = 256;
constexpr DWORD kClassDataBytes = 16383;
constexpr DWORD kAppIdDataBytes = 255;

struct SComPass {
    const wchar_t* pszKey;
    ValueCallback pfnCallback;
    int nStart;
    int nShare;
    REGSAM dwView;
};

// A 64-bit target keeps 32-bit classes apart from its own: both views are walked.
constexpr SComPass kWow64Passes[] = {
    {L"CLSID", &ScanCOMClsid, 0, 30, KEY_WOW64_32KEY},
    {L"AppID", &ScanCOMAppID, 31, 20, KEY_WOW64_32KEY},
    {L"CLSID", &ScanCOMClsid, 51, 30, KEY_WOW64_64KEY},
    {L"AppID", &ScanCOMAppID, 81, 20, KEY_WOW64_64KEY},
};
constexpr SComPass kPlainPasses[] = {
    {L"CLSID", &ScanCOMClsid, 0, 60, KEY_WOW64_32KEY},
    {L"AppID", &ScanCOMAppID, 61, 40, KEY_WOW64_64KEY},
};

bool IsServerKey(const std::wstring& strName) {
    for (const wchar_t* pszServer :
         {L"InprocServer", L"InprocServer32", L"LocalServer", L"LocalServer32"}) {
        if (Platform::EqualNoCase(strName, pszServer)) {
            return true;
        }
    }
    return false;
}

// The 16-bit servers (no "32"): a 64-bit system, Wine's 64-bit builds included, never starts one,
// so on a 64-bit target what they name proves nothing about the class.
bool IsUnusedServerKey(const COperation& op, const std::wstring& strName) {
    return op.IsWow64() && (Platform::EqualNoCase(strName, L"InprocServer") ||
                            Platform::EqualNoCase(strName, L"LocalServer"));
}

bool AppIdExists(const COperation& op, const std::wstring& strId, REGSAM dwView) {
    return KeyExists(op, HKEY_CLASSES_ROOT, L"AppID\\" + strId, dwView);
}

// Opens the class or application id for the scan; a failure is logged and ends its scan.
bool OpenForScan(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                 REGSAM dwView, Platform::CRegKey& key) {
    const LONG lOpen =
        op.Registry().OpenKey(HKEY_CLASSES_ROOT, strSubkey, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        op.PostLogLine(FormatText(L"RegOpenKey key = %ls\\%ls\r\n return = %d", strRoot.c_str(),
                                  strSubkey.c_str(), lOpen));
        return false;
    }
    return true;
}

// The record of one class or application id, made at its first problem.
class CComFinding {
public:
    CComFinding(const std::wstring& strRoot, const std::wstring& strSubkey, REGSAM dwView,
                bool bDeleteSelf)
        : m_hRoot(GetRootKeyHandle(strRoot)),
          m_strSubkey(strSubkey),
          m_dwView(dwView),
          m_bDeleteSelf(bDeleteSelf) {}

    void DeleteKey(const std::wstring& strKey, const std::wstring& strName,
                   const std::wstring& strData) {
        Record().AddFix(
            std::make_unique<CDeleteRegistryKey>(m_hRoot, strKey, strName, strData, m_dwView));
    }
    void DeleteValue(const std::wstring& strName, const std::wstring& strData) {
        Record().AddFix(std::make_unique<CDeleteRegistryValue>(m_hRoot, m_strSubkey, strName,
                                                               strData, m_dwView));
    }
    // Without a valid server the class is of no use: the record deletes it whole instead of
    // repairing parts of it.
    void DeleteWholeKey() {
        if (m_record) {
            m_record->Clear();
            m_record->m_bDeleteSelf = true;
        }
    }
    void PostIfFound(const COperation& op) {
        if (m_record) {
            op.Post(std::make_unique<CErrorFoundMessage>(*m_record, COM));
        }
    }

private:
    CRegError& Record() {
        if (!m_record) {
            m_record.emplace(COM, m_hRoot, m_strSubkey, kDescription, m_dwView, m_bDeleteSelf);
        }
        return *m_record;
    }

    HKEY m_hRoot;
    std::wstring m_strSubkey;
    REGSAM m_dwView;
    bool m_bDeleteSelf;
    std::optional<CRegError> m_record;
};

void ScanClass(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
               REGSAM dwView) {
    Platform::CRegKey key;
    if (!OpenForScan(op, strRoot, strSubkey, dwView, key)) {
        return;
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    CComFinding finding(strRoot, strSubkey, dwView, false);
    bool bValidServer = false;
    std::wstring strName;
    for (DWORD j = 0; j < info.m_dwSubKeys && op.IsRunning(); ++j) {
        if (key.EnumKey(j, &strName, kNameChars) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring strChild = strSubkey + L"\\" + strName;
        if (IsUnusedServerKey(op, strName)) {
            continue;
        }
        if (IsServerKey(strName)) {
            const std::wstring strServer =
                ReadDefaultValue(op, HKEY_CLASSES_ROOT, strChild, dwView);
            if (strServer.empty()) {
                continue;
            }
            if (CheckServerPath(op, strServer)) {
                bValidServer = true;
            } else {
                finding.DeleteKey(strChild, L"", strServer);
            }
        } else if (Platform::EqualNoCase(strName, L"AppID")) {
            const std::wstring strId = ReadDefaultValue(op, HKEY_CLASSES_ROOT, strChild, dwView);
            if (!AppIdExists(op, strId, dwView)) {
                finding.DeleteKey(strChild, L"", strId);
            }
        }
    }
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues; ++i) {
        if (key.EnumValue(i, &value, kNameChars, kClassDataBytes) != ERROR_SUCCESS ||
            !Platform::EqualNoCase(value.m_strName, L"AppID")) {
            continue;
        }
        const std::wstring strId = ValueText(value.m_dwType, value.m_vData);
        if (!AppIdExists(op, strId, dwView)) {
            finding.DeleteValue(L"AppID", strId);
        }
    }
    key.Close();
    if (!bValidServer) {
        finding.DeleteWholeKey();
    }
    finding.PostIfFound(op);
}

void ScanAppId(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
               REGSAM dwView) {
    Platform::CRegKey key;
    if (!OpenForScan(op, strRoot, strSubkey, dwView, key)) {
        return;
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    CComFinding finding(strRoot, strSubkey, dwView, true);
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues && op.IsRunning(); ++i) {
        if (key.EnumValue(i, &value, kNameChars, kAppIdDataBytes) != ERROR_SUCCESS ||
            !Platform::EqualNoCase(value.m_strName, L"AppID")) {
            continue;
        }
        const std::wstring strId = ValueText(value.m_dwType, value.m_vData);
        if (!AppIdExists(op, strId, dwView)) {
            finding.DeleteKey(strSubkey, L"AppID", strId);
        }
    }
    key.Close();
    finding.PostIfFound(op);
}

}  // namespace

void ScanComRegistrations(const COperation& op) {
    op.PostStartOrEnd(0, COM);
    const std::span<const SComPass> passes = op.IsWow64() ? std::span<const SComPass>(kWow64Passes)
                                                          : std::span<const SComPass>(kPlainPasses);
    for (const SComPass& pass : passes) {
        ProcessSubkeys(op, HKEY_CLASSES_ROOT, pass.pszKey, pass.pfnCallback, pass.nStart,
                       pass.nShare, COM, pass.dwView);
    }
    op.PostStartOrEnd(100, COM);
}

void ScanCOMClsid(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView) {
    RunGuarded(
        op, L"ScanCOMClsid",
        [&] { return ValueParameters(strRoot, strSubkey, strValueName, strValueData); },
        [&] { ScanClass(op, strRoot, strSubkey, dwView); });
}

void ScanCOMAppID(const COperation& op, const std::wstring& strRoot, const std::wstring& strSubkey,
                  const std::wstring& strValueName, const std::wstring& strValueData,
                  REGSAM dwView) {
    RunGuarded(
        op, L"ScanCOMAppID",
        [&] { return ValueParameters(strRoot, strSubkey, strValueName, strValueData); },
        [&] { ScanAppId(op, strRoot, strSubkey, dwView); });
}

std::wstring ReadDefaultValue(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath,
                              REGSAM dwView) {
    Platform::CRegKey key;
    const LONG lOpen = op.Registry().OpenKey(hRoot, strKeyPath, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        ScanLog().Write(FormatText(L"Can not open key: HKEY_CLASSES_ROOT\\%ls \r\nError %d",
                                   strKeyPath.c_str(), lOpen));
        return {};
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues; ++i) {
        if (key.EnumValue(i, &value, kNameChars, kClassDataBytes) == ERROR_SUCCESS &&
            value.m_strName.empty()) {
            return ValueText(value.m_dwType, value.m_vData);
        }
    }
    return {};
}

bool KeyExists(const COperation& op, HKEY hRoot, const std::wstring& strKeyPath, REGSAM dwView) {
    Platform::CRegKey key;
    return op.Registry().OpenKey(hRoot, strKeyPath, KEY_READ | dwView, &key) == ERROR_SUCCESS;
}

bool CheckServerPath(const COperation& op, const std::wstring& strText) {
    const std::wstring strTrimmed = Trim(strText, L" \t\r\n\v\f");
    std::wstring strCandidate;
    std::size_t nStart = 0;
    while (nStart < strTrimmed.size()) {
        std::size_t nEnd = strTrimmed.find(L' ', nStart);
        if (nEnd == std::wstring::npos) {
            nEnd = strTrimmed.size();
        }
        if (nEnd > nStart) {  // a run of spaces separates once
            strCandidate +=
                (strCandidate.empty() ? L"" : L" ") + strTrimmed.substr(nStart, nEnd - nStart);
            if (FindFile(op, strCandidate, true, true)) {
                return true;
            }
        }
        nStart = nEnd + 1;
    }
    return false;
}

}  // namespace Branwick
