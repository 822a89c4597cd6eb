// How long the window's thread goes without answering (event-loop latency) while the program
// scans and fixes a large registry: the demo prefix with 1,000,000 generated keys added, of which
// 10,000 are COM classes whose server is gone. The main window drives the scan and the fix as
// a user does; a 1 ms timer on the window's thread measures the longest gap between its ticks.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <functional>

#include "app/ThreadManager.h"
#include "platform/demo/demo.h"
#include "ui/App/CommandLine.h"
#include "ui/App/TargetCore.h"
#include "ui/MainWindow/MainWindow.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

constexpr int kKeys = 1000000;
constexpr int kBrokenClasses = 10000;

// Adds the generated keys to the prefix's system.reg (each class is two keys).
void Generate(const QString& prefix) {
    FILE* f = std::fopen((prefix + "/system.reg").toLocal8Bit().constData(), "a");
    for (int n = 0; n < kBrokenClasses; ++n) {
        std::fprintf(f, "\n[Software\\\\Classes\\\\CLSID\\\\{BE4C0000-0000-4000-8000-%012X}] 1796598480\n@=\"Bench %d\"\n",
                     n, n);
        std::fprintf(f,
                     "\n[Software\\\\Classes\\\\CLSID\\\\{BE4C0000-0000-4000-8000-%012X}\\\\InprocServer32] "
                     "1796598480\n@=\"C:\\\\Program Files\\\\Gone\\\\bench%d.dll\"\n",
                     n, n);
    }
    for (int n = 0; n < kKeys - 2 * kBrokenClasses; ++n) {
        std::fprintf(f, "\n[Software\\\\Generated\\\\Vendor%03d\\\\Component%05d] 1796598480\n\"Size\"=dword:%08x\n",
                     n / 10000, n % 10000, n);
    }
    std::fclose(f);
}

// The longest gap between ticks of a 1 ms timer, beyond the millisecond, since Reset; and how
// much of that gap the window's thread spent computing (the rest it waited for a processor, which
// a loaded machine causes and the program cannot).
class CLatencyProbe : public QObject {
public:
    CLatencyProbe() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 nGap = m_clock.restart();
            const double dCpu = ThreadCpuMs();
            if (nGap > m_nLongest) {
                m_nLongest = nGap;
                m_dLongestCpu = dCpu - m_dLastCpu;
            }
            m_dLastCpu = dCpu;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(1);
    }
    void Reset() {
        m_clock.restart();
        m_dLastCpu = ThreadCpuMs();
        m_nLongest = 0;
        m_dLongestCpu = 0;
    }
    qint64 Longest() const { return std::max<qint64>(0, m_nLongest - 1); }
    double LongestCpu() const { return m_dLongestCpu; }

private:
    static double ThreadCpuMs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_nLongest = 0;
    double m_dLastCpu = 0;
    double m_dLongestCpu = 0;
};

// Runs the event loop until done() holds; the seconds it took.
double RunUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
    return clock.elapsed() / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("CORVANE_LOG_DIR", (home.path() + "/logs").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    const QString prefix = home.path() + "/prefix";
    std::wstring strError;
    if (!Platform::MakeDemoPrefix(prefix.toStdString(), nullptr, strError)) {
        std::fprintf(stderr, "bench_gui: %ls\n", strError.c_str());
        return 1;
    }
    Generate(prefix);
    auto pTarget = Platform::CTarget::OpenWinePrefix(prefix.toStdString(), strError);
    if (pTarget == nullptr) {
        std::fprintf(stderr, "bench_gui: %ls\n", strError.c_str());
        return 1;
    }

    CMessageManager messages;
    CThreadManager threads;
    messages.Subscribe(CFinishThreadMessage::kType, &threads);
    threads.StartThread(&CMessageRunnerData::MessageRunnerProc, std::make_unique<CMessageRunnerData>(&messages));
    CRecordingMessageBox box;
    SetMessageBox(&box);
    {
        CTargetCore core(messages, threads, std::move(pTarget), box);
        CCorvanesDlg window(core.Site(), core.Session(), false);
        window.show();
        CLatencyProbe probe;
        RunUntil([] { return true; });

        probe.Reset();
        QElapsedTimer start;
        start.start();
        window.OnCommand(kCmdStartScan);
        const qint64 nStartCommand = start.elapsed();
        const double dScan = RunUntil([&] { return window.ScanTab()->Progress()->NextButton()->isEnabled(); });
        const qint64 nScanLatency = probe.Longest();
        const double dScanLatencyCpu = probe.LongestCpu();
        const std::size_t nFound = core.Session().Findings().size();

        probe.Reset();
        CResultsDlg& results = *window.ResultsTab()->Results();
        results.FixButton()->click();
        const double dFix = RunUntil([&] { return results.Title().endsWith("Issues Fixed!"); });
        const qint64 nFixLatency = probe.Longest();
        const double dFixLatencyCpu = probe.LongestCpu();

        std::printf("gui scan, keys in the registry: %d keys\n", kKeys);
        std::printf("gui scan, problems found: %zu problems\n", nFound);
        std::printf("gui scan, time: %.2f s\n", dScan);
        std::printf("gui scan, longest event-loop latency: %lld ms\n", static_cast<long long>(nScanLatency));
        std::printf("gui scan, window's thread computing in that latency: %.1f ms\n", dScanLatencyCpu);
        std::printf("gui scan, start command on the window's thread: %lld ms\n", static_cast<long long>(nStartCommand));
        std::printf("gui fix, problems fixed: %d problems\n", core.Session().FixOutcome().nFixed);
        std::printf("gui fix, time (with its backup): %.2f s\n", dFix);
        std::printf("gui fix, longest event-loop latency: %lld ms\n", static_cast<long long>(nFixLatency));
        std::printf("gui fix, window's thread computing in that latency: %.1f ms\n", dFixLatencyCpu);
    }
    threads.StopAllThreads();
    messages.Unsubscribe(CFinishThreadMessage::kType, &threads);
    SetMessageBox(nullptr);
    return 0;
}
