#include "engine/Scanners.h"

#include "engine/FileScanners.h"
#include "engine/RegistryScanners.h"

namespace Branwick {

const SScanners& Scanners() {
    static const SScanners scanners = {
        .pfnCountFiles = &CountFiles,
        .pfnScanJunkFiles = &ScanJunkFiles,
        .pfnComDriver = nullptr,
        .pfnScanUninstalls = nullptr,
        .pfnScanFontEntries = nullptr,
        .pfnScanSharedDlls = nullptr,
        .pfnScanStartups = nullptr,
        .pfnScanFilePath = &ScanFilePath,
        .pfnScanShortcut = &ScanShortcut,
        .pfnEmptyKeyTest = &ScanEmptyKey,
        .pfnScanHelpFiles = &ScanHelpFiles,
        .pfnScanAppPaths = &ScanAppPaths,
        .pfnScanFileAssociations = &ScanFileAssociations,
        .pfnCleanHistory = nullptr,
    };
    return scanners;
}

}  // namespace Branwick
