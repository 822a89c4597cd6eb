// Benchmarks that measure corvane-cli as a user runs it: one run of the program, its wall time and
// its peak memory.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace CorvaneBench {

struct SRun {
    double dSeconds = 0;
    long nPeakKb = 0;
    int nStatus = -1;
};

// Runs corvane-cli from the build's bin folder with the arguments, its output to /dev/null.
inline SRun RunCli(const std::vector<std::string>& vcArgs) {
    std::vector<std::string> args = {CORVANE_BIN_DIR "/corvane-cli"};
    args.insert(args.end(), vcArgs.begin(), vcArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    SRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        run.nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.nPeakKb = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    run.dSeconds = elapsed.count();
    return run;
}

}  // namespace CorvaneBench
