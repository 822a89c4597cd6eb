// Test support: child processes the tests start, look at and end.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/win32.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace CorvaneTest {

// A child process, killed and reaped when the object goes unless the test reaped it.
class CChild {
public:
    CChild(const std::string& strFile, std::vector<std::string> vcArgs, std::vector<std::string> vcEnv = {}) {
        std::vector<char*> argv;
        for (std::string& s : vcArgs) {
            argv.push_back(s.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& s : vcEnv) {
            envp.push_back(s.data());
        }
        envp.push_back(nullptr);
        if (posix_spawn(&m_pid, strFile.c_str(), nullptr, nullptr, argv.data(), vcEnv.empty() ? environ : envp.data()) != 0) {
            m_pid = -1;
        }
    }
    ~CChild() {
        if (m_pid > 0 && !m_bReaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    Branwick::DWORD Pid() const { return static_cast<Branwick::DWORD>(m_pid); }
    // The wait status once it has ended.
    int Reap() {
        int nStatus = 0;
        waitpid(m_pid, &nStatus, 0);
        m_bReaped = true;
        return nStatus;
    }
    bool Running() const { return waitpid(m_pid, nullptr, WNOHANG) == 0; }

private:
    pid_t m_pid = -1;
    bool m_bReaped = false;
};

// A copy of sleep under another name, so that the process has that file name.
inline std::string SleepAs(const CTempFolder& dir, const std::string& strName) {
    const std::filesystem::path file = dir / "bin" / strName;
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::copy_file("/bin/sleep", file, std::filesystem::copy_options::overwrite_existing);
    return file.string();
}

}  // namespace CorvaneTest
