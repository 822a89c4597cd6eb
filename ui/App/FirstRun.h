// The first-run flag: "FirstRun" (REG_DWORD) in the target's HKEY_LOCAL_MACHINE\Software\Corvane,
// written by whoever installs the program. A value above 0 makes this start begin with a scan.
#pragma once

#include "core/MessageSink.h"
#include "platform/target/target.h"

namespace Branwick::Wnd {

// Reads the flag (missing: 0). When it is set, resets it to 0 and writes the registry, so that
// only this start scans at once. When the registry cannot be written now (a wineserver runs, a
// file had unreadable lines, a hive is dirty) the flag is read but left as it is, and the log
// says so: the next start scans again rather than writing under a running server. True when
// the flag was set.
bool TakeFirstRun(const Platform::CTarget& target, CMessageSink& log);

}  // namespace Branwick::Wnd
