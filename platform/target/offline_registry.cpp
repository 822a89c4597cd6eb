#include "platform/target/offline_registry.h"

namespace Branwick::Platform {

// The hive store (hivex) is not part of the registry layer yet; until it is, an offline volume is
// refused rather than shown with an empty registry that a scan would take for a clean system.
CRegStatus OpenOfflineRegistry(const std::string& strVolume, const std::wstring& strUser, CRegistry* pOut) {
    (void)strVolume;
    (void)strUser;
    *pOut = CRegistry();
    return {ERROR_NOT_SUPPORTED,
            L"Offline Windows volumes cannot be opened yet: this build cannot read registry hives"};
}

}  // namespace Branwick::Platform
