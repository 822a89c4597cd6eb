// The hand-over from the bus to a window. The bus calls observers on the message-runner thread;
// no widget may be touched there. A CWindowObserver takes a clone of each message of its types
// and hands it to its window's thread, where the window's handler runs.
//
// The runner never waits for the window: clones wait in the observer's queue, and one queued call
// at a time drains it on the window's thread, in bus order. A drain hands over for at most
// kSliceMs and then leaves the rest to a call queued behind the events that came meanwhile, so a
// scan that finds a million problems never freezes the window. Progress (scan and fix) is
// coalesced: only the newest waiting progress message is kept. Every other message is delivered,
// once each.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "core/MessageManager.h"
#include "core/Messages.h"

namespace Branwick::Wnd {

class CWindowObserver : public IObserver {
public:
    using CHandler = std::function<void(const CMessage&)>;
    static constexpr int kSliceMs = 8;

    // pWindow: the handler's object (a call queued to a destroyed window is dropped). Subscribes
    // to the types at once; the destructor unsubscribes. Construct and destroy on the window's
    // thread; the observer must be destroyed before its window.
    CWindowObserver(CMessageManager& messages, QObject* pWindow, std::initializer_list<std::int32_t> types,
                    CHandler handler);
    ~CWindowObserver() override;
    CWindowObserver(const CWindowObserver&) = delete;
    CWindowObserver& operator=(const CWindowObserver&) = delete;

    void Processmessage(CMessage* pMessage) override;

private:
    // Shared with the calls queued to the window, which may run after the observer is gone.
    struct SQueue {
        std::mutex mutex;
        std::deque<std::shared_ptr<CMessage>> waiting;
        std::shared_ptr<CMessage> pProgress;  // the newest progress, at its place in waiting
        bool bDrainQueued = false;
        CHandler handler;
    };

    static void Drain(QObject* pWindow, const std::shared_ptr<SQueue>& pQueue);
    static void QueueDrain(QObject* pWindow, const std::shared_ptr<SQueue>& pQueue);

    CMessageManager& m_messages;
    QObject* m_pWindow;
    std::vector<std::int32_t> m_types;
    std::shared_ptr<SQueue> m_pQueue;
};

}  // namespace Branwick::Wnd
