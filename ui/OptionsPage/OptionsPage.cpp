#include "ui/OptionsPage/OptionsPage.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/module/module.h"

namespace Branwick::Wnd {

namespace {

// The host folder of a Windows folder of the target, also when it is not made yet; empty when
// it lies outside the target.
QString HostFolder(const Platform::CTarget& target, std::wstring strFolder) {
    while (strFolder.ends_with(L'\\')) {
        strFolder.pop_back();
    }
    std::string strHost;
    if (target.Files().HostPath(strFolder, strHost).Ok()) {
        // Through the drive links to the folder itself, as a file manager shows it.
        const QString strPath = QString::fromStdString(strHost);
        const QString strCanonical = QFileInfo(strPath).canonicalFilePath();
        return strCanonical.isEmpty() ? QDir::cleanPath(strPath) : strCanonical;
    }
    const std::size_t nSlash = strFolder.rfind(L'\\');
    if (nSlash == std::wstring::npos) {
        return {};
    }
    const QString strParent = HostFolder(target, strFolder.substr(0, nSlash));
    return strParent.isEmpty() ? strParent
                               : strParent + "/" + QString::fromStdWString(strFolder.substr(nSlash + 1));
}

}  // namespace

COptionsDlg::COptionsDlg(SPageSite& site, QWidget* pParent) : QWidget(pParent), m_site(site) {
    auto* pLayout = new QVBoxLayout(this);
    auto* pGeneral = new QGroupBox(tr("General"), this);
    auto* pGeneralLayout = new QVBoxLayout(pGeneral);
    m_pBackup = GeneralBox(tr("Back up the registry data and files before fixing"),
                           CSettings::GENERAL_BACKUP_BEFORE_FIX);
    m_pFixAfterScan = GeneralBox(tr("Fix the problems found as soon as a scan ends"),
                                 CSettings::GENERAL_FIX_AFTER_SCAN);
    m_pHideAfterFix = GeneralBox(tr("Hide the window to the tray after a fix"), CSettings::GENERAL_HIDE_AFTER_FIX);
    m_pAutoRun = new QCheckBox(tr("Start Corvane when I log in"), this);
    connect(m_pAutoRun, &QCheckBox::toggled, this, [this](bool bOn) {
        m_site.m_settings.SetAutoRun(bOn);
        // The box shows what the session will do, also when the entry could not be changed.
        if (m_site.m_settings.IsAutoRun() != bOn) {
            m_site.m_messageBox.Show(bOn ? L"The autostart entry could not be written."
                                         : L"The autostart entry could not be removed.",
                                     L"Corvane", MB_OK | MB_ICONEXCLAMATION);
            Refresh();
        }
    });
    for (QCheckBox* pBox : {m_pBackup, m_pFixAfterScan, m_pHideAfterFix, m_pAutoRun}) {
        pGeneralLayout->addWidget(pBox);
    }
    pLayout->addWidget(pGeneral);

    auto* pScan = new QGroupBox(tr("Scan these categories"), this);
    auto* pScanLayout = new QVBoxLayout(pScan);
    m_pCategories = new CCategoryBoxes(site.m_settings, pScan);
    pScanLayout->addWidget(m_pCategories);
    pLayout->addWidget(pScan);
    pLayout->addWidget(MakeFolders());
    pLayout->addStretch(1);
    Refresh();
}

QCheckBox* COptionsDlg::GeneralBox(const QString& strText, DWORD dwBit) {
    auto* pBox = new QCheckBox(strText, this);
    connect(pBox, &QCheckBox::toggled, this,
            [this, dwBit](bool bOn) { m_site.m_settings.SetGeneralFlag(dwBit, bOn); });
    return pBox;
}

QWidget* COptionsDlg::MakeFolders() {
    auto* pBox = new QGroupBox(tr("Where this target's data live"), this);
    auto* pForm = new QFormLayout(pBox);
    const Platform::CTarget& target = m_site.m_target;
    const QString strData = HostFolder(target, GetDataFolder(target));
    m_folders = {strData, strData, HostFolder(target, m_site.m_backUpManager.GetFolder()),
                 QDir::cleanPath(QString::fromStdString(Platform::GetLogsFolder()))};
    const char* kTitles[] = {"Settings:", "Ignore list:", "Backups:", "Logs:"};
    for (std::size_t i = 0; i < m_folders.size(); ++i) {
        auto* pLink = new QLabel(pBox);
        pLink->setTextFormat(Qt::RichText);
        pLink->setTextInteractionFlags(Qt::TextBrowserInteraction);
        if (m_folders[i].isEmpty()) {
            pLink->setText(tr("(outside the target)"));
        } else {
            pLink->setText(QString("<a href=\"%1\">%2</a>")
                               .arg(QUrl::fromLocalFile(m_folders[i]).toString(QUrl::FullyEncoded),
                                    m_folders[i].toHtmlEscaped()));
            pLink->setToolTip(tr("Open this folder"));
        }
        connect(pLink, &QLabel::linkActivated, this, [this, i](const QString&) {
            // A folder is made by the first file written into it; the link opens it all the same.
            QDir().mkpath(m_folders[i]);
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_folders[i]));
        });
        m_links[i] = pLink;
        pForm->addRow(tr(kTitles[i]), pLink);
    }
    return pBox;
}

void COptionsDlg::Refresh() {
    const DWORD dwGeneral = m_site.m_settings.GetGeneral();
    const std::pair<QCheckBox*, bool> states[] = {
        {m_pBackup, (dwGeneral & CSettings::GENERAL_BACKUP_BEFORE_FIX) != 0},
        {m_pFixAfterScan, (dwGeneral & CSettings::GENERAL_FIX_AFTER_SCAN) != 0},
        {m_pHideAfterFix, (dwGeneral & CSettings::GENERAL_HIDE_AFTER_FIX) != 0},
        {m_pAutoRun, m_site.m_settings.IsAutoRun()},
    };
    for (const auto& [pBox, bOn] : states) {
        const QSignalBlocker blocker(pBox);
        pBox->setChecked(bOn);
    }
}

void COptionsDlg::showEvent(QShowEvent* pEvent) {
    Refresh();
    QWidget::showEvent(pEvent);
}

}  // namespace Branwick::Wnd
