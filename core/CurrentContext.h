// What the running operation works on: the sink its log lines go to, and the target's registry and
// files. Fixes (Fix.h, RegError.h) reach the target only through this, because they are built by a
// scan and run much later by a fix run or a restore that knows the target.
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
#include "platform/files/files.h"
#include "platform/registry/registry.h"

namespace Branwick {

// The target and the sink of one operation. Nothing here is owned: sink and file system must
// outlive the scope that installs the context; the registry is a shared handle.
struct CCurrentContext {
    CMessageSink* m_pSink = nullptr;              // null: log lines are dropped
    Platform::CRegistry m_registry;               // invalid: every registry call fails (6)
    Platform::CFileSystem* m_pFiles = nullptr;    // null: every file deletion fails
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

// The installed context, or an empty one (no sink, no registry, no files) when none is.
const CCurrentContext& CurrentContext();

// Posts a CLogMessage with strText to the current sink; dropped when there is none.
void PostLog(std::wstring_view strText);

}  // namespace Branwick
