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
    // Progress messages the program has delivered, kept for the operation to fill anew: a walk
    // posts two per registry key, and allocating each would cost more than the walk itself.
    std::vector<std::unique_ptr<CMessage>> vDeliveredProgress;
};

SEngineState& State() {
    static SEngineState state;
    return state;
}

}  // namespace

COperation::COperation(CScanThreadData& record) : m_record(record) {
    if (record.m_pMessageBox != nullptr) {
        m_pPreviousBox = SetMessageBox(record.m_pMessageBox);
        m_bBoxInstalled = true;
    }
}

COperation::~COperation() {
    State().vDeliveredProgress.clear();
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
    Post(std::make_unique<CLogMessage>(strText));
}

void COperation::PostScanProgress(int nProgress, std::wstring_view strText,
                                  std::int32_t nScanType) const {
    // A pass that starts at 51 with a share of 50 ends at 101; the message carries a percentage.
    nProgress = std::clamp(nProgress, 0, 100);
    std::vector<std::unique_ptr<CMessage>>& vDelivered = State().vDeliveredProgress;
    if (vDelivered.empty()) {
        m_record.m_pSink->GetQueue()->Reclaim(CScanProgressMessage::kType, &vDelivered);
    }
    if (vDelivered.empty()) {
        Post(std::make_unique<CScanProgressMessage>(nProgress, strText, nScanType));
        return;
    }
    auto* pMessage = static_cast<CScanProgressMessage*>(vDelivered.back().get());
    pMessage->m_nProgress = nProgress;
    pMessage->m_strScanDescription.assign(strText);
    pMessage->m_nScanType = nScanType;
    Post(std::move(vDelivered.back()));
    vDelivered.pop_back();
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
