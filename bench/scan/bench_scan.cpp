// A full scan (all twelve categories) through the loaded libfendral.so, as the program runs it
// (thread manager, message runner), of the real Wine prefix of the fixtures (drive_c made from its
// listing) and of the demo prefix: wall time, findings per category, and the process's peak memory.
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "app/EngineLibrary.h"
#include "app/ThreadManager.h"
#include "core/MessageManager.h"
#include "platform/target/target.h"
#include "tests/fendral/prefix_fixture.h"

using namespace Branwick;
using namespace Branwick::Testing;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kAllCategories = 0xFFF;

// Counts the findings per category; the scan's finish message says that all have arrived.
class CFindingCounter : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        if (pMessage->m_nType == CErrorFoundMessage::kType) {
            const auto* pFound = static_cast<CErrorFoundMessage*>(pMessage);
            for (int nBit = 0; nBit < 12; ++nBit) {
                if (pFound->m_nScanType == (1 << nBit)) {
                    m_anFound[nBit].fetch_add(1);
                }
            }
        } else {
            m_finished.Set();
        }
    }
    std::array<std::atomic<int>, 12> m_anFound{};
    Platform::CEvent m_finished{true, false};
};

// Scans the target once and prints its figures under the name.
void ScanOnce(const char* pszName, Platform::CTarget& target, CMessageManager& messages,
              CThreadManager& threads, Platform::ThreadProc scan) {
    CFindingCounter counter;
    messages.Subscribe(CErrorFoundMessage::kType, &counter);
    messages.Subscribe(CFinishScanMessage::kType, &counter);
    const auto start = std::chrono::steady_clock::now();
    threads.StartThread(scan, std::make_unique<CScanThreadData>(messages.GetSink(), nullptr,
                                                                kAllCategories, &target));
    counter.m_finished.Wait(INFINITE);
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    messages.Unsubscribe(CErrorFoundMessage::kType, &counter);
    messages.Unsubscribe(CFinishScanMessage::kType, &counter);

    int nTotal = 0;
    for (int nBit = 0; nBit < 12; ++nBit) {
        const int nFound = counter.m_anFound[nBit].load();
        nTotal += nFound;
        std::printf("%s findings %ls: %d count\n", pszName, ScanTypeKey(1 << nBit).c_str(), nFound);
    }
    std::printf("%s findings: %d count\n", pszName, nTotal);
    std::printf("%s full scan wall time: %.1f ms\n", pszName, elapsed.count());
}

}  // namespace

int main() {
    CMessageManager messages;
    CThreadManager threads;
    messages.Subscribe(CFinishThreadMessage::kType, &threads);
    threads.StartThread(&CMessageRunnerData::MessageRunnerProc,
                        std::make_unique<CMessageRunnerData>(&messages));
    CEngineLibrary engine;
    std::wstring strError;
    const Platform::ThreadProc scan = engine.Bind(kFendralScan, strError);
    if (scan == nullptr) {
        std::printf("skipped: %ls\n", strError.c_str());
        return 0;
    }

    const fs::path fixture = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64";
    if (fs::exists(fixture / "drive_c-listing.tsv")) {
        CTempFolder folder("corvane-bench-scan-wine");
        MaterialiseWineFixture(fixture, folder.Path());
        std::unique_ptr<Platform::CTarget> pTarget =
            Platform::CTarget::OpenWinePrefix(folder.Path().string(), strError);
        if (pTarget != nullptr) {
            ScanOnce("wine8-win64", *pTarget, messages, threads, scan);
        } else {
            std::printf("wine8-win64 skipped: %ls\n", strError.c_str());
        }
    } else {
        std::printf("wine8-win64 skipped: %s is absent\n", fixture.c_str());
    }

    CTempFolder demo("corvane-bench-scan-demo");
    std::unique_ptr<Platform::CTarget> pDemo;
    if (Platform::MakeDemoPrefix(demo.Path().string(), nullptr, strError)) {
        pDemo = Platform::CTarget::OpenWinePrefix(demo.Path().string(), strError);
    }
    if (pDemo != nullptr) {
        ScanOnce("demo", *pDemo, messages, threads, scan);
    } else {
        std::printf("demo skipped: %ls\n", strError.c_str());
    }

    threads.StopAllThreads();
    messages.Unsubscribe(CFinishThreadMessage::kType, &threads);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %ld kB\n", usage.ru_maxrss);
    return 0;
}
