#include "ui/Tray/Tray.h"

#include "core/Messages.h"
#include "ui/App/CommandLine.h"

namespace Branwick::Wnd {

CTray::CTray(const QIcon& icon, CMessageManager& messages, std::function<bool()> bScanRunning,
             int nRetryMs, QObject* pParent)
    : QObject(pParent), m_icon(icon), m_messages(messages), m_bScanRunning(std::move(bScanRunning)) {
    const auto add = [this](const char* pszText, int nCommand) {
        QAction* pAction = m_menu.addAction(tr(pszText));
        connect(pAction, &QAction::triggered, this, [this, nCommand] { emit Command(nCommand); });
        return pAction;
    };
    add("&Open Corvane", kCmdOpen);
    m_pStartScan = add("&Start Scan", kCmdStartScan);
    m_pShowLastScan = add("S&how Last Scan", kCmdShowLastScan);
    m_menu.addSeparator();
    add("E&xit", kCmdExit);
    connect(&m_menu, &QMenu::aboutToShow, this, &CTray::UpdateMenu);
    m_icon.setContextMenu(&m_menu);
    m_icon.setToolTip("Corvane");
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            emit Command(kCmdOpen);
        }
    });
    m_retry.setInterval(nRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &CTray::TryAdd);
    TryAdd();
}

void CTray::TryAdd() {
    ++m_nAttempts;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_icon.show();
    }
    if (m_icon.isVisible()) {
        m_retry.stop();
        return;
    }
    m_messages.Send(std::make_unique<CLogMessage>(
        L"The tray icon could not be added: the desktop shows no system tray (attempt " +
        std::to_wstring(m_nAttempts) + L" of " + std::to_wstring(kAttempts) + L")."));
    if (m_nAttempts >= kAttempts) {
        m_retry.stop();
        emit GaveUp();
    } else if (!m_retry.isActive()) {
        m_retry.start();
    }
}

void CTray::UpdateMenu() {
    const bool bRunning = m_bScanRunning();
    m_pStartScan->setEnabled(!bRunning);
    m_pShowLastScan->setEnabled(!bRunning);
}

}  // namespace Branwick::Wnd
