// The engine library as the program uses it: libfendral.so, loaded from the program's library
// search path (beside it in a build tree, its private library folder when installed) and kept
// loaded, its entry points bound by name (core/ScanThreadData.h) at every start and handed to the
// thread manager as thread procedures.
#pragma once

#include <string>

#include "core/ScanThreadData.h"
#include "platform/module/module.h"
#include "platform/threads/threads.h"

namespace Branwick {

inline constexpr char kFendralLibrary[] = "libfendral.so";

// Used by one thread at a time (the user-interface thread).
class CEngineLibrary {
public:
    explicit CEngineLibrary(std::string strFileName = kFendralLibrary)
        : m_strFileName(std::move(strFileName)) {}

    // Loads the library unless it is loaded. False with a sentence for the user in strError.
    bool Load(std::wstring& strError);
    // The entry point pszName (kFendralScan, kFendralCleanUp, kFendralCleanHistory), the library
    // loaded first if it is not yet. Null with a sentence for the user in strError when the library
    // cannot be loaded or has no such entry point; a later call tries the load again.
    Platform::ThreadProc Bind(const char* pszName, std::wstring& strError);

private:
    std::string m_strFileName;
    Platform::CLibrary m_library;
};

}  // namespace Branwick
