#include "ui/MainWindow/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/discovery/discovery.h"
#include "ui/App/CommandLine.h"
#include "ui/BackupsPage/BackupDlg.h"
#include "ui/Bus/QtMessageBox.h"

// The resources live in a static library, whose initialiser the linker would drop.
static void InitResources() { Q_INIT_RESOURCE(corvane); }

namespace Branwick::Wnd {

QIcon ProgramIcon() {
    static const bool bInitialised = (InitResources(), true);
    (void)bInitialised;
    return QIcon(":/corvane.svg");
}

QString StyleSheet() {
    return R"(
        #header { background: #1f4e79; }
        #header QLabel { color: white; }
        #appName { font-size: 18pt; font-weight: bold; }
        #targetName { font-size: 11pt; font-weight: bold; }
        #pendingLink { color: #ffd966; border: none; text-decoration: underline; font-weight: bold; }
        #changeTarget { color: white; border: 1px solid #9dc3e6; border-radius: 3px; padding: 3px 8px; }
        #pageBar { background: #dde7f0; border-bottom: 1px solid #b4c7d9; }
        #pageButton { border: none; padding: 8px 18px; font-size: 11pt; background: transparent; }
        #pageButton:checked { background: white; border-top: 3px solid #2e75b6; color: #1f4e79; }
        #pageButton:disabled { color: #8a8a8a; }
        #pageTitle { font-size: 15pt; font-weight: bold; color: #1f4e79; }
        #pageSubtitle { font-size: 10pt; font-weight: bold; color: #404040; }
        #totalLine { font-weight: bold; }
        #primaryButton { font-weight: bold; padding: 5px 18px; }
        #subPageButton { padding: 4px 12px; }
    )";
}

namespace {

QString KindText(const Platform::CTarget& target) {
    const QString strBits = target.Is64Bit() ? QObject::tr("64-bit") : QObject::tr("32-bit");
    switch (target.Kind()) {
    case Platform::ETargetKind::WinePrefix: return QObject::tr("Wine prefix, %1").arg(strBits);
    case Platform::ETargetKind::OfflineVolume: return QObject::tr("Windows volume, %1").arg(strBits);
    default: return QObject::tr("Test target");
    }
}

}  // namespace

CCorvanesDlg::CCorvanesDlg(SPageSite& site, CScanSession& session, bool bTray, QWidget* pParent)
    : QWidget(pParent), m_site(site), m_session(session) {
    setWindowTitle("Corvane");
    setWindowIcon(ProgramIcon());
    setStyleSheet(StyleSheet());
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    pLayout->addWidget(MakeHeader());

    auto* pBar = new QWidget(this);
    pBar->setObjectName("pageBar");
    auto* pBarLayout = new QHBoxLayout(pBar);
    pBarLayout->setContentsMargins(8, 0, 8, 0);
    pBarLayout->setSpacing(0);
    // Alt+S, Alt+T, Alt+E, Alt+R switch pages from the keyboard.
    const char* kTitles[] = {"&Scan", "&Tools", "S&ettings", "&Results"};
    for (int i = 0; i < 4; ++i) {
        auto* pButton = new QPushButton(tr(kTitles[i]), pBar);
        pButton->setObjectName("pageButton");
        pButton->setCheckable(true);
        m_buttons.addButton(pButton, i);
        m_pageButtons[static_cast<std::size_t>(i)] = pButton;
        pBarLayout->addWidget(pButton);
    }
    pBarLayout->addStretch(1);
    pLayout->addWidget(pBar);

    m_pPages = new QStackedWidget(this);
    m_pScanTab = new CScanTabDlg(site, m_pPages);
    m_pTools = new CPageContainer(site, ToolsPages(), tr("No tools are available yet."), m_pPages);
    m_pSettings = new CPageContainer(site, SettingsPages(), tr("No settings pages are available yet."), m_pPages);
    m_pResultsTab = new CResultsTab(site, m_pPages);
    for (QWidget* pPage : {static_cast<QWidget*>(m_pScanTab), static_cast<QWidget*>(m_pTools),
                           static_cast<QWidget*>(m_pSettings), static_cast<QWidget*>(m_pResultsTab)}) {
        auto* pFrame = new QWidget(m_pPages);
        auto* pFrameLayout = new QVBoxLayout(pFrame);
        pFrameLayout->setContentsMargins(16, 12, 16, 12);
        pFrameLayout->addWidget(pPage);
        m_pPages->addWidget(pFrame);
    }
    pLayout->addWidget(m_pPages, 1);
    m_pageButtons[ScanPage]->setChecked(true);
    connect(&m_buttons, &QButtonGroup::idClicked, this, &CCorvanesDlg::ShowPage);

    CScanFixProgressDlg* pProgress = m_pScanTab->Progress();
    connect(m_pScanTab->Start(), &CScanStart::StartScan, this, &CCorvanesDlg::StartScan);
    connect(pProgress, &CScanFixProgressDlg::Back, this, [this] {
        RefreshPending();
        m_pScanTab->ShowStart();
    });
    connect(pProgress, &CScanFixProgressDlg::Next, this, [this] {
        RefreshPending();
        m_pScanTab->ShowStart();
        ShowPage(ResultsPage);
    });
    CResultsDlg* pResults = m_pResultsTab->Results();
    connect(pResults, &CResultsDlg::Fix, this, &CCorvanesDlg::StartFix);
    connect(pResults, &CResultsDlg::Rescan, this, [this] {
        ShowPage(ScanPage);
        m_pScanTab->ShowStart();
        StartScan(m_site.m_settings.GetScanFlags() & 0xFFF);
    });

    m_session.SetStepCallback([this] {
        QMetaObject::invokeMethod(this, &CCorvanesDlg::AfterStep, Qt::QueuedConnection);
    });
    m_pObserver = std::make_unique<CWindowObserver>(
        site.m_messages, this,
        std::initializer_list<std::int32_t>{CStartScanMessage::kType, CFinishScanMessage::kType,
                                            CFinishFixMessage::kType},
        [this](const CMessage& m) { Handle(m); });
    if (bTray) {
        m_pTray = std::make_unique<CTray>(ProgramIcon(), site.m_messages, [this] {
            return m_site.m_scanManager.IsScanning() || m_site.m_scanManager.IsFixing();
        });
        connect(m_pTray.get(), &CTray::Command, this, &CCorvanesDlg::OnCommand);
    }
    RefreshPending();
    resize(900, 640);
}

CCorvanesDlg::~CCorvanesDlg() {
    m_session.SetStepCallback(nullptr);
    m_pObserver.reset();
}

QWidget* CCorvanesDlg::MakeHeader() {
    auto* pHeader = new QWidget(this);
    pHeader->setObjectName("header");
    pHeader->setAttribute(Qt::WA_StyledBackground);
    auto* pLayout = new QHBoxLayout(pHeader);
    pLayout->setContentsMargins(14, 10, 14, 10);
    auto* pIcon = new QLabel(pHeader);
    pIcon->setPixmap(ProgramIcon().pixmap(48, 48));
    pLayout->addWidget(pIcon);
    auto* pText = new QVBoxLayout;
    auto* pName = new QLabel("Corvane", pHeader);
    pName->setObjectName("appName");
    pText->addWidget(pName);
    const Platform::CTarget& target = m_site.m_target;
    const QString strFolder = QString::fromStdString(target.Folder());
    QString strName = QFileInfo(strFolder).fileName();
    m_pTarget = new QLabel(pHeader);
    m_pTarget->setObjectName("targetName");
    m_pTarget->setTextFormat(Qt::PlainText);
    m_pTarget->setText(QString("%1  ·  %2  ·  %3").arg(strName, KindText(target), strFolder));
    m_pTarget->setToolTip(strFolder);
    pText->addWidget(m_pTarget);
    pLayout->addLayout(pText, 1);
    auto* pRight = new QVBoxLayout;
    m_pPending = new QPushButton(pHeader);
    m_pPending->setObjectName("pendingLink");
    m_pPending->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    m_pPending->setCursor(Qt::PointingHandCursor);
    m_pPending->setFlat(true);
    connect(m_pPending, &QPushButton::clicked, this, [this] { OnCommand(kCmdShowLastScan); });
    auto* pChange = new QPushButton(tr("Change Target..."), pHeader);
    pChange->setObjectName("changeTarget");
    pChange->setFlat(true);
    connect(pChange, &QPushButton::clicked, this, &CCorvanesDlg::ChangeTargetRequested);
    pRight->addWidget(pChange, 0, Qt::AlignRight);
    pRight->addWidget(m_pPending, 0, Qt::AlignRight);
    pLayout->addLayout(pRight);
    return pHeader;
}

void CCorvanesDlg::ShowPage(int nPage) {
    QPushButton* pButton = m_pageButtons.at(static_cast<std::size_t>(nPage));
    if (!pButton->isEnabled()) {
        return;
    }
    pButton->setChecked(true);
    if (m_pPages->currentIndex() != nPage) {
        m_pPages->setCurrentIndex(nPage);
    }
}

void CCorvanesDlg::OnCommand(int nCommand) {
    if (nCommand == kCmdExit) {
        emit ExitRequested();
        return;
    }
    show();
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
    if (m_pTray != nullptr) {
        m_pTray->SetTip("Corvane");
    }
    const bool bBusy = m_site.m_scanManager.IsScanning() || m_site.m_scanManager.IsFixing();
    if (nCommand == kCmdStartScan && !bBusy) {
        ShowPage(ScanPage);
        m_pScanTab->ShowStart();
        m_pScanTab->Start()->PressStart();
    } else if (nCommand == kCmdShowLastScan && !bBusy) {
        ShowPage(ResultsPage);
    }
}

void CCorvanesDlg::StartScan(DWORD dwCategories) {
    m_pResultsTab->Results()->Clear();
    if (!m_session.StartScan(dwCategories) && m_session.LastError() != m_site.m_scanManager.GetLastError()) {
        // The scan manager has shown its own failures; the session's refusal is shown here.
        m_site.m_messageBox.Show(m_session.LastError(), L"Corvane", MB_OK | MB_ICONEXCLAMATION);
    }
}

void CCorvanesDlg::StartFix() {
    const CStatus writable = m_site.m_target.Registry().CheckWritable();
    if (!writable.Ok()) {
        ReportRefusal(writable.m_strText);
        return;
    }
    SFixChoice choice;
    for (const auto& [nId, pRecord] : m_session.Findings()) {
        if (pRecord->m_nState != FIX_STATE_TO_FIX) {
            choice.exclude.insert(nId);
        }
    }
    CResultsDlg* pResults = m_pResultsTab->Results();
    pResults->Clear();
    pResults->FixButton()->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Made before the start, so that it hears of a backup that ends at once.
    auto* pBackup = new CBackupDlg(m_site, CBackupDlg::EMode::Create, {}, this);
    pBackup->setAttribute(Qt::WA_DeleteOnClose);
    const bool bStarted = m_session.StartFix(choice);
    QApplication::restoreOverrideCursor();
    if (bStarted && m_session.IsBackingUp()) {
        pBackup->open();
    } else {
        delete pBackup;
    }
    if (!bStarted) {
        pResults->Fill();
        if (m_session.LastError() != m_site.m_scanManager.GetLastError()) {
            m_site.m_messageBox.Show(m_session.LastError(), L"Corvane", MB_OK | MB_ICONEXCLAMATION);
        }
    }
}

void CCorvanesDlg::AfterStep() {
    if (!m_session.Advance()) {
        return;  // the next step (the fix after its backup) runs
    }
    if (!m_session.LastError().empty()) {
        m_pResultsTab->Results()->Fill();
        m_site.m_messageBox.Show(m_session.LastError(), L"Corvane", MB_OK | MB_ICONEXCLAMATION);
    }
    RefreshPending();
}

void CCorvanesDlg::ReportRefusal(const std::wstring& strWhy) {
    m_site.m_messageBox.Show(L"Nothing was changed, because the target cannot be written now.\n\n" + strWhy,
                             L"Corvane", MB_OK | MB_ICONEXCLAMATION);
}

void CCorvanesDlg::Handle(const CMessage& message) {
    switch (message.m_nType) {
    case CStartScanMessage::kType:
        for (const int nPage : {ToolsPage, SettingsPage, ResultsPage}) {
            m_pageButtons[static_cast<std::size_t>(nPage)]->setEnabled(false);
        }
        m_pPending->hide();
        break;
    case CFinishScanMessage::kType:
        for (QPushButton* pButton : m_pageButtons) {
            pButton->setEnabled(true);
        }
        m_pResultsTab->Results()->Fill();
        m_site.m_messages.Send(std::make_unique<CLogMessage>(
            L"Scan finished: " + std::to_wstring(m_session.Findings().size()) + L" problem(s) found."));
        // A completed scan goes straight on to the fix when the user asked for it; a cancelled
        // one waits for the user.
        if (!m_pScanTab->Progress()->IsCancelled() &&
            (m_site.m_settings.GetGeneral() & CSettings::GENERAL_FIX_AFTER_SCAN) != 0) {
            RefreshPending();
            m_pScanTab->ShowStart();
            ShowPage(ResultsPage);
            m_site.m_messages.Send(std::make_unique<CStartFixAutoMessage>());
        }
        break;
    case CFinishFixMessage::kType:
        RefreshPending();
        if ((m_site.m_settings.GetGeneral() & CSettings::GENERAL_HIDE_AFTER_FIX) != 0) {
            HideToTray();
        }
        break;
    default:
        break;
    }
}

void CCorvanesDlg::RefreshPending() {
    std::size_t nTotal = 0;
    for (const SScanTypeInfo& info : ScanTypes()) {
        nTotal += m_site.m_scanManager.GetErrorCount(info.nBit);
    }
    m_pPending->setText(tr("%1 Issues Pending Repair").arg(nTotal));
    m_pPending->setVisible(nTotal > 0);
}

void CCorvanesDlg::HideToTray() {
    // Without a tray icon a hidden window could not be brought back.
    if (m_pTray != nullptr && m_pTray->HasIcon()) {
        hide();
    } else {
        showMinimized();
    }
}

void CCorvanesDlg::showEvent(QShowEvent* pEvent) {
    QWidget::showEvent(pEvent);
    if (!m_bShownOnce) {
        m_bShownOnce = true;
        if (m_bStartScanWhenShown) {
            QTimer::singleShot(0, this, [this] { OnCommand(kCmdStartScan); });
        }
    }
}

void CCorvanesDlg::closeEvent(QCloseEvent* pEvent) {
    if (m_pTray != nullptr && m_pTray->HasIcon()) {
        pEvent->ignore();
        hide();
        return;
    }
    // No tray: a hidden window would leave the program running out of reach; closing ends it.
    pEvent->accept();
    emit ExitRequested();
}

}  // namespace Branwick::Wnd
