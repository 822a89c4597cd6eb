// corvane-formats: the file format service as a program of its own, for a machine that serves
// the look-ups of many desktops, or to write the whole service out as static files.
//
// Exit status: 0 success, 1 failure (said in one sentence on stderr), 2 bad usage.
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tools/FormatService/FormatService.h"

namespace {

constexpr char kUsage[] = R"(Usage: corvane-formats serve [--listen ADDR:PORT]
       corvane-formats export DIR

Answers GET /extensions/EXT with what the system's MIME database, icon themes, .desktop files and
AppStream metadata say about the file extension EXT (from $XDG_DATA_DIRS, else /usr/local/share
and /usr/share).
  serve             serve over HTTP until interrupted (default --listen 127.0.0.1:8080; give
                    0.0.0.0:PORT to serve other machines)
  export DIR        write every answer as the file DIR/extensions/EXT, for any static web server
)";

constexpr int kUsageError = 2;

Branwick::Formats::SCatalogOptions SystemOptions() {
    Branwick::Formats::SCatalogOptions options;
    options.vDataDirs = Branwick::Formats::SystemDataDirs();
    return options;
}

// "ADDR:PORT" (an IPv6 address in brackets); false when it is not one.
bool ParseListen(const std::string& strText, std::string& strHost, unsigned short& nPort) {
    const std::size_t nColon = strText.rfind(':');
    if (nColon == std::string::npos || nColon == 0) {
        return false;
    }
    strHost = strText.substr(0, nColon);
    if (strHost.starts_with('[') && strHost.ends_with(']')) {
        strHost = strHost.substr(1, strHost.size() - 2);
    }
    char* pEnd = nullptr;
    const unsigned long nValue = std::strtoul(strText.c_str() + nColon + 1, &pEnd, 10);
    if (*pEnd != '\0' || pEnd == strText.c_str() + nColon + 1 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<unsigned short>(nValue);
    return true;
}

int Serve(const std::string& strHost, unsigned short nPort) {
    // Blocked before any thread starts, so that only sigwait below ever takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto start = std::chrono::steady_clock::now();
    const Branwick::Formats::CFormatCatalog catalog(SystemOptions());
    const auto nLoadMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    Branwick::Formats::CFormatServer server(catalog, [](const std::string& strLine) {
        std::fprintf(stderr, "corvane-formats: %s\n", strLine.c_str());
    });
    const unsigned short nBound = server.Listen(strHost, nPort);
    std::fprintf(stderr, "corvane-formats: %zu extensions, loaded in %lld ms, serving on %s:%u\n",
                 catalog.Extensions().size(), static_cast<long long>(nLoadMs), strHost.c_str(),
                 static_cast<unsigned>(nBound));
    int nSignal = 0;
    sigwait(&signals, &nSignal);
    server.Stop();
    return 0;
}

int Export(const std::string& strDir) {
    const Branwick::Formats::CFormatCatalog catalog(SystemOptions());
    const std::size_t nWritten = Branwick::Formats::ExportFormats(catalog, strDir);
    std::printf("%zu extensions written to %s/extensions/\n", nWritten, strDir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string strCommand = argc > 1 ? argv[1] : "";
    if (strCommand == "--help" || strCommand == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        if (strCommand == "serve" && (argc == 2 || (argc == 4 && std::string(argv[2]) == "--listen"))) {
            std::string strHost = "127.0.0.1";
            unsigned short nPort = 8080;
            if (argc == 4 && !ParseListen(argv[3], strHost, nPort)) {
                std::fprintf(stderr, "corvane-formats: \"%s\" is not ADDR:PORT.\n", argv[3]);
                return kUsageError;
            }
            return Serve(strHost, nPort);
        }
        if (strCommand == "export" && argc == 3) {
            return Export(argv[2]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-formats: %s.\n", e.what());
        return 1;
    }
    std::fputs(kUsage, stderr);
    return kUsageError;
}
