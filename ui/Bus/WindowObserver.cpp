#include "ui/Bus/WindowObserver.h"

#include <QElapsedTimer>
#include <QMetaObject>

namespace Branwick::Wnd {

namespace {

bool IsProgress(const CMessage& message) {
    return message.m_nType == CScanProgressMessage::kType || message.m_nType == CFixProgressMessage::kType;
}

}  // namespace

CWindowObserver::CWindowObserver(CMessageManager& messages, QObject* pWindow,
                                 std::initializer_list<std::int32_t> types, CHandler handler)
    : m_messages(messages), m_pWindow(pWindow), m_types(types), m_pQueue(std::make_shared<SQueue>()) {
    m_pQueue->handler = std::move(handler);
    for (const std::int32_t nType : m_types) {
        m_messages.Subscribe(nType, this);
    }
}

CWindowObserver::~CWindowObserver() {
    for (const std::int32_t nType : m_types) {
        m_messages.Unsubscribe(nType, this);
    }
}

void CWindowObserver::QueueDrain(QObject* pWindow, const std::shared_ptr<SQueue>& pQueue) {
    QMetaObject::invokeMethod(pWindow, [pWindow, pQueue] { Drain(pWindow, pQueue); }, Qt::QueuedConnection);
}

void CWindowObserver::Processmessage(CMessage* pMessage) {
    std::shared_ptr<CMessage> pClone = pMessage->Clone();
    std::lock_guard lock(m_pQueue->mutex);
    if (IsProgress(*pClone) && m_pQueue->pProgress != nullptr && m_pQueue->pProgress->m_nType == pClone->m_nType) {
        // The waiting progress message takes the newest content; its place in the order stays.
        if (pClone->m_nType == CFixProgressMessage::kType) {
            static_cast<CFixProgressMessage&>(*m_pQueue->pProgress) = static_cast<const CFixProgressMessage&>(*pClone);
        } else {
            static_cast<CScanProgressMessage&>(*m_pQueue->pProgress) = static_cast<const CScanProgressMessage&>(*pClone);
        }
        return;
    }
    if (IsProgress(*pClone)) {
        m_pQueue->pProgress = pClone;
    }
    m_pQueue->waiting.push_back(std::move(pClone));
    if (!m_pQueue->bDrainQueued) {
        m_pQueue->bDrainQueued = true;
        QueueDrain(m_pWindow, m_pQueue);
    }
}

void CWindowObserver::Drain(QObject* pWindow, const std::shared_ptr<SQueue>& pQueue) {
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        std::shared_ptr<CMessage> pMessage;
        {
            std::lock_guard lock(pQueue->mutex);
            if (pQueue->waiting.empty()) {
                pQueue->bDrainQueued = false;
                return;
            }
            if (slice.elapsed() >= kSliceMs) {
                QueueDrain(pWindow, pQueue);  // the rest after the events that wait meanwhile
                return;
            }
            pMessage = std::move(pQueue->waiting.front());
            pQueue->waiting.pop_front();
            if (pMessage == pQueue->pProgress) {
                pQueue->pProgress = nullptr;
            }
        }
        // The handler runs without the lock: the runner keeps queueing meanwhile.
        pQueue->handler(*pMessage);
    }
}

}  // namespace Branwick::Wnd
