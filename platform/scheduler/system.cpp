#include "platform/scheduler/system.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pugixml.hpp>

#include <cctype>
#include <cerrno>
#include <sstream>

#include "platform/scheduler/scheduler.h"

extern char** environ;

namespace Branwick::Platform {
namespace {

class CSystemdUserManager : public IUserManager {
public:
    bool IsRunning() override {
        std::string state;
        RunProgram({"systemctl", "--user", "is-system-running"}, &state);
        state = state.substr(0, state.find('\n'));
        // It answers "offline" (or nothing) when it cannot reach a manager, and a state such as
        // "running" or "degraded" when one answers, whatever its exit status.
        return !state.empty() && state != "offline" && state != "unknown";
    }

    LONG Apply(const std::string& timerUnit, bool enable) override {
        std::vector<std::vector<std::string>> steps;
        if (enable) {
            // A reload gives a running timer its new triggers; a restart would fire its log-on
            // and start-up triggers again at once.
            steps = {{"daemon-reload"}, {"enable", timerUnit}, {"start", timerUnit}};
        } else {
            steps = {{"disable", "--now", timerUnit}};
        }
        for (std::vector<std::string>& step : steps) {
            step.insert(step.begin(), {"systemctl", "--user", "--quiet"});
            if (RunProgram(step) != 0) {
                return ERROR_NOT_READY;
            }
        }
        return ERROR_SUCCESS;
    }
};

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(pipeFds[0]);
    if (output) {
        *output = text;
    }
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::time_t> ParseIdleHint(const std::string& output) {
    std::istringstream lines(output);
    bool idle = false;
    std::optional<std::time_t> since;
    for (std::string line; std::getline(lines, line);) {
        if (line == "IdleHint=yes") {
            idle = true;
        } else if (line.rfind("IdleSinceHint=", 0) == 0) {
            std::string value = line.substr(14);
            if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0]))) {
                unsigned long long micro = std::stoull(value);
                if (micro != 0) {
                    since = static_cast<std::time_t>(micro / 1000000);
                }
            }
        }
    }
    return idle ? since : std::nullopt;
}

IUserManager& SystemdUserManager() {
    static CSystemdUserManager* manager = new CSystemdUserManager;
    return *manager;
}

std::optional<std::time_t> SessionIdleSince() {
    // Without a session argument loginctl shows logind's own properties, whose idle hint is set
    // only when every session is idle: the computer as a whole.
    std::string output;
    if (RunProgram({"loginctl", "show-session", "-p", "IdleHint", "-p", "IdleSinceHint"},
                   &output) != 0) {
        return std::nullopt;
    }
    return ParseIdleHint(output);
}

LONG GetAccountName(std::wstring& account) {
    const passwd* user = ::getpwuid(::geteuid());
    if (!user || !user->pw_name || !user->pw_name[0]) {
        return ERROR_NONE_MAPPED;
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) {
        std::snprintf(host, sizeof host, "localhost");
    }
    std::string domain(host);
    domain = domain.substr(0, domain.find('.'));
    for (char& c : domain) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    account = pugi::as_wide((domain + "\\" + user->pw_name).c_str());
    return ERROR_SUCCESS;
}

}  // namespace Branwick::Platform
