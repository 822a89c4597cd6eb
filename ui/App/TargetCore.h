// The application core of one target, made in the program's start-up order after the message
// manager and the thread manager (which outlive it) and destroyed in reverse.
#pragma once

#include <memory>

#include "Commons_Non_MFC/TaskScheduler/Task.h"
#include "app/Session/ScanSession.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class CTargetCore {
public:
    // Makes the settings (with the program's scheduled task), the scan manager and the backup
    // manager of the target, and the scan-and-fix session over them. Boxes of the engine and the core go to messageBox.
    CTargetCore(CMessageManager& messages, CThreadManager& threads,
                std::unique_ptr<Platform::CTarget> pTarget, IMessageBox& messageBox);
    ~CTargetCore();
    CTargetCore(const CTargetCore&) = delete;
    CTargetCore& operator=(const CTargetCore&) = delete;

    SPageSite& Site() { return *m_pSite; }
    CScanSession& Session() { return *m_pSession; }
    const Platform::CTarget& Target() const { return *m_pTarget; }

private:
    std::unique_ptr<Platform::CTarget> m_pTarget;
    std::unique_ptr<CTask> m_pTask;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CScanManager> m_pScanManager;
    std::unique_ptr<CBackUpManager> m_pBackUpManager;
    std::unique_ptr<CScanSession> m_pSession;
    std::unique_ptr<SPageSite> m_pSite;
};

}  // namespace Branwick::Wnd
