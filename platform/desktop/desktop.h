// The user's desktop session as the freedesktop.org conventions define it: where per-user
// configuration and data live, and the autostart entry that starts a program at log-in.
// Thread-safe: every call looks at the environment and the file system afresh.
#pragma once

#include <string>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the home folder from the
// password database when HOME is not set). No trailing '/'.
std::string ConfigHome();

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share (as ConfigHome). Holds the
// desktop trash ("Trash").
std::string DataHome();

// The host path of the running program, or empty when the kernel does not say.
std::wstring GetProgramPath();

// Writes (bOn) or removes the autostart entry ConfigHome()/autostart/<strName>.desktop that
// starts strProgram, a host path. Writing is atomic and creates the folder; removing an entry that
// does not exist changes nothing. Returns ERROR_SUCCESS, or ERROR_WRITE_FAULT / ERROR_ACCESS_DENIED
// with nothing changed.
LONG SetAutostart(const std::wstring& strName, const std::wstring& strProgram, bool bOn);

// True when that entry exists as a desktop entry that the session will start (not hidden, not
// switched off).
bool IsAutostart(const std::wstring& strName);

}  // namespace Branwick::Platform
