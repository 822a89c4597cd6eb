// Where the running module (the program, or libfendral.so) lives, and where it keeps its logs.
// Each module links its own copy of this piece, so "the module" is always the one that calls.
#pragma once

#include <string>

namespace Branwick::Platform {

// The host folder of the module that contains this code, ending in '/'; empty when it cannot be
// found. Thread-safe.
std::string GetModuleFolder();

// The host folder of the data the program installs beside itself ("share/corvane/" next to the
// folder of the module: /usr/share/corvane/ for /usr/bin, build/share/corvane/ in a build tree),
// ending in '/'; $CORVANE_DATA_DIR instead when set and not empty. Empty when the module's folder
// cannot be found. Thread-safe.
std::string GetDataFolder();

// The host folder for log files, ending in '/', created if missing; empty when no folder can be
// made. In order of preference: $CORVANE_LOG_DIR when set and not empty; "Logs/" beside the module
// when that folder can be written (a build tree); $XDG_STATE_HOME/corvane/Logs/ (XDG_STATE_HOME
// defaulting to ~/.local/state). Looked up afresh on every call. Thread-safe.
std::string GetLogsFolder();

// Another module, loaded from the folder of the module that loads it (LoadLibraryW with the
// program's own folder first) and bound by symbol name (GetProcAddress). Once loaded it stays in
// the process until the process ends, whatever becomes of this object: objects it made (messages
// still queued, their virtual tables) may outlive any owner. Move-only; used by one thread at a
// time.
class CLibrary {
public:
    CLibrary() = default;
    CLibrary(CLibrary&& other) noexcept;
    CLibrary& operator=(CLibrary&& other) noexcept;
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    ~CLibrary();

    // Loads strFileName from GetModuleFolder(), resolving all its symbols at once. False with a
    // sentence naming the file and the reason in strError when it cannot be loaded.
    bool Load(const std::string& strFileName, std::wstring& strError);
    bool IsLoaded() const { return m_pHandle != nullptr; }

    // The address of the exported symbol; null with a sentence in strError when the library is
    // not loaded or does not export that name.
    void* GetSymbol(const char* pszName, std::wstring& strError) const;

private:
    void* m_pHandle = nullptr;
    std::string m_strPath;
};

}  // namespace Branwick::Platform
