#include "core/RegError.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "core/FileMove.h"
#include "core/RegData.h"
#include "core/Text.h"

namespace Branwick {

namespace {

// DELETE | READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY.
constexpr REGSAM kDeleteAccess = 0x30006;

struct SRootName {
    HKEY hRoot;
    const wchar_t* pszName;
};

// In ascending handle order: a lookup by name takes the first match.
constexpr std::array<SRootName, 5> kRootNames = {{
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
}};

}  // namespace

std::wstring GetRootKeyName(HKEY hRoot) {
    for (const SRootName& root : kRootNames) {
        if (root.hRoot == hRoot) {
            return root.pszName;
        }
    }
    return {};
}

HKEY GetRootKeyHandle(std::wstring_view strName) {
    for (const SRootName& root : kRootNames) {
        if (strName == root.pszName) {
            return root.hRoot;
        }
    }
    return 0;
}

CRegError::CRegError(std::int32_t nScanType, HKEY hRoot, std::wstring strPath,
                     std::wstring strDescription, REGSAM dwRegSam, bool bDeleteSelf)
    : m_nScanType(nScanType),
      m_sPath(std::move(strPath)),
      m_sDescription(std::move(strDescription)),
      m_bDeleteSelf(bDeleteSelf),
      m_hRoot(hRoot),
      m_dwRegSam(dwRegSam) {}

std::unique_ptr<IFix> CRegError::Clone() const { return std::make_unique<CRegError>(*this); }

int CRegError::Fix(const SFixContext& context) {
    const int nResult = CFixContainer::Fix(context);
    if (nResult != 0) {
        // Every fix of a record works on its key or below it: when an earlier fix of the same
        // run (another record's) removed that key, nothing is left to repair. A failure with the
        // key still there stands, and keeps the record's own deletion from happening.
        return IsKeyGone(context.target.Registry()) ? 0 : nResult;
    }
    if (m_sPath.empty() || !m_bDeleteSelf) {
        return 0;
    }
    return DeleteSelf(context);
}

bool CRegError::IsKeyGone(const Platform::CRegistry& registry) const {
    if (m_hRoot == 0 || m_sPath.empty()) {
        return false;
    }
    Platform::CRegKey key;
    return registry.OpenKey(m_hRoot, m_sPath, m_dwRegSam | KEY_READ, &key) == ERROR_FILE_NOT_FOUND;
}

int CRegError::DeleteSelf(const SFixContext& context) {
    if (m_hRoot == 0) {
        // Only the file that was scanned: something that has since become a folder or a link
        // (whose target may be anyone's file) under the same name is left alone.
        Platform::CFileSystem& files = context.target.Files();
        const DWORD dwAttributes = files.GetFileAttributes(m_sPath);
        const DWORD dwNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & dwNotAFile) != 0) {
            return 1;
        }
        if (!m_strBackupPath.empty()) {
            return MoveFileKeepingIt(files, m_sPath, m_strBackupPath).Ok() ? 0 : 1;
        }
        return files.DeleteFile(m_sPath).Ok() ? 0 : 1;
    }
    Platform::CRegKey key;
    const LONG lOpen =
        context.target.Registry().OpenKey(m_hRoot, m_sPath, m_dwRegSam | kDeleteAccess, &key);
    context.Log(L"CRegError::Fix. RegOpenKeyEx returns ", lOpen);
    if (lOpen != ERROR_SUCCESS) {
        // Gone already (an attached fix may have deleted this very key): what it aimed for.
        return lOpen == ERROR_FILE_NOT_FOUND ? 0 : 1;
    }
    const LONG lDelete = key.DeleteTree(L"");
    context.Log(L"CRegError::Fix. SHDeleteKey returns ", lDelete);
    return lDelete == ERROR_SUCCESS ? 0 : 1;
}

void CRegError::Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const {
    // Saves exactly what Fix() deletes: without a path it deletes nothing of its own, and saving
    // "the key" would save the whole root.
    if (!m_bDeleteSelf || m_sPath.empty()) {
        CFixContainer::Backup(parent, registry);
    } else if (m_hRoot != 0) {
        CRegDataSaver(parent, registry).SaveKey(m_hRoot, m_sPath, m_dwRegSam);
    }
}

CStatus CRegError::CheckRestorable(const Platform::CRegistry& registry) const {
    if (!m_bDeleteSelf || m_sPath.empty()) {
        return CFixContainer::CheckRestorable(registry);
    }
    return m_hRoot != 0 ? registry.CheckRestorable(m_hRoot, m_sPath, m_dwRegSam, true) : CStatus{};
}

std::wstring CRegError::GetFullPath() const {
    std::wstring strName = GetRootKeyName(m_hRoot);
    if (strName.empty()) {
        return m_sPath;
    }
    if (!m_sPath.empty()) {
        strName += L"\\" + m_sPath;
    }
    return strName;
}

namespace {

std::size_t CountWow6432Node(const std::wstring& strPath) {
    std::size_t n = 0;
    std::size_t nStart = 0;
    while (nStart <= strPath.size()) {
        const std::size_t nEnd = std::min(strPath.find(L'\\', nStart), strPath.size());
        std::wstring strName = strPath.substr(nStart, nEnd - nStart);
        for (wchar_t& c : strName) {
            c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        }
        n += strName == L"wow6432node" ? 1 : 0;
        nStart = nEnd + 1;
    }
    return n;
}

}  // namespace

std::wstring CRegError::GetDisplayPath(const Platform::CRegistry& registry) const {
    // Only HKLM\SOFTWARE and the classes root have a 32-bit view of their own.
    if ((m_hRoot != HKEY_CLASSES_ROOT && m_hRoot != HKEY_LOCAL_MACHINE) || !registry.Is64Bit() ||
        (m_dwRegSam & KEY_WOW64_32KEY) == 0) {
        return GetFullPath();
    }
    // Whether the view redirects this key is the registry's to say: the real key it opens
    // names Wow6432Node once more than the record's path does.
    Platform::CRegKey key;
    if (registry.OpenKey(m_hRoot, m_sPath, KEY_READ | m_dwRegSam, &key) != ERROR_SUCCESS ||
        CountWow6432Node(key.GetPath()) <= CountWow6432Node(m_sPath)) {
        return GetFullPath();
    }
    const std::wstring strRoot = GetRootKeyName(m_hRoot);
    if (m_hRoot == HKEY_CLASSES_ROOT) {
        return strRoot + L"\\Wow6432Node" + (m_sPath.empty() ? L"" : L"\\" + m_sPath);
    }
    const std::size_t nFirst = std::min(m_sPath.find(L'\\'), m_sPath.size());
    return strRoot + L"\\" + m_sPath.substr(0, nFirst) + L"\\Wow6432Node" + m_sPath.substr(nFirst);
}

CErrorFoundMessage::CErrorFoundMessage(CRegError regError, std::int32_t nScanType)
    : CMessageImpl(kType), m_regError(std::move(regError)), m_nScanType(nScanType) {}

std::wstring CErrorFoundMessage::ToString() const {
    return FormatText(L"CErrorFoundMessage\nScanType: %d\nCRegError path: %ls\n", m_nScanType,
                      m_regError.GetFullPath().c_str());
}

}  // namespace Branwick
