// Where the running module (the program, or libfendral.so) lives, and where it keeps its logs.
// Each module links its own copy of this piece, so "the module" is always the one that calls.
#pragma once

#include <string>

namespace Branwick::Platform {

// The host folder of the module that contains this code, ending in '/'; empty when it cannot be
// found. Thread-safe.
std::string GetModuleFolder();

// The host folder of the data the program installs beside itself, ending in '/':
// $CORVANE_DATA_DIR when set and not empty, else DataFolderOf(GetModuleFolder()). Empty when the
// module's folder cannot be found. Thread-safe.
std::string GetDataFolder();
// "share/corvane/" beside the parent of strModuleFolder: /usr/share/corvane/ for a program in
// /usr/bin/, build/share/corvane/ for one in build/bin/, as the build tree mirrors the installed
// layout. strModuleFolder ends in '/'.
std::string DataFolderOf(const std::string& strModuleFolder);

// The host folder for log files, ending in '/', created if missing; empty when no folder can be
// made. $CORVANE_LOG_DIR when set and not empty, else LogsFolderOf(GetModuleFolder()). Looked up
// afresh on every call. Thread-safe.
std::string GetLogsFolder();
// "Logs/" beside the module when that folder exists and can be written (a build tree makes it;
// an installed program has none, and must not make one in a system folder even when it runs as
// root); else $XDG_STATE_HOME/corvane/Logs/ (XDG_STATE_HOME defaulting to ~/.local/state),
// created if missing. Empty when neither can be had.
std::string LogsFolderOf(const std::string& strModuleFolder);

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

    // Loads strFileName from the first folder of the calling module's library search path that
    // holds it (its RUNPATH: the module's own folder in a build tree, the private library folder
    // when installed; then the system's folders), resolving all its symbols at once. The path is
    // resolved here rather than by dlopen, because a sanitizer's dlopen loses the caller and with
    // it the RUNPATH. False with a sentence naming the file and the reason in strError when it
    // cannot be loaded.
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
