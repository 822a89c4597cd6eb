// An engine operation running in the test's own thread on a test target: the record with its sink
// and queue, a recording message box, and the operation made of them.
// Engine unit tests derive from it beside their gtest base.
#pragma once

#include <string>

#include "engine/Fendral.h"
#include "tests/engine/test_target.h"

namespace Branwick::Testing {

class COperationFixture {
protected:
    COperationFixture(bool b64Bit, const std::string& machine)
        : m_target(b64Bit, machine),
          m_sink(&m_queue),
          m_record(&m_sink, nullptr, 0, m_target.Get(), &m_box),
          m_op(m_record) {}

    CTestTarget m_target;
    CMessageQueue m_queue;
    CMessageSink m_sink;
    CRecordingMessageBox m_box;
    CScanThreadData m_record;
    const COperation m_op;
};

}  // namespace Branwick::Testing
