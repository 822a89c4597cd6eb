// corvane-busdemo: the message bus end to end. Three workers, started by the thread manager, post
// progress and log messages from their own threads into the one sink; the message runner hands
// each message to the observers of its type; the thread manager reaps each worker when its finish
// message arrives. Prints what the observers received, then a summary.
#include <cstdio>
#include <map>
#include <vector>

#include "app/ThreadManager.h"
#include "core/Log.h"
#include "core/Text.h"
#include "platform/module/module.h"

using namespace Branwick;

namespace {

constexpr int kProducers = 3;
constexpr int kSteps = 5;

void Print(const std::wstring& text) {
    std::printf("%s\n", WideToUtf8(text).c_str());
}

class CDemoThreadData : public CThreadComm {
public:
    CDemoThreadData(CMessageSink* pSink, int nProducer, std::int32_t nScanType)
        : m_pSink(pSink), m_nProducer(nProducer), m_nScanType(nScanType) {}

    CMessageSink* m_pSink;
    int m_nProducer;
    std::int32_t m_nScanType;
};

// A worker as the engine's are: progress from 0 to 100, a log line, and its finish message last.
DWORD Produce(void* pArg) {
    auto* pData = static_cast<CDemoThreadData*>(pArg);
    const std::wstring name = FormatText(L"producer %d", pData->m_nProducer);
    // A short pause between steps (the stop request would cut it) lets the producers interleave.
    for (int nStep = 0; nStep <= kSteps && pData->IsRunning(nStep == 0 ? 0 : 3); ++nStep) {
        const std::wstring text =
            nStep == 0 ? std::wstring(L"Starting...")
                       : FormatText(L"%ls: step %d of %d", name.c_str(), nStep, kSteps);
        pData->m_pSink->Post(
            std::make_unique<CScanProgressMessage>(nStep * 100 / kSteps, text, pData->m_nScanType));
    }
    pData->m_pSink->Post(std::make_unique<CLogMessage>(name + L" has finished"));
    pData->m_pSink->Post(std::make_unique<CFinishThreadMessage>(Platform::GetCurrentThreadId()));
    return 0;
}

// Prints every message it receives and counts per category, checking each category's order.
class CPrinter : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        const DWORD dwRunner = Platform::GetCurrentThreadId();
        switch (pMessage->m_nType) {
            case CScanProgressMessage::kType: {
                auto* pProgress = static_cast<CScanProgressMessage*>(pMessage);
                Print(FormatText(L"[runner %u] progress %3d%%  %-22ls %ls", dwRunner,
                                 pProgress->m_nProgress,
                                 ScanTypeDisplayName(pProgress->m_nScanType).c_str(),
                                 pProgress->m_strScanDescription.c_str()));
                SCategory& category = m_categories[pProgress->m_nScanType];
                category.bInOrder = category.bInOrder && pProgress->m_nProgress >= category.nLast;
                category.nLast = pProgress->m_nProgress;
                ++category.nMessages;
                break;
            }
            case CLogMessage::kType: {
                std::wstring text = static_cast<CLogMessage*>(pMessage)->m_strText;
                Print(FormatText(L"[runner %u] log       %ls", dwRunner,
                                 text.substr(text.rfind(L'\n') + 1).c_str()));
                ++m_nLogs;
                break;
            }
            case CFinishThreadMessage::kType:
                Print(FormatText(L"[runner %u] finish    thread %u", dwRunner,
                                 static_cast<CFinishThreadMessage*>(pMessage)->m_dwId));
                if (++m_nFinished == kProducers) {
                    m_allFinished.Set();
                }
                break;
        }
    }

    struct SCategory {
        int nMessages = 0;
        int nLast = 0;
        bool bInOrder = true;
    };
    std::map<std::int32_t, SCategory> m_categories;
    int m_nLogs = 0;
    int m_nFinished = 0;
    Platform::CEvent m_allFinished{true, false};
};

}  // namespace

int main() {
    CMessageManager messages;
    CThreadManager threads;
    CLogger logger;
    CPrinter printer;

    if (logger.Open(L"")) {
        messages.Subscribe(CLogMessage::kType, &logger);
    }
    messages.Subscribe(CFinishThreadMessage::kType, &threads);
    for (std::int32_t nType :
         {CScanProgressMessage::kType, CLogMessage::kType, CFinishThreadMessage::kType}) {
        messages.Subscribe(nType, &printer);
    }
    const DWORD dwRunner = threads.StartThread(&CMessageRunnerData::MessageRunnerProc,
                                               std::make_unique<CMessageRunnerData>(&messages));
    Print(FormatText(L"corvane-busdemo: message runner is thread %u; starting %d producers",
                     dwRunner, kProducers));

    const std::int32_t scanTypes[kProducers] = {COM, FONTS, JUNK_FILES};
    for (int i = 0; i < kProducers; ++i) {
        const DWORD dwId = threads.StartThread(
            Produce, std::make_unique<CDemoThreadData>(messages.GetSink(), i + 1, scanTypes[i]));
        Print(FormatText(L"started producer %d as thread %u (%ls)", i + 1, dwId,
                         ScanTypeDisplayName(scanTypes[i]).c_str()));
    }

    const bool bAllFinished = printer.m_allFinished.Wait(30000) == WAIT_OBJECT_0;
    const size_t nLeftBeforeStop = threads.GetThreadCount();
    threads.StopAllThreads();
    for (std::int32_t nType :
         {CScanProgressMessage::kType, CLogMessage::kType, CFinishThreadMessage::kType}) {
        messages.Unsubscribe(nType, &printer);
    }
    messages.Unsubscribe(CLogMessage::kType, &logger);
    messages.Unsubscribe(CFinishThreadMessage::kType, &threads);

    Print(L"\nsummary:");
    bool bOk = bAllFinished && nLeftBeforeStop == 1;
    for (const auto& [nScanType, category] : printer.m_categories) {
        Print(FormatText(L"  %-22ls %d progress messages, %ls",
                         ScanTypeDisplayName(nScanType).c_str(), category.nMessages,
                         category.bInOrder ? L"in posting order" : L"OUT OF ORDER"));
        bOk = bOk && category.bInOrder && category.nMessages == kSteps + 1;
    }
    Print(FormatText(L"  log messages: %d, finish messages: %d", printer.m_nLogs,
                     printer.m_nFinished));
    Print(
        FormatText(L"  threads kept after the finish messages: %zu (the runner)", nLeftBeforeStop));
    Print(L"  logs: " + Utf8ToWide(Platform::GetLogsFolder()) + L"Logger.log, CThreadManager.log");
    Print(bOk ? L"bus demo: OK" : L"bus demo: FAILED");
    return bOk ? 0 : 1;
}
