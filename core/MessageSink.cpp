#include "core/MessageSink.h"

namespace Branwick {

void CMessageQueue::Push(std::unique_ptr<CMessage> pMessage) {
    std::lock_guard lock(m_cs);
    m_queue.push_back(std::move(pMessage));
}

std::unique_ptr<CMessage> CMessageQueue::PopFront() {
    std::lock_guard lock(m_cs);
    if (m_queue.empty()) {
        return nullptr;
    }
    std::unique_ptr<CMessage> pMessage = std::move(m_queue.front());
    m_queue.pop_front();
    return pMessage;
}

bool CMessageQueue::IsEmpty() const {
    std::lock_guard lock(m_cs);
    return m_queue.empty();
}

size_t CMessageQueue::Size() const {
    std::lock_guard lock(m_cs);
    return m_queue.size();
}

void CMessageSink::Post(std::unique_ptr<CMessage> pMessage) {
    if (pMessage == nullptr) {
        return;
    }
    m_pQueue->Push(std::move(pMessage));
    m_event.Set();
}

}  // namespace Branwick
