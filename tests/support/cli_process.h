// Test support: corvane-cli run as a user runs it, as a separate process whose logs and
// configuration stay in a test's folder. Several may run at once.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace CorvaneTest {

struct SCliResult {
    int nStatus = -1;  // the exit status; -1 when it did not exit
    std::string strOut;
    std::string strErr;
};

class CCliProcess {
public:
    // Starts corvane-cli with the arguments; its output is kept in files of folder. With fdTerminal
    // (the slave end of a terminal), stderr goes there instead.
    CCliProcess(const std::filesystem::path& folder, std::vector<std::string> vcArgs, int fdTerminal = -1)
        : m_out(folder / ("out-" + std::to_string(s_nNext))), m_err(folder / ("err-" + std::to_string(s_nNext))) {
        ++s_nNext;
        m_pid = fork();
        if (m_pid == 0) {
            setenv("CORVANE_LOG_DIR", (folder / "Logs").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
            unsetenv("WINEPREFIX");
            dup2(open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            const int fdErr = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fdTerminal >= 0 ? fdTerminal : fdErr, 2);
            vcArgs.insert(vcArgs.begin(), CORVANE_BIN_DIR "/corvane-cli");
            std::vector<char*> argv;
            for (std::string& arg : vcArgs) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    CCliProcess(const CCliProcess&) = delete;
    CCliProcess& operator=(const CCliProcess&) = delete;
    ~CCliProcess() {
        if (m_pid > 0) {
            Wait();
        }
    }

    // Waits for the process to end; its status and output.
    SCliResult Wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        SCliResult result;
        result.nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.strOut = ReadAll(m_out);
        result.strErr = ReadAll(m_err);
        return result;
    }

private:
    static inline std::atomic<int> s_nNext{0};
    std::filesystem::path m_out;
    std::filesystem::path m_err;
    pid_t m_pid = -1;
};

}  // namespace CorvaneTest
