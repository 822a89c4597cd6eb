#include "platform/target/offline_registry.h"

namespace Branwick::Platform {

CStatus OpenOfflineRegistry(const std::string& strVolume, const std::wstring& strUser,
                            CRegistry* pOut) {
    return CRegistry::OpenOfflineVolume(strVolume, strUser, pOut);
}

}  // namespace Branwick::Platform
