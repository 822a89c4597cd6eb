// Test support: a user's service manager that is told to enable or disable a timer and answers as
// the test says, keeping each call.
#pragma once

#include <string>
#include <vector>

#include "platform/scheduler/scheduler.h"

namespace CorvaneTest {

class CFakeUserManager : public Branwick::Platform::IUserManager {
public:
    bool IsRunning() override { return m_bRunning; }
    Branwick::LONG Apply(const std::string& timerUnit, bool enable) override {
        m_vcCalls.push_back((enable ? "enable " : "disable ") + timerUnit);
        return m_lResult;
    }
    bool m_bRunning = true;
    Branwick::LONG m_lResult = Branwick::ERROR_SUCCESS;
    std::vector<std::string> m_vcCalls;
};

}  // namespace CorvaneTest
