#include "core/Messages.h"

#include <algorithm>
#include <cwctype>

#include "core/Text.h"

namespace Branwick {

const std::array<SScanTypeInfo, 12>& ScanTypes() {
    static const std::array<SScanTypeInfo, 12> table = {{
        {COM, L"COM", L"COM/ActiveX Entries", "com"},
        {UNINSTALL, L"UNINSTALL", L"Uninstall Entries", "uninstall"},
        {FONTS, L"FONTS", L"Font Entries", "fonts"},
        {SHARED_DLLS, L"SHARED_DLLS", L"Shared DLLs", "shared-dlls"},
        {STARTUP, L"STARTUP", L"Windows Startup Items", "startup"},
        {FILE_PATH, L"FILE_PATH", L"File/Path References", "file-paths"},
        {SHOTCATS, L"SHOTCATS", L"Program Shortcuts", "shortcuts"},
        {EMPTY_KEYS, L"EMPTY_KEYS", L"Empty Registry Keys", "empty-keys"},
        {HELP_FILES, L"HELP_FILES", L"Help Files Information", "help-files"},
        {APP_PATH, L"APP_PATH", L"Application Paths", "app-paths"},
        {FILE_ASSOCIATIONS, L"FILE_ASSOCIATIONS", L"File Associations", "file-associations"},
        {JUNK_FILES, L"JUNK_FILES", L"Junk Files", "junk-files"},
    }};
    return table;
}

namespace {

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
    });
}

const SScanTypeInfo* FindByBit(std::int32_t nScanType) {
    for (const SScanTypeInfo& info : ScanTypes()) {
        if (info.nBit == nScanType) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace

std::int32_t ScanTypeFromKey(std::wstring_view key) {
    for (const SScanTypeInfo& info : ScanTypes()) {
        if (key == info.pszKey) {
            return info.nBit;
        }
    }
    return 0;
}

std::int32_t ScanTypeFromDisplayName(std::wstring_view name) {
    for (const SScanTypeInfo& info : ScanTypes()) {
        if (EqualsIgnoringCase(name, info.pszDisplayName)) {
            return info.nBit;
        }
    }
    return 0;
}

std::wstring ScanTypeKey(std::int32_t nScanType) {
    const SScanTypeInfo* pInfo = FindByBit(nScanType);
    return pInfo != nullptr ? pInfo->pszKey : L"";
}

std::wstring ScanTypeDisplayName(std::int32_t nScanType) {
    const SScanTypeInfo* pInfo = FindByBit(nScanType);
    return pInfo != nullptr ? pInfo->pszDisplayName : L"";
}

CLogMessage::CLogMessage(std::wstring_view strText) : CMessageImpl(kType) {
    SetText(strText);
}

void CLogMessage::SetText(std::wstring_view strText) {
    // Assigned piece by piece, so that a refilled message keeps its storage.
    m_strText.assign(L"\r\n");
    m_strText.append(LogTimeStamp());
    m_strText.append(L"\n");
    m_strText.append(strText);
}

CProgressMessage::CProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                                   std::int32_t nScanType, std::int32_t nType)
    : CMessage(nType),
      m_nProgress(nProgress),
      m_strScanDescription(strDescription),
      m_nScanType(nScanType) {}

std::wstring CProgressMessage::ToString() const {
    if (m_nProgress != 0 && m_nProgress != 100) {
        return {};
    }
    return FormatText(
        L"CProgressMessage\n ScanType: %d\t m_nProgress = %d\t m_strScanDescription = %ls\n",
        m_nScanType, m_nProgress, m_strScanDescription.c_str());
}

CScanProgressMessage::CScanProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                                           std::int32_t nScanType)
    : CMessageImpl(nProgress, strDescription, nScanType, kType) {}

std::wstring CScanProgressMessage::ToString() const {
    const std::wstring base = CProgressMessage::ToString();
    return base.empty() ? base : FormatText(L"CScanProgressMessage\n Base = %ls\n", base.c_str());
}

CErrorAddedMessage::CErrorAddedMessage(std::int32_t nErrorCount, std::int32_t nScanType)
    : CMessageImpl(kType), m_nErrorCount(nErrorCount), m_nScanType(nScanType) {}

std::wstring CErrorAddedMessage::ToString() const {
    return FormatText(L"CErrorAddedMessage\n ScanType: %d\t m_nErrorCount = %d\n", m_nScanType,
                      m_nErrorCount);
}

CFixProgressMessage::CFixProgressMessage(std::int32_t nProgress, std::wstring_view strDescription,
                                         std::int32_t nScanType, std::int32_t nErrorCount)
    : CMessageImpl(nProgress, strDescription, nScanType, kType), m_nErrorCount(nErrorCount) {}

std::wstring CFixProgressMessage::ToString() const {
    const std::wstring base = CProgressMessage::ToString();
    if (base.empty()) {
        return base;
    }
    // The fix run's progress introduces itself with the scan's word, as it always has.
    return FormatText(L"CScanProgressMessage\n Base = %ls\n m_nErrorCount = %d\n", base.c_str(),
                      m_nErrorCount);
}

CFinishFixMessage::CFinishFixMessage() : CMessageImpl(kType) {
    for (std::int32_t nBit = 1; nBit <= 2048; nBit *= 2) {
        m_mapStatistics[nBit] = SFixCount{};
    }
}

std::wstring CFinishFixMessage::ToString() const {
    std::wstring text = L"CFinishFixMessage\n";
    for (const auto& [nScanType, count] : m_mapStatistics) {
        text += FormatText(L"ScanType: %d\t Found = %d\t Fixed = %d\n", nScanType, count.nFound,
                           count.nFixed);
    }
    return text;
}

CFinishThreadMessage::CFinishThreadMessage(DWORD dwId) : CMessageImpl(kType), m_dwId(dwId) {}

std::wstring CFinishThreadMessage::ToString() const {
    return FormatText(L"CFinishThreadMessage\nm_dwId = %d\n", static_cast<int>(m_dwId));
}

CRestoreCreateBkupProgress::CRestoreCreateBkupProgress(std::int32_t nCurrent, std::int32_t nTotal)
    : CMessageImpl(kType), m_nCurrent(nCurrent), m_nTotal(nTotal) {}

std::wstring CRestoreCreateBkupProgress::ToString() const {
    if (m_nCurrent != 0 && m_nCurrent != m_nTotal) {
        return {};
    }
    return FormatText(L"CRestoreCreateBkupProgress\n Progress = %i/%i", m_nTotal, m_nCurrent);
}

CCreateBkupFinishMsg::CCreateBkupFinishMsg(std::wstring_view strName, std::int64_t nTime)
    : CMessageImpl(kType), m_strName(strName), m_nTime(nTime) {}

std::wstring CCreateBkupFinishMsg::ToString() const {
    const std::wstring time =
        LocalTimeText(static_cast<std::time_t>(m_nTime), "%Y, %m, %d, %H:%M:%S");
    return FormatText(L"CCreateBkupFinishMsg\nName : %ls\ntime %ls\n", m_strName.c_str(),
                      time.c_str());
}

CGenProgressMessage::CGenProgressMessage(std::int32_t nCurProgress, std::int32_t nMaxProgress)
    : CMessageImpl(kType), m_nCurProgress(nCurProgress), m_nMaxProgress(nMaxProgress) {}

std::wstring CGenProgressMessage::ToString() const {
    return FormatText(L"m_nCurProgress: %d\nm_nMaxProgress: %d\n", m_nCurProgress, m_nMaxProgress);
}

CHistoryCleanerMessage::CHistoryCleanerMessage(std::int32_t hcType,
                                               std::wstring_view strHistoryEntity,
                                               std::int32_t hcRes, std::wstring_view strReason)
    : CMessageImpl(kType),
      m_hcType(hcType),
      m_sHistoryEntity(strHistoryEntity),
      m_hcRes(hcRes),
      m_strReason(strReason) {}

std::wstring CHistoryCleanerMessage::ToString() const {
    return FormatText(L"m_hcType: %d\nm_sHistoryEntity: %ls\nm_hcRes: %d\n", m_hcType,
                      m_sHistoryEntity.c_str(), m_hcRes);
}

}  // namespace Branwick
