// The library-wide state of the engine (the engine log, the progress messages kept for reuse) and
// the running operation that the entry points hand down.
#include <algorithm>
#include <stdexcept>

#include "core/MessageBox.h"
#include "core/Text.h"
#include "engine/Fendral.h"

namespace Branwick {

namespace {

struct SEngineState {
    CLogFile scanLog;
};

SEngineState& State() {
    static SEngineState state;
    return state;
}

}  // namespace

COperation::COperation(CScanThreadData& record)
    : m_record(record),
      m_recycler(record.m_pSink != nullptr ? record.m_pSink->GetQueue() : nullptr) {
    if (record.m_pMessageBox != nullptr) {
        m_pPreviousBox = SetMessageBox(record.m_pMessageBox);
        m_bBoxInstalled = true;
    }
}

COperation::~COperation() {
    if (m_bBoxInstalled) {
        SetMessageBox(m_pPreviousBox);
    }
}

const Platform::CRegistry& COperation::Registry() const {
    static const Platform::CRegistry none;
    return Target() != nullptr ? Target()->Registry() : none;
}

Platform::CFileSystem& COperation::Files() const {
    if (Target() == nullptr) {
        throw std::logic_error("The engine was given no target");
    }
    return Target()->Files();
}

const Platform::CEnvironment& COperation::Environment() const {
    static const Platform::CEnvironment empty;
    return Target() != nullptr ? Target()->Environment() : empty;
}

void COperation::Post(std::unique_ptr<CMessage> pMessage) const {
    m_record.m_pSink->Post(std::move(pMessage));
}

void COperation::PostLogLine(const std::wstring& strText) const {
    std::unique_ptr<CLogMessage> pMessage = m_recycler.Take<CLogMessage>();
    if (pMessage == nullptr) {
        Post(std::make_unique<CLogMessage>(strText));
        return;
    }
    pMessage->SetText(strText);
    Post(std::move(pMessage));
}

void COperation::PostScanProgress(int nProgress, std::wstring_view strText,
                                  std::int32_t nScanType) const {
    // A pass that starts at 51 with a share of 50 ends at 101; the message carries a percentage.
    nProgress = std::clamp(nProgress, 0, 100);
    std::unique_ptr<CScanProgressMessage> pMessage = m_recycler.Take<CScanProgressMessage>();
    if (pMessage == nullptr) {
        Post(std::make_unique<CScanProgressMessage>(nProgress, strText, nScanType));
        return;
    }
    pMessage->m_nProgress = nProgress;
    pMessage->m_strScanDescription.assign(strText);
    pMessage->m_nScanType = nScanType;
    Post(std::move(pMessage));
}

void COperation::PostFixProgress(int nProgress, std::wstring_view strText, std::int32_t nScanType,
                                 int nFixed) const {
    std::unique_ptr<CFixProgressMessage> pMessage = m_recycler.Take<CFixProgressMessage>();
    if (pMessage == nullptr) {
        Post(std::make_unique<CFixProgressMessage>(nProgress, strText, nScanType, nFixed));
        return;
    }
    pMessage->m_nProgress = nProgress;
    pMessage->m_strScanDescription.assign(strText);
    pMessage->m_nScanType = nScanType;
    pMessage->m_nErrorCount = nFixed;
    Post(std::move(pMessage));
}

void COperation::PostStartOrEnd(int nProgress, std::int32_t nScanType) const {
    PostScanProgress(nProgress, L"Starting...", nScanType);
}

void COperation::ReportException(const CBranwickException& e,
                                 const std::wstring& strParameters) const {
    const std::wstring strText =
        FormatText(L"Cause: %ls\nParameters: %ls\n", e.GetMessage().c_str(), strParameters.c_str());
    PostLogLine(strText);
    ShowMessageBox(strText, L"Corvane", MB_OK);
}

CLogFile& ScanLog() {
    return State().scanLog;
}

}  // namespace Branwick
