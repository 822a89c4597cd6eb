#include "app/ScanManager.h"

#include <ctime>

#include "core/RegError.h"

namespace Branwick {

namespace {

constexpr std::int64_t kQuietPeriod = 7 * 86400;

Platform::CRegBytes QuietTimesBytes(const std::array<std::int64_t, 12>& times) {
    Platform::CRegBytes bytes;
    for (const std::int64_t nTime : times) {
        const auto u = static_cast<std::uint64_t>(nTime);
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
        }
    }
    return bytes;
}

bool ReadQuietTimes(const Platform::CRegKey& key, std::array<std::int64_t, 12>& times) {
    DWORD dwType = 0;
    Platform::CRegBytes bytes;
    if (key.QueryValue(kQuietTimesValue, &dwType, &bytes) != ERROR_SUCCESS ||
        dwType != REG_BINARY || bytes.size() != times.size() * 8) {
        return false;
    }
    for (std::size_t n = 0; n < times.size(); ++n) {
        std::uint64_t u = 0;
        for (int i = 0; i < 8; ++i) {
            u |= static_cast<std::uint64_t>(bytes[n * 8 + i]) << (8 * i);
        }
        times[n] = static_cast<std::int64_t>(u);
    }
    return true;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The engine's history cleaning ends without a CFinishThreadMessage (and, when it fails, without
// any message), so its thread would be kept until the program ends and nobody could tell that
// it is over. It runs inside this procedure, which reports the end once the engine returns.
class CHistoryThreadData : public CScanThreadData {
public:
    using CScanThreadData::CScanThreadData;
    Platform::ThreadProc m_pfnEngine = nullptr;
    Platform::CWriterLock m_lock;  // taken before the thread starts, released when it is done
};

DWORD HistoryThread(void* pArgument) {
    auto* pData = static_cast<CHistoryThreadData*>(pArgument);
    pData->m_pfnEngine(static_cast<CScanThreadData*>(pData));
    pData->m_lock.Release();
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

}  // namespace

CScanManager::CScanManager(CMessageManager& messages, CThreadManager& threads,
                           const Platform::CTarget& target, const std::wstring& strDataFolder,
                           IMessageBox* pMessageBox, std::string strLibrary)
    : m_messages(messages),
      m_threads(threads),
      m_target(target),
      m_pMessageBox(pMessageBox),
      m_engine(std::move(strLibrary)),
      m_ignoreList(target.Files(), strDataFolder, &target) {
    for (const std::int32_t nType :
         {CErrorFoundMessage::kType, CFinishScanMessage::kType, CFinishFixMessage::kType}) {
        m_messages.Subscribe(nType, this);
    }
    // Loaded now, while the program starts, rather than at the first scan: mapping and relocating
    // the library can hold the caller's thread (the window's) for a noticeable moment. A library
    // that cannot be loaded is reported when a start needs it, which tries again.
    std::wstring strNotYet;
    m_engine.Load(strNotYet);
}

CScanManager::~CScanManager() {
    for (const std::int32_t nType :
         {CErrorFoundMessage::kType, CFinishScanMessage::kType, CFinishFixMessage::kType}) {
        m_messages.Unsubscribe(nType, this);
    }
}

Platform::ThreadProc CScanManager::Bind(const char* pszEntry) {
    m_strLastError.clear();
    const Platform::ThreadProc routine = m_engine.Bind(pszEntry, m_strLastError);
    if (routine == nullptr) {
        ShowMessageBox(m_strLastError);
        m_messages.Send(std::make_unique<CLogMessage>(m_strLastError));
    }
    return routine;
}

DWORD CScanManager::Start(Platform::ThreadProc routine, DWORD dwFlags) {
    m_dwThreadId = m_threads.StartThread(
        routine, std::make_unique<CScanThreadData>(m_messages.GetSink(), &m_errors, dwFlags,
                                                   &m_target, m_pMessageBox));
    if (m_dwThreadId == 0) {
        m_strLastError = L"The engine's thread could not be started.";
        ShowMessageBox(m_strLastError);
    }
    return m_dwThreadId;
}

DWORD CScanManager::StartScan(DWORD dwCategories) {
    // Bound first: a scan that cannot run must not clear what the last one found.
    const Platform::ThreadProc routine = Bind(kFendralScan);
    if (routine == nullptr) {
        return 0;
    }
    m_bScanning = true;
    m_errors.clear();
    m_dwScanCategories = dwCategories;
    m_dwAccepted = ComputeAcceptedCategories();
    m_messages.Send(std::make_unique<CStartScanMessage>());
    const DWORD dwId = Start(routine, dwCategories);
    if (dwId == 0) {
        m_bScanning = false;
    }
    return dwId;
}

DWORD CScanManager::StartFix() {
    const Platform::ThreadProc routine = Bind(kFendralCleanUp);
    if (routine == nullptr) {
        return 0;
    }
    m_bFixing = true;
    m_messages.Send(std::make_unique<CStartFixMessage>());
    const DWORD dwId = Start(routine, m_dwScanCategories);
    if (dwId == 0) {
        m_bFixing = false;
    }
    return dwId;
}

void CScanManager::StopFix() {
    m_threads.StopThread(m_dwThreadId, INFINITE);
    m_dwThreadId = 0;
}

void CScanManager::CancelScan() {
    m_threads.StopThread(m_dwThreadId, INFINITE);
    m_dwThreadId = 0;
}

DWORD CScanManager::StartHistoryCleaning(DWORD dwHistoryFlags) {
    const Platform::ThreadProc routine = Bind(kFendralCleanHistory);
    if (routine == nullptr) {
        return 0;
    }
    auto pData = std::make_unique<CHistoryThreadData>(m_messages.GetSink(), &m_errors,
                                                      dwHistoryFlags, &m_target, m_pMessageBox);
    pData->m_pfnEngine = routine;
    if (!pData->m_lock.Acquire(m_target, Platform::kWriterWaitMs, m_strLastError)) {
        return 0;
    }
    if (m_target.Registry().ChangedOnDisk()) {
        m_target.Registry().Reload();
    }
    m_dwThreadId = m_threads.StartThread(&HistoryThread, std::move(pData));
    return m_dwThreadId;
}

bool CScanManager::IgnoreError(std::int32_t nScanType, CRegError* pRecord) {
    const auto itList = m_errors.find(static_cast<ScanType>(nScanType));
    if (pRecord == nullptr || itList == m_errors.end()) {
        return true;
    }
    pRecord->m_nState = FIX_STATE_IGNORED;
    const bool bSaved = m_ignoreList.Add(nScanType, *pRecord);
    std::list<CRegError>& list = itList->second;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (&*it == pRecord) {
            list.erase(it);
            break;
        }
    }
    return bSaved;
}

std::size_t CScanManager::GetErrorCount(std::int32_t nScanType) const {
    const auto it = m_errors.find(static_cast<ScanType>(nScanType));
    return it == m_errors.end() ? 0 : it->second.size();
}

void CScanManager::Processmessage(CMessage* pMessage) {
    if (pMessage == nullptr) {
        return;
    }
    switch (pMessage->m_nType) {
        case CErrorFoundMessage::kType: {
            auto* pFound = static_cast<CErrorFoundMessage*>(pMessage);
            const std::int32_t nBit = pFound->m_nScanType;
            if ((m_dwAccepted & static_cast<DWORD>(nBit)) == 0 ||
                m_ignoreList.IsIgnored(nBit, pFound->m_regError)) {
                return;
            }
            pFound->m_regError.m_nState = FIX_STATE_TO_FIX;
            std::list<CRegError>& list = m_errors[static_cast<ScanType>(nBit)];
            list.push_back(pFound->m_regError);
            // Composed only for a reader: a scan finds hundreds of thousands of records.
            if (m_messages.GetSink()->IsListened(CErrorAddedMessage::kType)) {
                m_messages.Send(std::make_unique<CErrorAddedMessage>(
                    static_cast<std::int32_t>(list.size()), nBit));
            }
            break;
        }
        case CFinishScanMessage::kType:
            m_bScanning = false;
            break;
        case CFinishFixMessage::kType:
            m_bFixing = false;
            break;
        default:
            break;
    }
}

DWORD CScanManager::ComputeAcceptedCategories() {
    Platform::CRegKey key;
    if (m_target.Registry().OpenKey(HKEY_LOCAL_MACHINE, kCorvaneKey,
                                    KEY_READ | KEY_WRITE | kCorvaneKeyView,
                                    &key) != ERROR_SUCCESS) {
        return kAllScanTypes;
    }
    if (!ReadQuietTimes(key, m_nQuietUntil)) {
        m_nQuietUntil.fill(Now());
        return kAllScanTypes;
    }
    const std::int64_t nNow = Now();
    DWORD dwAccepted = 0;
    for (std::size_t i = 0; i < m_nQuietUntil.size(); ++i) {
        if (m_nQuietUntil[i] <= nNow) {
            dwAccepted |= 1u << i;
        }
    }
    return dwAccepted & m_dwScanCategories;
}

void CScanManager::SetQuietAfterFix(const std::map<std::int32_t, SFixCount>& counts) {
    const std::int64_t nUntil = Now() + kQuietPeriod;
    for (std::size_t i = 0; i < m_nQuietUntil.size(); ++i) {
        const auto nBit = static_cast<std::int32_t>(1u << i);
        const auto it = counts.find(nBit);
        const bool bQuiet = it != counts.end() && (it->second.nFixed > 0 || it->second.nFound == 0);
        if ((m_dwScanCategories & m_dwAccepted & static_cast<DWORD>(nBit)) != 0 && bQuiet) {
            m_nQuietUntil[i] = nUntil;
        }
    }
    WriteQuietTimes(true);
}

void CScanManager::ResetQuietTimes() {
    m_nQuietUntil.fill(Now() - kQuietPeriod);
    WriteQuietTimes(false);
}

void CScanManager::WriteQuietTimes(bool bFlush) {
    Platform::CRegKey key;
    if (m_target.Registry().OpenKey(HKEY_LOCAL_MACHINE, kCorvaneKey,
                                    KEY_ALL_ACCESS | kCorvaneKeyView, &key) != ERROR_SUCCESS) {
        return;
    }
    LONG lResult = key.SetValue(kQuietTimesValue, REG_BINARY, QuietTimesBytes(m_nQuietUntil));
    if (lResult == ERROR_SUCCESS && bFlush) {
        lResult = m_target.Registry().Flush().m_lCode;
    }
    if (lResult != ERROR_SUCCESS) {
        m_messages.Send(std::make_unique<CLogMessage>(L"key.SetBinaryValue has returned: " +
                                                      std::to_wstring(lResult)));
    }
}

}  // namespace Branwick
