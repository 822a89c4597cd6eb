// The history cleaner: erases the browsing and usage traces of the target's user (Internet
// Explorer's cache, history, cookies, form data and index.dat files; Firefox's cache and profile
// databases; the Windows temporary folders, the log files under the Windows folder, the recycle
// bin and the recent-documents shortcuts).
//
// Threads: runs on the worker thread of the history cleaning; the record, the sink and the target
// must outlive the call, and no other engine operation may use the target meanwhile.
#pragma once

#include "core/HistoryItems.h"
#include "core/MessageSink.h"
#include "platform/target/target.h"

namespace Branwick {

// The result codes of a CHistoryCleanerMessage.
enum HistoryResult : std::int32_t {
    HC_ERASED = 0,             // erased at once
    HC_ERASED_AT_RESTART = 1,  // in use: handed to the next start of the target
    HC_NOT_ERASED = 2,         // could neither be erased nor be handed to the next start
};

// Cleans the items of dwItems in fourteen fixed steps (Internet Explorer, Firefox, Windows; Firefox
// downloads before Firefox cookies). Posts into sink, in this order for each step: one
// CHistoryCleanerMessage per erased file, key or recycle bin, CLogMessages for what failed, and
// CGenProgressMessage(step, 14) whether or not the step's item was selected; at the end, after
// the registry changes (deleted keys, files to delete at the next start) have been saved,
// CFinishProgressMessage. A failure to save is posted as a CLogMessage.
//
// Cancellation: record.IsRunning(0) is asked before each folder entry; once it is false every
// folder cleaning stops at its next entry, while the other work of the remaining steps (single
// files, keys, the recycle bin) is still done and every message is still posted.
//
// Folder cleaning stays inside the target: a symbolic link (a junction on a Windows volume) is
// never followed or deleted, and a folder that is a link or lies outside the target is not cleaned.
// desktop.ini is never deleted.
void CleanHistoryItems(CThreadComm& record, CMessageSink& sink, const Platform::CTarget& target, DWORD dwItems);

}  // namespace Branwick
