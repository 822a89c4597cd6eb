// The target's recycle bin, emptied as SHEmptyRecycleBinW(NULL, NULL, SHERB_NOCONFIRMATION |
// SHERB_NOPROGRESSUI | SHERB_NOSOUND) empties the bins of all drives.
//
// Where the bin is:
//   Wine prefix, test target  Wine puts what a program deletes to the bin into the Linux user's
//                             desktop trash (DataHome()/Trash, platform/desktop). Only the entries whose original
//                             location (the Path= of their .trashinfo) lies in the target's own
//                             folders are removed; the user's other trashed files are never touched.
//   offline volume            every user's bin on the volume: $Recycle.Bin\<SID>\ (Vista on) and
//                             RECYCLER\<SID>\ (older Windows). Each bin's desktop.ini stays.
// A symbolic link met on the way is removed as a link, never followed.
//
// Threads: the functions keep no state; two calls must not empty the same bin at once.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace Branwick::Platform {

class CTarget;

// Empties the target's bin. S_OK when every entry concerned was removed, also when there was none;
// else the HRESULT of the first entry that could not be removed (the others are removed anyway).
HRESULT EmptyRecycleBin(const CTarget& target);

// Removes the entries of the desktop trash in strTrash whose original location lies in one of
// vcOwnFolders (host folders; links on the way to either side are resolved), with their
// .trashinfo files and their lines in the trash's directorysizes cache. Results as EmptyRecycleBin.
HRESULT EmptyDesktopTrash(const std::string& strTrash, const std::vector<std::string>& vcOwnFolders);

// Empties every user's bin on the Windows volume mounted at strVolume. Results as EmptyRecycleBin.
HRESULT EmptyVolumeRecycleBins(const std::string& strVolume);

}  // namespace Branwick::Platform
