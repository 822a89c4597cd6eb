#include "engine/Scanners.h"

#include "engine/FileScanners.h"
#include "engine/RegistryScanners.h"
#include "engine/SystemScanners.h"

namespace Branwick {

const SScanners& Scanners() {
    static const SScanners scanners = {
        .pfnCountFiles = &CountFiles,
        .pfnScanJunkFiles = &ScanJunkFiles,
        .pfnComDriver = &ScanComRegistrations,
        .pfnScanUninstalls = &ScanUninstalls,
        .pfnScanFontEntries = &ScanFontEntries,
        .pfnScanSharedDlls = &ScanSharedDlls,
        .pfnScanStartups = &ScanStartups,
        .pfnScanFilePath = &ScanFilePath,
        .pfnScanShortcut = &ScanShortcut,
        .pfnEmptyKeyTest = &ScanEmptyKey,
        .pfnScanHelpFiles = &ScanHelpFiles,
        .pfnScanAppPaths = &ScanAppPaths,
        .pfnScanFileAssociations = &ScanFileAssociations,
    };
    return scanners;
}

}  // namespace Branwick
