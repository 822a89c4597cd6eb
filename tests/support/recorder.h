// Test support: an observer of the message runner that keeps a copy of every message it is given,
// in order, and lets the test wait for what it expects.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/MessageManager.h"
#include "core/RegError.h"

namespace CorvaneTest {

class CRecorder : public Branwick::IObserver {
public:
    void Processmessage(Branwick::CMessage* pMessage) override {
        std::lock_guard lock(m_mutex);
        m_vMessages.push_back(pMessage->Clone());
        m_changed.notify_all();
    }

    // Waits (a minute at most) until nCount messages of the type have arrived since Clear.
    bool WaitFor(std::int32_t nType, int nCount = 1) {
        return WaitUntil([&] { return CountLocked(nType) >= nCount; });
    }

    // Waits (a minute at most) until nCount findings with this description have arrived.
    bool WaitForFound(const std::wstring& strDescription, int nCount) {
        return WaitUntil([&] {
            int n = 0;
            for (const auto& p : m_vMessages) {
                n += p->m_nType == Branwick::CErrorFoundMessage::kType &&
                     static_cast<const Branwick::CErrorFoundMessage&>(*p).m_regError.m_sDescription ==
                         strDescription;
            }
            return n >= nCount;
        });
    }

    int Count(std::int32_t nType) {
        std::lock_guard lock(m_mutex);
        return CountLocked(nType);
    }

    // Copies of the messages of the type, in order.
    template <class T>
    std::vector<T> Of() {
        std::lock_guard lock(m_mutex);
        std::vector<T> out;
        for (const auto& p : m_vMessages) {
            if (p->m_nType == T::kType) {
                out.push_back(static_cast<const T&>(*p));
            }
        }
        return out;
    }

    std::vector<std::int32_t> Types() {
        std::lock_guard lock(m_mutex);
        std::vector<std::int32_t> out;
        for (const auto& p : m_vMessages) {
            out.push_back(p->m_nType);
        }
        return out;
    }

    void Clear() {
        std::lock_guard lock(m_mutex);
        m_vMessages.clear();
    }

private:
    template <class TPredicate>
    bool WaitUntil(TPredicate ready) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::minutes(1), ready);
    }

    int CountLocked(std::int32_t nType) const {
        int n = 0;
        for (const auto& p : m_vMessages) {
            n += p->m_nType == nType;
        }
        return n;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Branwick::CMessage>> m_vMessages;
};

}  // namespace CorvaneTest
