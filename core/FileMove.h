// Moving a file that a fix removes into its backup, and back again on restore, so that a crash at
// any instant leaves the file in its place, in the backup, or (for a moment) in both; never in
// neither.
#pragma once

#include <string>

#include "platform/files/files.h"

namespace Branwick {

// Moves the file strFrom to strTo (Windows paths in the target; strTo's folder must exist). An
// existing strTo is never replaced (ERROR_ALREADY_EXISTS). On one host file system this is a
// rename; across two it is a complete copy (written and synced before it takes its name), after
// which the original is deleted. Errors as CFileSystem gives them; a failed copy leaves the
// original where it was.
CStatus MoveFileKeepingIt(Platform::CFileSystem& files, const std::wstring& strFrom,
                          const std::wstring& strTo);

}  // namespace Branwick
