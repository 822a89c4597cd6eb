// Whether a wineserver runs for a Wine prefix. Private to platform/registry.
#pragma once

#include <string>

namespace Branwick::Platform::Reg {

// A sentence naming the wineserver that runs for the prefix at strPrefixDir, or empty when none
// does. Looks for the write lock the server holds on its folder's "lock" file (the folder is
// server-<dev>-<inode> of the prefix, under /tmp/.wine-<uid>, /run/user/<uid>/wine, or the
// folder that the prefix's "wineserver" file names), then through /proc for a wineserver whose
// working folder is that folder or whose WINEPREFIX is the prefix.
std::wstring FindRunningWineserver(const std::string& strPrefixDir);

}  // namespace Branwick::Platform::Reg
