#include "core/CurrentContext.h"

#include <atomic>
#include <memory>

namespace Branwick {

namespace {

std::atomic<const CCurrentContext*> g_pCurrent{nullptr};

}  // namespace

CCurrentContextScope::CCurrentContextScope(const CCurrentContext& context)
    : m_pPrevious(g_pCurrent.exchange(&context)) {}

CCurrentContextScope::~CCurrentContextScope() { g_pCurrent.store(m_pPrevious); }

const CCurrentContext& CurrentContext() {
    static const CCurrentContext empty;
    const CCurrentContext* pCurrent = g_pCurrent.load();
    return pCurrent != nullptr ? *pCurrent : empty;
}

const Platform::CRegistry& CurrentRegistry() {
    static const Platform::CRegistry none;
    const Platform::CTarget* pTarget = CurrentContext().m_pTarget;
    return pTarget != nullptr ? pTarget->Registry() : none;
}

Platform::CFileSystem* CurrentFiles() {
    const Platform::CTarget* pTarget = CurrentContext().m_pTarget;
    return pTarget != nullptr ? &pTarget->Files() : nullptr;
}

void PostLog(std::wstring_view strText) {
    CMessageSink* pSink = CurrentContext().m_pSink;
    if (pSink != nullptr) {
        pSink->Post(std::make_unique<CLogMessage>(strText));
    }
}

}  // namespace Branwick
