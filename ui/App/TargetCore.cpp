#include "ui/App/TargetCore.h"

#include "platform/desktop/desktop.h"

namespace Branwick::Wnd {

CTargetCore::CTargetCore(CMessageManager& messages, CThreadManager& threads,
                         std::unique_ptr<Platform::CTarget> pTarget, IMessageBox& messageBox)
    : m_pTarget(std::move(pTarget)), m_pTask(std::make_unique<CTask>()) {
    const std::wstring strDataFolder = GetDataFolder(*m_pTarget);
    CSettingsSite site;
    site.m_pTarget = m_pTarget.get();
    site.m_strDataFolder = strDataFolder;
    site.m_pSink = messages.GetSink();
    site.m_strProgramPath = Platform::GetProgramPath();
    site.m_pTask = m_pTask.get();
    m_pSettings = std::make_unique<CSettings>(site);
    m_pScanManager =
        std::make_unique<CScanManager>(messages, threads, *m_pTarget, strDataFolder, &messageBox);
    m_pBackUpManager = std::make_unique<CBackUpManager>(messages, threads, *m_pScanManager,
                                                        *m_pTarget, strDataFolder);
    m_pSession = std::make_unique<CScanSession>(messages, *m_pScanManager, *m_pBackUpManager, *m_pSettings);
    m_pSite.reset(new SPageSite{messages, threads, *m_pTarget, *m_pSettings, *m_pScanManager,
                                *m_pBackUpManager, messageBox});
}

CTargetCore::~CTargetCore() {
    m_pSite.reset();
    m_pSession.reset();
    m_pBackUpManager.reset();
    m_pScanManager.reset();
    m_pSettings.reset();
}

}  // namespace Branwick::Wnd
