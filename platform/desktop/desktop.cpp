#include "platform/desktop/desktop.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/atomic/atomic_file.h"
#include "platform/text/text.h"

namespace Branwick::Platform {
namespace fs = std::filesystem;
namespace {

// The variable when it holds an absolute path, else the home folder followed by pszDefault.
std::string XdgHome(const char* pszVariable, const char* pszDefault) {
    const char* xdg = std::getenv(pszVariable);
    if (xdg && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return std::string(home) + pszDefault;
    }
    const passwd* user = ::getpwuid(::getuid());
    return std::string(user && user->pw_dir ? user->pw_dir : "") + pszDefault;
}

std::string EntryPath(const std::wstring& strName) {
    return ConfigHome() + "/autostart/" + ToUtf8(strName) + ".desktop";
}

// An Exec= argument: quoted, with the characters the desktop entry format reserves inside quotes
// escaped, then the string-value escaping of backslashes, and "%" doubled (field codes).
std::string ExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";  // "\\" unescapes to the backslash that quotes the character
            quoted += c;
        } else if (c == '\\') {
            quoted += "\\\\\\\\";
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string ConfigHome() { return XdgHome("XDG_CONFIG_HOME", "/.config"); }

std::string DataHome() { return XdgHome("XDG_DATA_HOME", "/.local/share"); }

std::wstring GetProgramPath() {
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::wstring() : FromUtf8(program.string());
}

LONG SetAutostart(const std::wstring& strName, const std::wstring& strProgram, bool bOn) {
    const std::string path = EntryPath(strName);
    std::error_code ec;
    if (!bOn) {
        fs::remove(path, ec);
        return ec ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }
    fs::create_directories(fs::path(path).parent_path(), ec);
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + ToUtf8(strName) +
                              "\nComment=Starts Corvane in the notification area\nExec=" +
                              ExecArgument(ToUtf8(strProgram)) +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    std::string error;
    return SaveFileAtomically(path, entry, error) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool IsAutostart(const std::wstring& strName) {
    std::ifstream in(EntryPath(strName));
    bool entry = false;
    bool off = false;
    for (std::string line; std::getline(in, line);) {
        entry = entry || line == "[Desktop Entry]";
        off = off || line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false";
    }
    return entry && !off;
}

}  // namespace Branwick::Platform
