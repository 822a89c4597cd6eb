// The Windows systems on this machine that the program can maintain: the Wine prefixes of every
// launcher the user may have and the Windows volumes that are mounted. The target chooser and
// "corvane-cli targets" list them.
//
// Reading a launcher's configuration that is missing, unreadable or malformed is never an error:
// that launcher simply adds nothing. Nothing here writes. Thread-safe: every call looks at the
// file system afresh and keeps no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Branwick::Platform {

enum class EFoundKind { WinePrefix, WindowsVolume };

struct SFoundTarget {
    EFoundKind eKind = EFoundKind::WinePrefix;
    std::string strSource;   // who keeps it: "WINEPREFIX", "Wine", "Steam", "Lutris", "Bottles", ...
    std::string strName;     // what the user calls it: a game, a bottle, a volume's label or folder
    std::string strFolder;   // the prefix folder or the volume's mount point, absolute
    bool b64Bit = false;     // "#arch=win64" in a prefix; a volume with SysWOW64
    std::uint64_t nBytes = 0;  // what the prefix's files take; the volume's used space
    bool bServerRunning = false;          // a wineserver runs for the prefix (a volume: never)
    std::vector<std::string> vcUsers;     // a volume's users (Users/*/NTUSER.DAT), sorted
};

// Where to look. FromEnvironment fills it from HOME, WINEPREFIX, XDG_CONFIG_HOME and
// XDG_DATA_HOME as the desktop conventions define them, and the usual mount roots; tests point
// it at a temporary folder.
struct SDiscoveryRoots {
    std::string strHome;
    std::string strWinePrefix;                 // empty: not set
    std::string strConfigHome;                 // $XDG_CONFIG_HOME or ~/.config
    std::string strDataHome;                   // $XDG_DATA_HOME or ~/.local/share
    std::vector<std::string> vcMountRoots;     // /media, /run/media, /mnt
    bool bSizes = true;                        // false: nBytes stays 0 (a listing in a hurry)

    static SDiscoveryRoots FromEnvironment();
};

// Every Wine prefix (a folder that holds "system.reg") and every mounted Windows volume (a folder
// with Windows/System32/config/SOFTWARE, names matched in any case) found from roots, each once
// (by its real path; the first source that names it wins), in this order: $WINEPREFIX, ~/.wine,
// winetricks' wineprefixes, Steam (every library of libraryfolders.vdf), Lutris, Bottles (native
// and Flatpak), Heroic, PlayOnLinux, CrossOver, then volumes. Sizes do not follow symbolic links
// (a prefix's z: drive is the whole host).
std::vector<SFoundTarget> DiscoverTargets(const SDiscoveryRoots& roots);

// The name of a kind as the listing shows it: "Wine prefix" or "Windows volume".
const char* FoundKindName(EFoundKind eKind);

}  // namespace Branwick::Platform
