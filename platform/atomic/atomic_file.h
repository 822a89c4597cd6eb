// The one way the program writes a file: the new content goes to a temporary file beside the
// target, is synced, and replaces the target by rename, and the folder is synced. A crash or kill
// at any instant leaves either the old file or the new one, never a torn one.
#pragma once

#include <string>
#include <string_view>

namespace Branwick::Platform {

// Replaces (or creates) the file at the host path `path` with `bytes`.
// An existing file keeps its permission bits; a new file gets 0644 (less the umask).
// Returns true on success. On failure returns false, leaves the target untouched, removes the
// temporary file and puts a one-sentence reason into `error`.
// Safe to call from several threads for different paths.
bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace Branwick::Platform
