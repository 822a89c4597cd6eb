// One scan-and-fix session over a target, the workflow that the command-line program and the
// desktop program share: a scan; then the choice of what to fix by finding number; the backup
// the settings ask for; the fix; the last-scan counters, the quiet period of the fixed
// categories and the settings' save.
//
// Driving it without blocking (the desktop program). Every method but Processmessage is called
// on one thread, the one that drives the session (the interface thread). StartScan and StartFix
// return at once. The session observes the bus; when the running step has ended it calls the
// step callback on the message-runner thread. The callback must only hand over to the driving
// thread (a queued call); there the driver calls Advance(), which starts the next step (the fix
// once its backup is taken) or completes the operation, and says whether the operation is over.
// Then Findings() or FixOutcome() and LastError() hold its result. The windows follow progress
// and findings by observing the bus themselves, as before.
//
// A driver that may block (the command-line program, tests) calls Scan() or Fix(), which start,
// wait and advance until the operation is over.
//
// A fix holds the target's one-writer lock from its start to its end: while another process
// writes the target, StartFix waits a few seconds and then refuses, naming that process; what
// another process wrote before is read again before anything is changed.
//
// One operation at a time: a start while another runs is refused. The error collection belongs
// to the scan manager; the numbers of Findings() are stable until the next scan or IgnoreError.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/BackUp/BackUp.h"
#include "app/ScanManager.h"
#include "app/Settings/Settings.h"
#include "core/MessageManager.h"

namespace Branwick {

// What to fix of the last scan's findings, by their numbers in Findings().
struct SFixChoice {
    std::set<int> only;       // empty: every finding
    std::set<int> exclude;    // never these
    bool bNoBackup = false;   // no backup, whatever the settings say
};

// What a fix run did.
struct SFixOutcome {
    std::wstring strBackup;                       // the backup taken before; empty: none
    std::map<std::int32_t, SFixCount> counts;     // found and fixed by category bit
    int nSelected = 0;                            // findings chosen to be fixed
    int nLeftAlone = 0;                           // chosen, but left alone (WhyLeftAlone)
    int nFixed = 0;                               // fixed, over every category
};

class CScanSession : public IObserver {
public:
    // Subscribes to the ends of scans, backups and fixes. Construct it after the managers, so
    // that they have handled a finish message when the session hears of it. Everything given
    // must outlive the session.
    CScanSession(CMessageManager& messages, CScanManager& scanManager,
                 CBackUpManager& backUpManager, CSettings& settings);
    ~CScanSession() override;
    CScanSession(const CScanSession&) = delete;
    CScanSession& operator=(const CScanSession&) = delete;

    // Called on the runner thread whenever a step has ended; see the top of this file. Set it
    // before the first start.
    void SetStepCallback(std::function<void()> onStepEnded);

    // Starts a scan of the categories. False when it could not start (LastError says why).
    bool StartScan(DWORD dwCategories);
    // Marks the last scan's findings (state 1 chosen, 0 left alone), then starts the backup when
    // the settings ask for it and something was chosen, else the fix. False when nothing could
    // be started (LastError says why).
    bool StartFix(const SFixChoice& choice);
    // Takes the next step once the running one has ended. True when no operation runs any more
    // (the result is ready); false while one still does. Cheap to call at any time.
    bool Advance();
    // Blocks until the running operation is over.
    void Wait();

    // Start, Wait: true when the operation ran to its end; false with LastError.
    bool Scan(DWORD dwCategories);
    bool Fix(const SFixChoice& choice);

    // Whether the running step is the backup before a fix (also once it has ended, until the
    // next Advance).
    bool IsBackingUp();

    // The last scan's findings as they are numbered: category by category in bit order, each
    // in the order found, from 1.
    std::vector<std::pair<int, CRegError*>> Findings();
    // The categories of the last scan that were quiet after an earlier fix.
    DWORD QuietCategories() const;
    // Why a fix leaves the finding alone, one sentence; empty when it does not. A file that lies
    // outside the target's own folders (on a drive the prefix maps elsewhere, which the user did
    // not allow), or a key or value whose backup the registry could not take back (an offline
    // hive keeps names and data that hivex cannot write). Such findings are listed, never chosen.
    std::wstring WhyLeftAlone(const CRegError& record) const;
    // The last fix's result; complete once Advance has returned true.
    const SFixOutcome& FixOutcome() const { return m_outcome; }
    // Why the last operation failed; empty when it did not.
    const std::wstring& LastError() const { return m_strLastError; }

    void Processmessage(CMessage* pMessage) override;

private:
    enum class EStep { kNone, kScan, kBackup, kFix };

    void Begin(EStep eStep);
    bool Fail(const std::wstring& strText);
    bool LockTarget();
    bool StartEngineFix();
    bool AfterBackup();
    void AfterFix();

    CMessageManager& m_messages;
    CScanManager& m_scanManager;
    CBackUpManager& m_backUpManager;
    CSettings& m_settings;
    std::function<void()> m_onStepEnded;

    // Shared with the runner thread.
    std::mutex m_mutex;
    std::condition_variable m_ended;
    EStep m_eStep = EStep::kNone;
    bool m_bStepEnded = false;
    std::map<std::int32_t, SFixCount> m_finishCounts;

    // Held from the start of a fix (its backup included) to its end.
    Platform::CWriterLock m_writerLock;
    std::size_t m_nBackupsBefore = 0;
    SFixOutcome m_outcome;
    std::wstring m_strLastError;
};

}  // namespace Branwick
