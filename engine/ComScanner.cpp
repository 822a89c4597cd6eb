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

bool IsServerKey(const std::wstring& sName) {
    for (const wchar_t* pszServer :
         {L"InprocServer", L"InprocServer32", L"LocalServer", L"LocalServer32"}) {
        if (Platform::EqualNoCase(sName, pszServer)) {
            return true;
        }
    }
    return false;
}

// The 16-bit servers (no "32"): a 64-bit system, Wine's 64-bit builds included, never starts one,
// so on a 64-bit target what they name proves nothing about the class.
bool IsUnusedServerKey(const COperation& op, const std::wstring& sName) {
    return op.IsWow64() && (Platform::EqualNoCase(sName, L"InprocServer") ||
                         Platform::EqualNoCase(sName, L"LocalServer"));
}

bool AppIdExists(const COperation& op, const std::wstring& sId, REGSAM dwView) {
    return KeyExists(op, HKEY_CLASSES_ROOT, L"AppID\\" + sId, dwView);
}

// Opens the class or application id for the scan; a failure is logged and ends its scan.
bool OpenForScan(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                 REGSAM dwView, Platform::CRegKey& key) {
    const LONG lOpen =
        op.Registry().OpenKey(HKEY_CLASSES_ROOT, sSubkey, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        op.PostLogLine(FormatText(L"RegOpenKey key = %ls\\%ls\r\n return = %d", sRoot.c_str(),
                                  sSubkey.c_str(), lOpen));
        return false;
    }
    return true;
}

// The record of one class or application id, made at its first problem.
class CComFinding {
public:
    CComFinding(const std::wstring& sRoot, const std::wstring& sSubkey, REGSAM dwView,
                bool bDeleteSelf)
        : m_hRoot(GetRootKeyHandle(sRoot)),
          m_sSubkey(sSubkey),
          m_dwView(dwView),
          m_bDeleteSelf(bDeleteSelf) {}

    void DeleteKey(const std::wstring& sKey, const std::wstring& sName, const std::wstring& sData) {
        Record().AddFix(
            std::make_unique<CDeleteRegistryKey>(m_hRoot, sKey, sName, sData, m_dwView));
    }
    void DeleteValue(const std::wstring& sName, const std::wstring& sData) {
        Record().AddFix(
            std::make_unique<CDeleteRegistryValue>(m_hRoot, m_sSubkey, sName, sData, m_dwView));
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
            m_record.emplace(COM, m_hRoot, m_sSubkey, kDescription, m_dwView, m_bDeleteSelf);
        }
        return *m_record;
    }

    HKEY m_hRoot;
    std::wstring m_sSubkey;
    REGSAM m_dwView;
    bool m_bDeleteSelf;
    std::optional<CRegError> m_record;
};

void ScanClass(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
               REGSAM dwView) {
    Platform::CRegKey key;
    if (!OpenForScan(op, sRoot, sSubkey, dwView, key)) {
        return;
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    CComFinding finding(sRoot, sSubkey, dwView, false);
    bool bValidServer = false;
    std::wstring sName;
    for (DWORD j = 0; j < info.m_dwSubKeys && op.IsRunning(); ++j) {
        if (key.EnumKey(j, &sName, kNameChars) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring sChild = sSubkey + L"\\" + sName;
        if (IsUnusedServerKey(op, sName)) {
            continue;
        }
        if (IsServerKey(sName)) {
            const std::wstring sServer = ReadDefaultValue(op, HKEY_CLASSES_ROOT, sChild, dwView);
            if (sServer.empty()) {
                continue;
            }
            if (CheckServerPath(op, sServer)) {
                bValidServer = true;
            } else {
                finding.DeleteKey(sChild, L"", sServer);
            }
        } else if (Platform::EqualNoCase(sName, L"AppID")) {
            const std::wstring sId = ReadDefaultValue(op, HKEY_CLASSES_ROOT, sChild, dwView);
            if (!AppIdExists(op, sId, dwView)) {
                finding.DeleteKey(sChild, L"", sId);
            }
        }
    }
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues; ++i) {
        if (key.EnumValue(i, &value, kNameChars, kClassDataBytes) != ERROR_SUCCESS ||
            !Platform::EqualNoCase(value.m_sName, L"AppID")) {
            continue;
        }
        const std::wstring sId = ValueText(value.m_dwType, value.m_vData);
        if (!AppIdExists(op, sId, dwView)) {
            finding.DeleteValue(L"AppID", sId);
        }
    }
    key.Close();
    if (!bValidServer) {
        finding.DeleteWholeKey();
    }
    finding.PostIfFound(op);
}

void ScanAppId(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
               REGSAM dwView) {
    Platform::CRegKey key;
    if (!OpenForScan(op, sRoot, sSubkey, dwView, key)) {
        return;
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    CComFinding finding(sRoot, sSubkey, dwView, true);
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues && op.IsRunning(); ++i) {
        if (key.EnumValue(i, &value, kNameChars, kAppIdDataBytes) != ERROR_SUCCESS ||
            !Platform::EqualNoCase(value.m_sName, L"AppID")) {
            continue;
        }
        const std::wstring sId = ValueText(value.m_dwType, value.m_vData);
        if (!AppIdExists(op, sId, dwView)) {
            finding.DeleteKey(sSubkey, L"AppID", sId);
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

void ScanCOMClsid(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    RunGuarded(
        op, L"ScanCOMClsid",
        [&] { return ValueParameters(sRoot, sSubkey, sValueName, sValueData); },
        [&] { ScanClass(op, sRoot, sSubkey, dwView); });
}

void ScanCOMAppID(const COperation& op, const std::wstring& sRoot, const std::wstring& sSubkey,
                  const std::wstring& sValueName, const std::wstring& sValueData, REGSAM dwView) {
    RunGuarded(
        op, L"ScanCOMAppID",
        [&] { return ValueParameters(sRoot, sSubkey, sValueName, sValueData); },
        [&] { ScanAppId(op, sRoot, sSubkey, dwView); });
}

std::wstring ReadDefaultValue(const COperation& op, HKEY hRoot, const std::wstring& sKeyPath,
                              REGSAM dwView) {
    Platform::CRegKey key;
    const LONG lOpen = op.Registry().OpenKey(hRoot, sKeyPath, KEY_ALL_ACCESS | dwView, &key);
    if (lOpen != ERROR_SUCCESS) {
        ScanLog().Write(FormatText(L"Can not open key: HKEY_CLASSES_ROOT\\%ls \r\nError %d",
                                   sKeyPath.c_str(), lOpen));
        return {};
    }
    Platform::CRegKeyInfo info;
    key.QueryInfo(&info);
    Platform::CRegValue value;
    for (DWORD i = 0; i < info.m_dwValues; ++i) {
        if (key.EnumValue(i, &value, kNameChars, kClassDataBytes) == ERROR_SUCCESS &&
            value.m_sName.empty()) {
            return ValueText(value.m_dwType, value.m_vData);
        }
    }
    return {};
}

bool KeyExists(const COperation& op, HKEY hRoot, const std::wstring& sKeyPath, REGSAM dwView) {
    Platform::CRegKey key;
    return op.Registry().OpenKey(hRoot, sKeyPath, KEY_READ | dwView, &key) == ERROR_SUCCESS;
}

bool CheckServerPath(const COperation& op, const std::wstring& sText) {
    const std::wstring sTrimmed = Trim(sText, L" \t\r\n\v\f");
    std::wstring sCandidate;
    std::size_t nStart = 0;
    while (nStart < sTrimmed.size()) {
        std::size_t nEnd = sTrimmed.find(L' ', nStart);
        if (nEnd == std::wstring::npos) {
            nEnd = sTrimmed.size();
        }
        if (nEnd > nStart) {  // a run of spaces separates once
            sCandidate +=
                (sCandidate.empty() ? L"" : L" ") + sTrimmed.substr(nStart, nEnd - nStart);
            if (FindFile(op, sCandidate, true, true)) {
                return true;
            }
        }
        nStart = nEnd + 1;
    }
    return false;
}

}  // namespace Branwick
