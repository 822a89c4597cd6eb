// What the running operation works on: the sink its log lines go to, and the target whose
// registry and files it changes. Fixes (Fix.h, RegError.h) reach the target only through this,
// because they are built by a scan and run much later by a fix run or a restore that knows the
// target.
//
// Threads: one context is current per module (libfendral.so and each program hold their own copy
// of core/). An entry point (a scan, fix run, backup creation or restore) installs its context with
// a CCurrentContextScope at its start, on its own thread, before any fix, saver or scanner runs,
// and the scope removes it when the operation ends. While it is installed, any thread may read it.
// Two operations of one module must not run at the same time (the engine does not allow it
// anyway); scopes nest only in last-in, first-out order on one thread.
#pragma once

#include <string_view>

#include "core/MessageSink.h"
#include "platform/target/target.h"

namespace Branwick {

// The sink and the target of one operation. Nothing here is owned: both must outlive the scope
// that installs the context.
struct CCurrentContext {
    CMessageSink* m_pSink = nullptr;                 // null: log lines are dropped
    const Platform::CTarget* m_pTarget = nullptr;    // null: every change fails
};

// Installs a context for the lifetime of the object and puts the previous one back afterwards.
class CCurrentContextScope {
public:
    explicit CCurrentContextScope(const CCurrentContext& context);
    ~CCurrentContextScope();
    CCurrentContextScope(const CCurrentContextScope&) = delete;
    CCurrentContextScope& operator=(const CCurrentContextScope&) = delete;

private:
    const CCurrentContext* m_pPrevious;
};

// The installed context, or an empty one when none is.
const CCurrentContext& CurrentContext();

// The current target's registry; without a target, one on which every call fails
// (ERROR_INVALID_HANDLE).
const Platform::CRegistry& CurrentRegistry();
// The current target's files; null without a target.
Platform::CFileSystem* CurrentFiles();

// Posts a CLogMessage with strText to the current sink; dropped when there is none.
void PostLog(std::wstring_view strText);

}  // namespace Branwick
