// The program's one top-level window: the header with the target, the page buttons (Scan, Tools,
// Settings, Results), the pages, the pending-issues link and the tray icon. It drives the scan
// and fix wizard through the application core's scan session and follows the bus for the rest.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>

#include <memory>

#include "app/Session/ScanSession.h"
#include "ui/Bus/WindowObserver.h"
#include "ui/Pages/PageContainer.h"
#include "ui/ResultsPage/ResultsPage.h"
#include "ui/ScanPage/ScanPage.h"
#include "ui/Tray/Tray.h"

namespace Branwick::Wnd {

class CCorvanesDlg : public QWidget {
    Q_OBJECT
public:
    enum EPage { ScanPage = 0, ToolsPage, SettingsPage, ResultsPage };

    // bTray: whether to try the tray icon at all (tests go without).
    CCorvanesDlg(SPageSite& site, CScanSession& session, bool bTray = true, QWidget* pParent = nullptr);
    ~CCorvanesDlg() override;

    // A window command: from the tray, another instance, or the window itself.
    void OnCommand(int nCommand);
    // Start a scan once the window is first shown (a "-scan" start, a first run).
    void SetStartScanWhenShown(bool bOn) { m_bStartScanWhenShown = bOn; }
    // Switches to the page; nothing when it is already shown or its button is disabled.
    void ShowPage(int nPage);

    int CurrentPage() const { return m_pPages->currentIndex(); }
    QPushButton* PageButton(int nPage) const { return m_pageButtons[static_cast<std::size_t>(nPage)]; }
    CScanTabDlg* ScanTab() const { return m_pScanTab; }
    CResultsTab* ResultsTab() const { return m_pResultsTab; }
    CPageContainer* ToolsTab() const { return m_pTools; }
    CPageContainer* SettingsTab() const { return m_pSettings; }
    QPushButton* PendingLink() const { return m_pPending; }
    QString TargetText() const { return m_pTarget->text(); }
    CTray* Tray() const { return m_pTray.get(); }

signals:
    // The Exit command: the program is to end.
    void ExitRequested();
    // The user asked to work on another target.
    void ChangeTargetRequested();

protected:
    void showEvent(QShowEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    QWidget* MakeHeader();
    void Handle(const CMessage& message);
    void StartScan(DWORD dwCategories);
    void StartFix();
    void AfterStep();
    void ReportRefusal(const std::wstring& strWhy);
    void RefreshPending();
    void HideToTray();

    SPageSite& m_site;
    CScanSession& m_session;
    bool m_bStartScanWhenShown = false;
    bool m_bShownOnce = false;
    QLabel* m_pTarget = nullptr;
    QPushButton* m_pPending = nullptr;
    QButtonGroup m_buttons;
    std::array<QPushButton*, 4> m_pageButtons{};
    QStackedWidget* m_pPages = nullptr;
    CScanTabDlg* m_pScanTab = nullptr;
    CPageContainer* m_pTools = nullptr;
    CPageContainer* m_pSettings = nullptr;
    CResultsTab* m_pResultsTab = nullptr;
    std::unique_ptr<CTray> m_pTray;
    std::unique_ptr<CWindowObserver> m_pObserver;
};

// The window's look: light styling of the native widgets.
QString StyleSheet();
// The program's icon.
QIcon ProgramIcon();

}  // namespace Branwick::Wnd
