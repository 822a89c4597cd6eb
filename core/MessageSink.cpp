#include "core/MessageSink.h"

#include <algorithm>
#include <iterator>

namespace Branwick {

CMessageQueue::~CMessageQueue() {
    for (CMessage* pMessage = m_pPushed.exchange(nullptr); pMessage != nullptr;) {
        std::unique_ptr<CMessage> pDeleted(pMessage);
        pMessage = pMessage->m_pNextQueued;
    }
}

bool CMessageQueue::Push(std::unique_ptr<CMessage> pMessage) {
    CMessage* pNew = pMessage.release();
    CMessage* pOlder = m_pPushed.load(std::memory_order_relaxed);
    // Once linked in, the message belongs to the taker: it is not touched again here.
    do {
        pNew->m_pNextQueued = pOlder;
    } while (!m_pPushed.compare_exchange_weak(pOlder, pNew, std::memory_order_release,
                                              std::memory_order_relaxed));
    if (pOlder != nullptr) {
        return false;
    }
    // The chain was empty, but messages taken from it may still wait to be popped.
    std::lock_guard lock(m_cs);
    return m_taken.empty();
}

void CMessageQueue::TakePushed() {
    CMessage* pNewest = m_pPushed.exchange(nullptr, std::memory_order_acquire);
    const size_t nBefore = m_taken.size();
    for (CMessage* pMessage = pNewest; pMessage != nullptr;) {
        CMessage* pOlder = pMessage->m_pNextQueued;
        pMessage->m_pNextQueued = nullptr;
        m_taken.emplace_back(pMessage);
        pMessage = pOlder;
    }
    std::reverse(m_taken.begin() + static_cast<std::ptrdiff_t>(nBefore), m_taken.end());
}

std::unique_ptr<CMessage> CMessageQueue::PopFront() {
    std::lock_guard lock(m_cs);
    if (m_taken.empty()) {
        TakePushed();
    }
    if (m_taken.empty()) {
        return nullptr;
    }
    std::unique_ptr<CMessage> pMessage = std::move(m_taken.front());
    m_taken.pop_front();
    return pMessage;
}

std::vector<std::unique_ptr<CMessage>> CMessageQueue::TakeAll() {
    std::lock_guard lock(m_cs);
    TakePushed();
    std::vector<std::unique_ptr<CMessage>> batch(std::make_move_iterator(m_taken.begin()),
                                                 std::make_move_iterator(m_taken.end()));
    m_taken.clear();
    return batch;
}

namespace {

// The bit of a message type in the set of reclaimed types; 0 for a type the set cannot hold.
std::uint64_t TypeBit(std::int32_t nType) {
    return nType >= 0 && nType < 64 ? std::uint64_t{1} << nType : 0;
}

}  // namespace

void CMessageQueue::GiveBack(std::vector<std::unique_ptr<CMessage>> delivered) {
    std::lock_guard lock(m_cs);
    for (std::unique_ptr<CMessage>& pMessage : delivered) {
        if (m_spent.size() == kKeptForReuse) {
            break;
        }
        if ((TypeBit(pMessage->m_nType) & m_nReclaimedTypes) != 0) {
            m_spent.push_back(std::move(pMessage));
        }
    }
}

void CMessageQueue::Reclaim(std::int32_t nType, std::vector<std::unique_ptr<CMessage>>* pReused) {
    std::vector<std::unique_ptr<CMessage>> spent;  // the others, freed after the lock is released
    {
        std::lock_guard lock(m_cs);
        m_nReclaimedTypes |= TypeBit(nType);
        spent.swap(m_spent);
    }
    for (std::unique_ptr<CMessage>& pMessage : spent) {
        if (pMessage->m_nType == nType) {
            pReused->push_back(std::move(pMessage));
        }
    }
}

bool CMessageQueue::IsEmpty() const {
    std::lock_guard lock(m_cs);
    return m_taken.empty() && m_pPushed.load() == nullptr;
}

size_t CMessageQueue::Size() const {
    std::lock_guard lock(m_cs);
    size_t nSize = m_taken.size();
    for (const CMessage* pMessage = m_pPushed.load(); pMessage != nullptr;
         pMessage = pMessage->m_pNextQueued) {
        ++nSize;
    }
    return nSize;
}

void CMessageSink::Post(std::unique_ptr<CMessage> pMessage) {
    if (pMessage == nullptr) {
        return;
    }
    if (m_pQueue->Push(std::move(pMessage))) {
        m_event.Set();
    }
}

}  // namespace Branwick
