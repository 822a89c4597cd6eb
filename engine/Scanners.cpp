#include "engine/Scanners.h"

namespace Branwick {

const SScanners& Scanners() {
    static const SScanners scanners = {
        .pfnCountFiles = nullptr,
        .pfnScanJunkFiles = nullptr,
        .pfnComDriver = nullptr,
        .pfnScanUninstalls = nullptr,
        .pfnScanFontEntries = nullptr,
        .pfnScanSharedDlls = nullptr,
        .pfnScanStartups = nullptr,
        .pfnScanFilePath = nullptr,
        .pfnScanShortcut = nullptr,
        .pfnEmptyKeyTest = nullptr,
        .pfnScanHelpFiles = nullptr,
        .pfnScanAppPaths = nullptr,
        .pfnScanFileAssociations = nullptr,
        .pfnCleanHistory = nullptr,
    };
    return scanners;
}

}  // namespace Branwick
