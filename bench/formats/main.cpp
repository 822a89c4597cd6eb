// The format service: how long loading its data at start takes (the catalog of this machine's
// installed MIME database, icon themes, .desktop files and AppStream metadata), and how many
// requests per second `corvane-formats serve` answers on loopback to 8 clients at once, each
// keeping its connection and asking for the extensions in turn (icons rendered once, then kept).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tools/FormatService/FormatService.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kClients = 8;
constexpr int kLoadRounds = 3;
constexpr auto kRunTime = std::chrono::seconds(3);

double LoadMilliseconds(std::size_t& nExtensions) {
    double best = 1e9;
    for (int i = 0; i < kLoadRounds; ++i) {
        const auto start = Clock::now();
        Branwick::Formats::SCatalogOptions options;
        options.vDataDirs = Branwick::Formats::SystemDataDirs();
        const Branwick::Formats::CFormatCatalog catalog(options);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        nExtensions = catalog.Extensions().size();
    }
    return best;
}

// A loopback port free now: taken and given back at once.
unsigned short FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), nLength);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

int main() {
    std::size_t nExtensions = 0;
    const double loadMs = LoadMilliseconds(nExtensions);
    std::printf("start time: %.1f ms\n", loadMs);
    std::printf("extensions: %zu count\n", nExtensions);

    const unsigned short nPort = FreePort();
    const std::string strProgram = std::string(CORVANE_BIN_DIR) + "/corvane-formats";
    const std::string strListen = "127.0.0.1:" + std::to_string(nPort);
    const char* argv[] = {strProgram.c_str(), "serve", "--listen", strListen.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, strProgram.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "bench_formats: cannot start %s\n", strProgram.c_str());
        return 1;
    }
    // Ready when it answers.
    for (int i = 0; i < 200; ++i) {
        httplib::Client probe("127.0.0.1", nPort);
        if (probe.Get("/extensions/PNG")) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<std::string> vAsked = {"PNG", "DOC", "TXT", "PDF", "HTML", "ZIP", "JPG", "MP3"};
    for (const std::string& strExtension : vAsked) {  // first answers build and render icons
        httplib::Client warm("127.0.0.1", nPort);
        warm.Get("/extensions/" + strExtension);
    }
    std::atomic<long> nAnswered{0};
    std::atomic<long> nFailed{0};
    const auto end = Clock::now() + kRunTime;
    const auto start = Clock::now();
    std::vector<std::thread> vClients;
    for (int c = 0; c < kClients; ++c) {
        vClients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", nPort);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            for (std::size_t i = static_cast<std::size_t>(c); Clock::now() < end; ++i) {
                const httplib::Result result = client.Get("/extensions/" + vAsked[i % vAsked.size()]);
                (result && (result->status == 200 || result->status == 404) ? nAnswered : nFailed)++;
            }
        });
    }
    for (std::thread& client : vClients) {
        client.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::printf("requests per second (8 clients): %.0f requests/s\n",
                static_cast<double>(nAnswered) / seconds);
    std::printf("failed requests: %ld count\n", nFailed.load());
    return 0;
}
