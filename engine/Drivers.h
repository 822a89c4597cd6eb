// The three operations behind the exported entry points. Private to engine/.
#pragma once

#include <memory>

#include "core/Log.h"
#include "core/Messages.h"
#include "core/ScanThreadData.h"
#include "engine/Fendral.h"

namespace Branwick {

// Scans the categories of the flag word in their fixed order; opens "Scan.log" if needed.
void Scan(const COperation& op, DWORD dwFlags);

// Fixes the selected records of the record's collection for the categories of its flag word and
// returns the CFinishFixMessage, for the caller to post once the operation's state is put away;
// log is "Cleanup.log".
std::unique_ptr<CMessage> CleanUp(const COperation& op, CLogFile& log);

// Cleans the history items of the flag word; the cleaner posts its own progress and finish.
void CleanHistory(const COperation& op, DWORD dwFlags);

// The last act of an operation: the CFinishThreadMessage with the calling thread's id, through
// the sink (the record may be gone right after), and its log lines.
void PostFinishThread(CMessageSink* pSink, CLogFile& log);

}  // namespace Branwick
