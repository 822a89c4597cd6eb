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
    return pOlder == nullptr;
}

std::vector<std::unique_ptr<CMessage>> CMessageQueue::TakePushed() {
    std::vector<std::unique_ptr<CMessage>> pushed;
    for (CMessage* pMessage = m_pPushed.exchange(nullptr, std::memory_order_acquire);
         pMessage != nullptr;) {
        CMessage* pOlder = pMessage->m_pNextQueued;
        pMessage->m_pNextQueued = nullptr;
        pushed.emplace_back(pMessage);
        pMessage = pOlder;
    }
    std::reverse(pushed.begin(), pushed.end());
    return pushed;
}

std::unique_ptr<CMessage> CMessageQueue::PopFront() {
    std::lock_guard lock(m_cs);
    if (m_taken.empty()) {
        std::vector<std::unique_ptr<CMessage>> pushed = TakePushed();
        m_taken.assign(std::make_move_iterator(pushed.begin()),
                       std::make_move_iterator(pushed.end()));
    }
    if (m_taken.empty()) {
        return nullptr;
    }
    std::unique_ptr<CMessage> pMessage = std::move(m_taken.front());
    m_taken.pop_front();
    return pMessage;
}

std::vector<std::unique_ptr<CMessage>> CMessageQueue::TakeAll() {
    std::vector<std::unique_ptr<CMessage>> pushed = TakePushed();
    std::lock_guard lock(m_cs);
    if (m_taken.empty()) {
        return pushed;
    }
    // Popped ones were taken from the chain before these were pushed.
    std::vector<std::unique_ptr<CMessage>> batch(std::make_move_iterator(m_taken.begin()),
                                                 std::make_move_iterator(m_taken.end()));
    m_taken.clear();
    std::move(pushed.begin(), pushed.end(), std::back_inserter(batch));
    return batch;
}

namespace {

// The bit of a message type in the set of reclaimed types; 0 for a type the set cannot hold.
std::uint64_t TypeBit(std::int32_t nType) {
    return nType >= 0 && nType < 64 ? std::uint64_t{1} << nType : 0;
}

}  // namespace

void CMessageQueue::GiveBack(std::vector<std::unique_ptr<CMessage>> delivered) {
    // Sorted out before the lock is taken; what is not kept is freed after it is released.
    const std::uint64_t nTypes = m_nReclaimedTypes.load(std::memory_order_relaxed);
    std::erase_if(delivered, [nTypes](const std::unique_ptr<CMessage>& pMessage) {
        return (TypeBit(pMessage->m_nType) & nTypes) == 0;
    });
    if (delivered.empty()) {
        return;
    }
    std::lock_guard lock(m_cs);
    for (std::unique_ptr<CMessage>& pMessage : delivered) {
        auto& spent = m_spent[static_cast<std::size_t>(pMessage->m_nType)];
        if (spent.size() < kKeptForReuse) {
            spent.push_back(std::move(pMessage));
        }
    }
}

void CMessageQueue::Reclaim(std::int32_t nType, std::vector<std::unique_ptr<CMessage>>* pReused) {
    const std::uint64_t nBit = TypeBit(nType);
    if (nBit == 0) {
        return;
    }
    m_nReclaimedTypes.fetch_or(nBit, std::memory_order_relaxed);
    std::lock_guard lock(m_cs);
    std::vector<std::unique_ptr<CMessage>>& spent = m_spent[static_cast<std::size_t>(nType)];
    if (pReused->empty()) {
        pReused->swap(spent);  // the usual case: the producer has used up the last batch
        return;
    }
    std::move(spent.begin(), spent.end(), std::back_inserter(*pReused));
    spent.clear();
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

bool CMessageSink::IsListened(std::int32_t nType) const {
    const std::uint64_t nBit = TypeBit(nType);
    return nBit == 0 || (m_nListened.load(std::memory_order_relaxed) & nBit) != 0;
}

void CMessageSink::SetListened(std::int32_t nType, bool bListened) {
    const std::uint64_t nBit = TypeBit(nType);
    if (bListened) {
        m_nListened.fetch_or(nBit, std::memory_order_relaxed);
    } else {
        m_nListened.fetch_and(~nBit, std::memory_order_relaxed);
    }
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
