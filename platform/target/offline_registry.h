// Private to platform/target: where the target reaches the registry of an offline Windows volume.
#pragma once

#include <string>

#include "platform/registry/registry.h"

namespace Branwick::Platform {

// The registry of the Windows installation on the volume mounted at strVolume, with strUser's
// profile as HKEY_CURRENT_USER: the machine hives of Windows/System32/config, the user's
// NTUSER.DAT and UsrClass.dat. Refused with a sentence saying why when it cannot be read.
CStatus OpenOfflineRegistry(const std::string& strVolume, const std::wstring& strUser,
                            CRegistry* pOut);

}  // namespace Branwick::Platform
