// The recursive registry walk (ProcessKey with a callback that counts values) over HKLM and HKCR of
// a real Wine prefix's registry, and over a generated registry of 1,000,000 keys; the progress
// messages go to the real message runner on its own thread, as in a scan. Each walk runs several
// rounds; the fastest is the figure.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/MessageManager.h"
#include "engine/Fendral.h"
#include "platform/target/target.h"
#include "platform/threads/threads.h"

using namespace Branwick;
namespace fs = std::filesystem;

namespace {

std::atomic<long> g_nValues{0};

void CountValue(const COperation&, const std::wstring&, const std::wstring&, const std::wstring&,
                const std::wstring&, REGSAM) {
    g_nValues.fetch_add(1, std::memory_order_relaxed);
}

// Counts the progress messages; the finish message that follows them says all have arrived.
class CProgressCounter : public IObserver {
public:
    void Processmessage(CMessage* pMessage) override {
        if (pMessage->m_nType == CScanProgressMessage::kType) {
            m_nMessages.fetch_add(1);
        } else {
            m_finished.Set();
        }
    }
    std::atomic<long> m_nMessages{0};
    Platform::CEvent m_finished{true, false};
};

// The machine is shared: the walking thread's own CPU time says what the walk costs.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// The keys a recursive walk of root\path enters (the exclusion table applies).
long CountKeys(const Platform::CRegistry& registry, HKEY hRoot, const std::wstring& strPath) {
    Platform::CRegKey key;
    if (registry.OpenKey(hRoot, strPath, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    long nKeys = 1;
    std::wstring strName;
    for (DWORD i = 0; key.EnumKey(i, &strName) == ERROR_SUCCESS; ++i) {
        const std::wstring strChild = strPath.empty() ? strName : strPath + L"\\" + strName;
        if (!IsExcluded(hRoot, strChild, FILE_ASSOCIATIONS)) {
            nKeys += CountKeys(registry, hRoot, strChild);
        }
    }
    return nKeys;
}

struct SRound {
    double dWalk = 0;     // wall seconds of the walk
    double dWalkCpu = 0;  // CPU seconds of the walking thread
    double dDrained = 0;  // wall seconds until the runner had delivered everything
    long nMessages = 0;
};

// One walk of every root with the counting callback, the progress going to a runner of its own.
SRound WalkOnce(CMessageManager& messages, CProgressCounter& counter, Platform::CTarget* pTarget,
                std::initializer_list<HKEY> roots) {
    counter.m_nMessages = 0;
    counter.m_finished.Reset();
    CMessageRunnerData* pRunnerData = new CMessageRunnerData(&messages);
    Platform::CThread runner(&CMessageRunnerData::MessageRunnerProc, pRunnerData);
    CScanThreadData record(messages.GetSink(), nullptr, 0, pTarget);

    SRound round;
    const auto start = std::chrono::steady_clock::now();
    const double dCpuStart = ThreadCpuSeconds();
    {
        const COperation op(record);
        for (const HKEY hRoot : roots) {
            ProcessKey(op, hRoot, L"", 1, &CountValue, 0, 100, FILE_ASSOCIATIONS, KEY_WOW64_64KEY);
        }
    }
    round.dWalk = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    round.dWalkCpu = ThreadCpuSeconds() - dCpuStart;
    messages.Send(std::make_unique<CFinishScanMessage>());
    counter.m_finished.Wait(INFINITE);
    pRunnerData->Stop();
    runner.Wait(INFINITE);
    round.dDrained = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    round.nMessages = counter.m_nMessages.load();
    delete pRunnerData;
    return round;
}

// Walks each root nRounds times and prints keys per second and the messages posted. The machine
// is shared with other work, which only ever slows a round down: the fastest round is the figure,
// the slowest shows how much the others disturbed.
void Walk(const char* pszName, int nRounds, Platform::CRegistry registry,
          std::initializer_list<HKEY> roots) {
    const fs::path folder = fs::temp_directory_path() / ("corvane-bench-walk-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::unique_ptr<Platform::CTarget> pTarget = Platform::CTarget::OpenTest(folder.string(), registry);

    CMessageManager messages;
    CProgressCounter counter;
    messages.Subscribe(CScanProgressMessage::kType, &counter);
    messages.Subscribe(CFinishScanMessage::kType, &counter);
    long nKeys = 0;
    for (const HKEY hRoot : roots) {
        nKeys += CountKeys(registry, hRoot, L"");
    }
    g_nValues = 0;
    // Each figure is the best of its own kind over the rounds.
    SRound best;
    double dSlowestCpu = 0;
    for (int i = 0; i < nRounds; ++i) {
        const SRound round = WalkOnce(messages, counter, pTarget.get(), roots);
        if (i == 0) {
            best = round;
        }
        best.dWalk = std::min(best.dWalk, round.dWalk);
        best.dWalkCpu = std::min(best.dWalkCpu, round.dWalkCpu);
        best.dDrained = std::min(best.dDrained, round.dDrained);
        dSlowestCpu = std::max(dSlowestCpu, round.dWalkCpu);
    }
    messages.Unsubscribe(CScanProgressMessage::kType, &counter);
    messages.Unsubscribe(CFinishScanMessage::kType, &counter);

    std::printf("%s keys: %ld keys\n", pszName, nKeys);
    std::printf("%s values: %ld values\n", pszName, g_nValues.load() / nRounds);
    std::printf("%s walk: %.0f keys/s\n", pszName, nKeys / best.dWalk);
    std::printf("%s walk, CPU time of the walking thread: %.0f keys/s (slowest of %d rounds: %.0f)\n",
                pszName, nKeys / best.dWalkCpu, nRounds, nKeys / dSlowestCpu);
    std::printf("%s walk and delivery: %.0f keys/s\n", pszName, nKeys / best.dDrained);
    std::printf("%s progress messages: %ld messages\n", pszName, best.nMessages);
    pTarget.reset();
    fs::remove_all(folder);
}

Platform::CRegistry Generated(int nSide) {
    Platform::CRegistry registry = Platform::CRegistry::CreateInMemory();
    const Platform::CRegBytes vData = {'v', 0, 0, 0};
    Platform::CRegKey gen;
    registry.CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Gen", 0, &gen);
    for (int a = 0; a < nSide; ++a) {
        Platform::CRegKey ka;
        gen.CreateKey(L"a" + std::to_wstring(a), 0, &ka);
        for (int b = 0; b < nSide; ++b) {
            Platform::CRegKey kb;
            ka.CreateKey(L"b" + std::to_wstring(b), 0, &kb);
            for (int c = 0; c < nSide; ++c) {
                Platform::CRegKey kc;
                kb.CreateKey(L"c" + std::to_wstring(c), 0, &kc);
                kc.SetValue(L"", REG_SZ, vData);
            }
        }
    }
    return registry;
}

}  // namespace

int main() {
    const fs::path fixture = fs::path(CORVANE_FIXTURES_DIR) / "wine8-win64";
    if (fs::exists(fixture / "system.reg")) {
        Platform::CRegistry registry;
        const CStatus status = Platform::CRegistry::OpenWinePrefix(fixture.string(), {}, &registry);
        if (status.Ok()) {
            Walk("wine8-win64 HKLM+HKCR", 200, registry, {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT});
        } else {
            std::printf("wine8-win64: not readable, skipped\n");
        }
    } else {
        std::printf("wine8-win64: fixture absent, skipped\n");
    }
    Walk("generated 1,000,000 keys", 10, Generated(100), {HKEY_LOCAL_MACHINE});
    return 0;
}
