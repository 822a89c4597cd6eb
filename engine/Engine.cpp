// The library-wide state of the engine: the current record and the engine log. The target of the
// running operation is the current context's (core/CurrentContext.h), which the fixes use too.
#include <stdexcept>

#include "core/CurrentContext.h"
#include "core/MessageBox.h"
#include "core/Text.h"
#include "engine/Fendral.h"

namespace Branwick {

namespace {

struct SEngineState {
    CScanThreadData* pRecord = nullptr;
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

struct COperationScope::SSaved {
    IMessageBox* pPreviousBox = nullptr;
    bool bBoxInstalled = false;
    CCurrentContext context;
    std::unique_ptr<CCurrentContextScope> pContextScope;
};

COperationScope::COperationScope(CScanThreadData* pRecord) : m_pSaved(std::make_unique<SSaved>()) {
    State().pRecord = pRecord;
    if (pRecord->m_pMessageBox != nullptr) {
        m_pSaved->pPreviousBox = SetMessageBox(pRecord->m_pMessageBox);
        m_pSaved->bBoxInstalled = true;
    }
    m_pSaved->context = {pRecord->m_pSink, pRecord->m_pTarget};
    m_pSaved->pContextScope = std::make_unique<CCurrentContextScope>(m_pSaved->context);
}

COperationScope::~COperationScope() {
    State().vDeliveredProgress.clear();
    m_pSaved->pContextScope.reset();
    if (m_pSaved->bBoxInstalled) {
        SetMessageBox(m_pSaved->pPreviousBox);
    }
}

CScanThreadData* CurrentRecord() { return State().pRecord; }

const Platform::CTarget* Target() { return CurrentContext().m_pTarget; }

const Platform::CRegistry& Registry() { return CurrentRegistry(); }

Platform::CFileSystem& Files() {
    Platform::CFileSystem* pFiles = CurrentFiles();
    if (pFiles == nullptr) {
        throw std::logic_error("The engine was given no target");
    }
    return *pFiles;
}

const Platform::CEnvironment& Environment() {
    static const Platform::CEnvironment empty;
    const Platform::CTarget* pTarget = Target();
    return pTarget != nullptr ? pTarget->Environment() : empty;
}

bool IsRunning() { return State().pRecord->IsRunning(0); }

void Post(std::unique_ptr<CMessage> pMessage) {
    State().pRecord->m_pSink->Post(std::move(pMessage));
}

void PostLogLine(const std::wstring& strText) { Post(std::make_unique<CLogMessage>(strText)); }

void PostScanProgress(int nProgress, std::wstring_view sText, std::int32_t nScanType) {
    std::vector<std::unique_ptr<CMessage>>& vDelivered = State().vDeliveredProgress;
    if (vDelivered.empty()) {
        State().pRecord->m_pSink->GetQueue()->Reclaim(CScanProgressMessage::kType, &vDelivered);
    }
    if (vDelivered.empty()) {
        Post(std::make_unique<CScanProgressMessage>(nProgress, sText, nScanType));
        return;
    }
    auto* pMessage = static_cast<CScanProgressMessage*>(vDelivered.back().get());
    pMessage->m_nProgress = nProgress;
    pMessage->m_strScanDescription.assign(sText);
    pMessage->m_nScanType = nScanType;
    Post(std::move(vDelivered.back()));
    vDelivered.pop_back();
}

void PostStartOrEnd(int nProgress, std::int32_t nScanType) {
    PostScanProgress(nProgress, L"Starting...", nScanType);
}

CLogFile& ScanLog() { return State().scanLog; }

void ReportException(const CBranwickException& e, const std::wstring& strParameters) {
    const std::wstring strText =
        FormatText(L"Cause: %ls\nParameters: %ls\n", e.GetMessage().c_str(), strParameters.c_str());
    PostLogLine(strText);
    ShowMessageBox(strText, L"Corvane", MB_OK);
}

}  // namespace Branwick
