// What the program hands to an engine operation (a scan, a fix run, a history cleaning): the
// argument record of the engine's entry points, the error collection a scan fills and a fix run
// works through, and the names under which libfendral.so exports its entry points. The program and
// libfendral.so are both built from this header, so the objects keep one layout across the module
// boundary.
#pragma once

#include <list>
#include <map>

#include "core/Log.h"
#include "core/MessageBox.h"
#include "core/MessageSink.h"
#include "core/RegError.h"

namespace Branwick::Platform {
class CTarget;
}

namespace Branwick {

// The scan manager's findings: per category bit, the records in the order they were found
// (std::list keeps its element count). The engine reads and edits it only during a fix run, while
// nothing else touches it.
using CErrorCollection = std::map<ScanType, std::list<CRegError>>;

// The engine's entry points: thread procedures that take the CScanThreadData and return 0.
inline constexpr char kFendralScan[] = "FendralScan";
inline constexpr char kFendralCleanUp[] = "FendralCleanUp";
inline constexpr char kFendralCleanHistory[] = "FendralCleanHistory";

// The argument record of an engine operation. The program creates it; the thread manager owns it
// and destroys it when the operation's thread is dropped, which may happen as soon as the engine
// has posted its CFinishThreadMessage: the engine does not touch the record after that.
//
// The records of the collection run the code of the module that made them; the fix run hands
// them the target and the sink when it fixes them, so that code needs no state of its module.
class CScanThreadData : public CThreadComm {
public:
    // pSink, pContext, pTarget and pMessageBox are not owned and must outlive the operation.
    // pContext may be null for a scan and a history cleaning. pMessageBox is where the engine shows
    // its message boxes (the program's dialog); null leaves the engine's own default (stderr).
    CScanThreadData(CMessageSink* pSink, CErrorCollection* pContext, DWORD dwFlags,
                    const Platform::CTarget* pTarget, IMessageBox* pMessageBox = nullptr)
        : m_pSink(pSink), m_pContext(pContext), m_dwFlags(dwFlags), m_pTarget(pTarget),
          m_pMessageBox(pMessageBox) {}

    CMessageSink* m_pSink;
    // The error collection: what a scan fills and a fix run works through (the name is the
    // record's historic one; both modules build against this layout).
    CErrorCollection* m_pContext;
    // Scan: the ScanType bits to scan; fix run: the bits whose selected records are fixed;
    // history cleaning: the history item bits.
    DWORD m_dwFlags;
    // Two log writers that stay closed; the engine does not use them.
    CLogFile m_logFile1;
    CLogFile m_logFile2;
    const Platform::CTarget* m_pTarget;
    IMessageBox* m_pMessageBox;
};

}  // namespace Branwick
