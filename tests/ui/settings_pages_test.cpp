// The pages of the settings tab on the demo prefix, through the real settings file, ignore list,
// backups folder and task folder: what they save, what a restart shows, and what the next scan
// reports after a change.
#include <QApplication>
#include <QTest>

#include <filesystem>

#include "ui/IgnoreListPage/IgnoreListPage.h"
#include "ui/OptionsPage/OptionsPage.h"
#include "ui/ScanPage/ScanStart.h"
#include "ui_fixture.h"

using namespace Branwick;
using namespace Branwick::Wnd;

namespace {

constexpr int kLong = 120000;

// The settings as the next start of the program reads them from the file.
std::unique_ptr<CSettings> Reopen(SPageSite& site) {
    CSettingsSite settingsSite;
    settingsSite.m_pTarget = &site.m_target;
    settingsSite.m_strDataFolder = GetDataFolder(site.m_target);
    return std::make_unique<CSettings>(settingsSite);
}

// The full paths of the last scan's findings.
std::set<std::wstring> FoundPaths(CScanSession& session) {
    std::set<std::wstring> paths;
    for (const auto& [nId, pRecord] : session.Findings()) {
        paths.insert(pRecord->GetFullPath());
    }
    return paths;
}

// The rows of the ignore list page under their category rows, as "category text|path".
QStringList IgnoreRows(const CIgnoreListDlg& page) {
    QStringList rows;
    for (int c = 0; c < page.List()->topLevelItemCount(); ++c) {
        const QTreeWidgetItem* pCategory = page.List()->topLevelItem(c);
        for (int r = 0; r < pCategory->childCount(); ++r) {
            rows << pCategory->text(0) + "|" + pCategory->child(r)->text(0);
        }
    }
    return rows;
}

}  // namespace

class SettingsPagesTest : public QObject {
    Q_OBJECT
    CorvaneTest::CPrivateHome m_home;

private slots:
    void EveryOptionIsSavedAtTheClickAndSurvivesARestart() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        {
            COptionsDlg page(site);
            // The defaults: a backup before each fix, nothing else.
            QVERIFY(page.BackupBox()->isChecked());
            QVERIFY(!page.FixAfterScanBox()->isChecked());
            QVERIFY(!page.HideAfterFixBox()->isChecked());
            QVERIFY(!page.AutoRunBox()->isChecked());
            QVERIFY(page.Categories()->Box(0)->isChecked());
            page.BackupBox()->click();
            page.FixAfterScanBox()->click();
            page.HideAfterFixBox()->click();
            page.AutoRunBox()->click();
            page.Categories()->Box(0)->click();   // COM/ActiveX
            page.Categories()->Box(11)->click();  // junk files
        }
        QVERIFY(std::filesystem::exists(m_home.Path().toStdString() + "/.config/autostart/corvane.desktop"));
        std::unique_ptr<CSettings> pReopened = Reopen(site);
        QCOMPARE(pReopened->GetGeneral() & 7, DWORD(CSettings::GENERAL_FIX_AFTER_SCAN | CSettings::GENERAL_HIDE_AFTER_FIX));
        QCOMPARE(pReopened->GetScanFlags(), DWORD(0xFFF & ~0x801));
        SPageSite restarted{site.m_messages,    site.m_threads,       site.m_target,    *pReopened,
                            site.m_scanManager, site.m_backUpManager, site.m_messageBox};
        COptionsDlg page(restarted);
        QVERIFY(!page.BackupBox()->isChecked());
        QVERIFY(page.FixAfterScanBox()->isChecked());
        QVERIFY(page.HideAfterFixBox()->isChecked());
        QVERIFY(page.AutoRunBox()->isChecked());
        QVERIFY(!page.Categories()->Box(0)->isChecked());
        QVERIFY(page.Categories()->Box(1)->isChecked());
        QVERIFY(!page.Categories()->Box(11)->isChecked());

        // Off again: the autostart entry goes.
        page.AutoRunBox()->click();
        QVERIFY(!std::filesystem::exists(m_home.Path().toStdString() + "/.config/autostart/corvane.desktop"));
        QVERIFY(!Reopen(site)->IsAutoRun());
    }

    void TheScanPageAndTheOptionsPageShowTheSameCategories() {
        CorvaneTest::CDemoCore core;
        QWidget window;
        auto* pOptions = new COptionsDlg(core.Site(), &window);
        auto* pStart = new CScanStart(core.Site(), &window);
        pStart->hide();
        window.show();
        pOptions->Categories()->Box(3)->click();
        QVERIFY(pStart->CategoryBox(3)->isChecked());  // hidden: not read again yet
        pOptions->hide();
        pStart->show();
        QVERIFY(!pStart->CategoryBox(3)->isChecked());
        pStart->CategoryBox(3)->click();
        pOptions->show();
        QVERIFY(pOptions->Categories()->Box(3)->isChecked());
    }

    void TheFolderLinksNameTheTargetsFolders() {
        CorvaneTest::CDemoCore core;
        COptionsDlg page(core.Site());
        const QString strPrefix = QDir(core.Prefix()).canonicalPath();
        const QString strData = page.FolderPath(COptionsDlg::FolderSettings);
        QVERIFY2(strData.startsWith(strPrefix + "/"), qPrintable(strData));
        QVERIFY2(strData.endsWith("/Application Data/Corvane"), qPrintable(strData));
        QCOMPARE(page.FolderPath(COptionsDlg::FolderIgnoreList), strData);
        QCOMPARE(page.FolderPath(COptionsDlg::FolderBackups), strData + "/Backups");
        QCOMPARE(page.FolderPath(COptionsDlg::FolderLogs), m_home.Path() + "/logs");
        // The folders a link names before anything is in them are those the files then go to.
        QVERIFY(core.Site().m_settings.Serialize(true));
        QVERIFY(QFileInfo(strData + "/settings.xml").isFile());
        for (const auto eFolder : {COptionsDlg::FolderSettings, COptionsDlg::FolderBackups, COptionsDlg::FolderLogs}) {
            QVERIFY(page.FolderLink(eFolder)->text().contains(QUrl::fromLocalFile(page.FolderPath(eFolder)).toString(QUrl::FullyEncoded)));
        }
    }

    void AnIgnoredFindingIsListedAndComesBackOnceRemoved() {
        CorvaneTest::CDemoCore core;
        SPageSite& site = core.Site();
        CScanSession& session = core.Session();
        QVERIFY(session.Scan(0xFFF));
        const auto findings = session.Findings();
        QVERIFY(findings.size() >= 2);
        // Two findings ignored as the results page does it.
        const std::wstring strFirst = findings[0].second->GetFullPath();
        const std::wstring strLast = findings.back().second->GetFullPath();
        site.m_scanManager.IgnoreError(findings[0].second->m_nScanType, findings[0].second);
        site.m_scanManager.IgnoreError(findings.back().second->m_nScanType, findings.back().second);

        QWidget window;
        auto* pPage = new CIgnoreListDlg(site, &window);
        window.show();
        QCOMPARE(IgnoreRows(*pPage).size(), 2);
        QVERIFY(IgnoreRows(*pPage).join("\n").contains(QString::fromStdWString(strFirst)));
        QVERIFY(IgnoreRows(*pPage).join("\n").contains(QString::fromStdWString(strLast)));
        QVERIFY(!pPage->RemoveButton()->isEnabled());

        QVERIFY(session.Scan(0xFFF));
        QVERIFY(!FoundPaths(session).count(strFirst));
        QVERIFY(!FoundPaths(session).count(strLast));

        // The first entry goes; the list is saved at once, so a restart does not bring it back.
        pPage->List()->setCurrentItem(pPage->List()->topLevelItem(0)->child(0));
        QVERIFY(pPage->RemoveButton()->isEnabled());
        QTest::mouseClick(pPage->RemoveButton(), Qt::LeftButton);
        QCOMPARE(IgnoreRows(*pPage).size(), 1);
        QVERIFY(!IgnoreRows(*pPage).join("\n").contains(QString::fromStdWString(strFirst)));
        {
            CIgnoreList reopened(site.m_target.Files(), GetDataFolder(site.m_target));
            std::size_t nEntries = 0;
            for (const SScanTypeInfo& info : ScanTypes()) {
                nEntries += reopened.GetCount(info.nBit);
            }
            QCOMPARE(nEntries, std::size_t(1));
        }
        QVERIFY(session.Scan(0xFFF));
        QVERIFY(FoundPaths(session).count(strFirst));
        QVERIFY(!FoundPaths(session).count(strLast));

        // A category row takes all its entries; the page is refilled when shown again.
        pPage->hide();
        CRegError* pAgain = session.Findings()[0].second;
        site.m_scanManager.IgnoreError(pAgain->m_nScanType, pAgain);
        pPage->show();
        QCOMPARE(IgnoreRows(*pPage).size(), 2);
        pPage->List()->clearSelection();
        for (int c = 0; c < pPage->List()->topLevelItemCount(); ++c) {
            pPage->List()->topLevelItem(c)->setSelected(true);
            pPage->List()->topLevelItem(c)->child(0)->setSelected(true);
        }
        pPage->RemoveSelected();
        QVERIFY(IgnoreRows(*pPage).isEmpty());
        QCOMPARE(pPage->List()->topLevelItem(0)->text(0), QString("The ignore list is empty."));
    }
};

QTEST_MAIN(SettingsPagesTest)
#include "settings_pages_test.moc"
