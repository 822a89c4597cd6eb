// The demo target: a fresh, self-contained 64-bit Wine prefix planted with problems of every scan
// category, as many sound look-alikes that no scan may report, and traces for the history cleaner.
// Its expectations are written beside it (inside the prefix folder, "corvane-expected.json"), so
// that tests and the demo can check every finding. The recipe is data/demo/recipe.txt, built into
// the program.
//
// Threads: the functions keep no state; two calls must not write the same folder.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

// A finding a scan of the demo must report (m_strDescription set), or a look-alike that no
// finding may name. Paths compare ignoring case.
struct CDemoEntry {
    DWORD m_dwCategory = 0;        // the ScanType bit
    std::wstring m_strRoot;        // "HKEY_LOCAL_MACHINE", ...; empty for a file
    std::wstring m_strPath;        // key path below the root, or the file's Windows path
    DWORD m_dwView = 0;            // KEY_WOW64_32KEY or KEY_WOW64_64KEY of the pass; 0 for a file
    std::wstring m_strValue;       // the value the finding is about, when it names one
    std::wstring m_strDescription;
    std::wstring m_strNote;        // what was planted, in words
};

// A trace for the history cleaner: a file (Windows path) or a key ("HKEY_CURRENT_USER\...").
struct CDemoTrace {
    DWORD m_dwItems = 0;  // the history item bits whose cleaning concerns it
    std::wstring m_strPath;
    bool m_bErased = true;  // erased by cleaning any of m_dwItems; else it must survive them
};

struct CDemoExpectations {
    std::wstring m_strUser;  // the prefix's Windows user
    std::vector<CDemoEntry> m_vcFindings;
    std::vector<CDemoEntry> m_vcSound;
    std::vector<CDemoTrace> m_vcHistory;
};

// The file beside the prefix's registry that holds its expectations.
inline constexpr char kDemoExpectationsFile[] = "corvane-expected.json";

// Writes the demo prefix into strFolder, which must not exist or be an empty folder: the registry
// files (through the Wine store), drive_c, dosdevices/c: and the expectations file. On failure
// returns false with one sentence in strError; what was written stays for inspection.
bool MakeDemoPrefix(const std::string& strFolder, CDemoExpectations* pOut, std::wstring& strError);

// Reads the expectations file of a demo prefix.
bool LoadDemoExpectations(const std::string& strFolder, CDemoExpectations& out, std::wstring& strError);

}  // namespace Branwick::Platform
