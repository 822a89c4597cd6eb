// The options page of the settings tab: the general options (each saved at the click), the scan
// categories a scan starts with, and where this target's settings, ignore list, backups and logs
// live, each a link that opens its folder.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include <array>

#include "ui/Pages/CategoryBoxes.h"
#include "ui/Pages/PageSite.h"

namespace Branwick::Wnd {

class COptionsDlg : public QWidget {
    Q_OBJECT
public:
    enum EFolder { FolderSettings = 0, FolderIgnoreList, FolderBackups, FolderLogs };

    COptionsDlg(SPageSite& site, QWidget* pParent = nullptr);

    QCheckBox* BackupBox() const { return m_pBackup; }
    QCheckBox* FixAfterScanBox() const { return m_pFixAfterScan; }
    QCheckBox* HideAfterFixBox() const { return m_pHideAfterFix; }
    QCheckBox* AutoRunBox() const { return m_pAutoRun; }
    CCategoryBoxes* Categories() const { return m_pCategories; }
    // The host folder a link opens.
    QString FolderPath(EFolder eFolder) const { return m_folders.at(static_cast<std::size_t>(eFolder)); }
    QLabel* FolderLink(EFolder eFolder) const { return m_links.at(static_cast<std::size_t>(eFolder)); }

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QCheckBox* GeneralBox(const QString& strText, DWORD dwBit);
    QWidget* MakeFolders();
    void Refresh();

    SPageSite& m_site;
    QCheckBox* m_pBackup = nullptr;
    QCheckBox* m_pFixAfterScan = nullptr;
    QCheckBox* m_pHideAfterFix = nullptr;
    QCheckBox* m_pAutoRun = nullptr;
    CCategoryBoxes* m_pCategories = nullptr;
    std::array<QString, 4> m_folders;
    std::array<QLabel*, 4> m_links{};
};

}  // namespace Branwick::Wnd
