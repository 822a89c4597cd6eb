// The cost of one sample of all processes, the work of each refresh of the process list: with
// sleeping children added until at least 500 processes run, the first sample (every file read)
// and the best of the following ones (what a one-second refresh costs), in processor time; then
// the whole refresh of the shown page (sample, rows updated and re-sorted, the list repainted).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include <QApplication>

#include "core/MessageBox.h"
#include "tools/ProcessManager/ProcessManager.h"
#include "ui/ProcessManagerPage/ProcMgrDlg.h"

extern char** environ;

namespace {

constexpr std::size_t kProcesses = 500;
constexpr int kRounds = 20;

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double WallMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The best of kRounds page refreshes, each with the repaint it causes, in processor and wall time.
void MeasurePage() {
    Branwick::CRecordingMessageBox box;
    Branwick::Wnd::CProcMgrDlg page(box, Branwick::DefaultProcessesDatabase());
    page.resize(1000, 600);
    page.show();
    QApplication::processEvents();
    double dBestCpu = 1e9;
    double dBestWall = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        const double dWall = WallMs();
        const double dStart = CpuMs();
        page.Refresh();
        page.repaint();
        QApplication::processEvents();
        dBestCpu = std::min(dBestCpu, CpuMs() - dStart);
        dBestWall = std::min(dBestWall, WallMs() - dWall);
    }
    std::printf("page_rows: %d count\n", page.View()->model()->rowCount());
    std::printf("page_refresh_cpu: %.2f ms\n", dBestCpu);
    std::printf("page_refresh_wall: %.2f ms\n", dBestWall);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    Branwick::CProcessCollector collector(Branwick::DefaultProcessesDatabase());
    std::map<Branwick::DWORD, Branwick::CProcessInfo> map;
    collector.Sample(map);
    std::vector<pid_t> vcChildren;
    char szSleep[] = "sleep";
    char szTime[] = "600";
    char* aArgs[] = {szSleep, szTime, nullptr};
    // A few margin: other processes may end meanwhile.
    while (map.size() + vcChildren.size() < kProcesses + 10) {
        pid_t pid = 0;
        if (posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, aArgs, environ) != 0) {
            break;
        }
        vcChildren.push_back(pid);
    }

    Branwick::CProcessCollector fresh(Branwick::DefaultProcessesDatabase());
    double dStart = CpuMs();
    fresh.Sample(map);
    const double dFirst = CpuMs() - dStart;
    double dBestCpu = 1e9;
    double dBestWall = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        const double dWall = WallMs();
        dStart = CpuMs();
        fresh.Sample(map);
        dBestCpu = std::min(dBestCpu, CpuMs() - dStart);
        dBestWall = std::min(dBestWall, WallMs() - dWall);
    }
    std::printf("processes: %zu count\n", map.size());
    std::printf("first_sample_cpu: %.2f ms\n", dFirst);
    std::printf("sample_cpu: %.2f ms\n", dBestCpu);
    std::printf("sample_wall: %.2f ms\n", dBestWall);
    std::printf("refresh_share_of_one_core: %.2f %%\n", dBestCpu / 1000.0 * 100.0);
    MeasurePage();
    for (const pid_t pid : vcChildren) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return 0;
}
