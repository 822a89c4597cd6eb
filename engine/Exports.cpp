// The entry points of libfendral.so: thread procedures that the program's thread manager starts
// with a CScanThreadData. Each runs one whole operation and returns 0.
#include "core/MessageBox.h"
#include "engine/Drivers.h"
#include "engine/Fendral.h"
#include "engine/Scanners.h"
#include "platform/threads/threads.h"

namespace Branwick {

void PostFinishThread(CMessageSink* pSink, CLogFile& log) {
    log.Write(L"Sending ThreadFinished message");
    pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    log.Write(L"Finishing Thread");
}

}  // namespace Branwick

using Branwick::CScanThreadData;
using Branwick::DWORD;

extern "C" {

__attribute__((visibility("default"))) DWORD FendralScan(void* pArg) {
    auto* pRecord = static_cast<CScanThreadData*>(pArg);
    Branwick::CMessageSink* pSink = pRecord->m_pSink;
    {
        const Branwick::COperation op(*pRecord);
        Branwick::Scan(op, pRecord->m_dwFlags);
        Branwick::ScanLog().Write(L"Sending ScanFinished message");
    }
    // The program may start the next operation as soon as it reads the finish message: by then
    // this one's library-wide state must be put away.
    pSink->Post(std::make_unique<Branwick::CFinishScanMessage>());
    Branwick::PostFinishThread(pSink, Branwick::ScanLog());
    return 0;
}

__attribute__((visibility("default"))) DWORD FendralCleanUp(void* pArg) {
    auto* pRecord = static_cast<CScanThreadData*>(pArg);
    Branwick::CMessageSink* pSink = pRecord->m_pSink;
    Branwick::CLogFile log;
    log.Open(L"Cleanup.log");
    std::unique_ptr<Branwick::CMessage> pFinish;
    {
        const Branwick::COperation op(*pRecord);
        pFinish = Branwick::CleanUp(op, log);
    }
    pSink->Post(std::move(pFinish));
    Branwick::PostFinishThread(pSink, log);
    return 0;
}

__attribute__((visibility("default"))) DWORD FendralCleanHistory(void* pArg) {
    auto* pRecord = static_cast<CScanThreadData*>(pArg);
    Branwick::CLogFile log;
    log.Open(L"Cleanup.log");
    const Branwick::COperation op(*pRecord);
    try {
        Branwick::CleanHistory(op, pRecord->m_dwFlags);
    } catch (...) {
        Branwick::ShowMessageBox(L"CleanHistory exception", L"Corvane", Branwick::MB_OK);
        // The program's progress window waits for this message and would otherwise never close.
        op.Post(std::make_unique<Branwick::CFinishProgressMessage>());
    }
    return 0;
}

}  // extern "C"
