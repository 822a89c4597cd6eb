// Where the category scanners plug into the engine's drivers. A hook that
// is still null has no scanner behind it: its category's registry walks run without a callback
// (they report progress and examine nothing), its folder scan or driver is left out, and the
// category still posts its start and end messages and writes its log lines.
#pragma once

#include <string>

#include "engine/Fendral.h"

namespace Branwick {

// The entries of a folder, "." and ".." included (progress share of a folder scan).
using CountFilesProc = DWORD (*)(const COperation& op, const std::wstring& strFolder);
// A folder scan (program shortcuts, junk files): the folder, the progress start and share, and the
// folder's entry count.
using FolderScan = void (*)(const COperation& op, const std::wstring& strFolder, int nPercentsStart,
                            int nPercentsInterval, int nCount);
// A category that drives its own walks and posts its own start and end messages (COM).
using CategoryDriver = void (*)(const COperation& op);

struct SScanners {
    CountFilesProc pfnCountFiles;
    FolderScan pfnScanJunkFiles;          // 0x800
    CategoryDriver pfnComDriver;          // 0x1
    ValueCallback pfnScanUninstalls;      // 0x2
    ValueCallback pfnScanFontEntries;     // 0x4
    ValueCallback pfnScanSharedDlls;      // 0x8
    ValueCallback pfnScanStartups;        // 0x10
    ValueCallback pfnScanFilePath;        // 0x20
    FolderScan pfnScanShortcut;           // 0x40
    EmptyKeyTest pfnEmptyKeyTest;         // 0x80, with EmptyKeyCallback
    ValueCallback pfnScanHelpFiles;       // 0x100
    ValueCallback pfnScanAppPaths;        // 0x200
    ValueCallback pfnScanFileAssociations;  // 0x400
};

const SScanners& Scanners();

}  // namespace Branwick
